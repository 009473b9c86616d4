// Growable arrays of pointers in insertion order.
//
// PointerList does not own its elements: the render device's resource list
// uses it to refer to objects that live elsewhere. OwningPointerList owns
// its elements and deletes each one as it is removed, front to back, which
// is how the event sequencer gives up its events.
//
// Both grow to count + max(count, 1) when full, so the capacity follows the
// same steps whatever the standard library's own growth rule is. A failed
// allocation throws std::bad_alloc like any other container.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

#include "common/NonCopyable.h"

namespace pointer_list {

// Makes room for one more element the way both lists grow.
template <typename Vector>
void GrowForOneMore(Vector& items)
{
    if (items.size() < items.capacity()) return;
    items.reserve(items.size() + std::max<std::size_t>(items.size(), 1));
}

}  // namespace pointer_list

template <typename T>
class PointerList : NonCopyable {
public:
    PointerList() = default;

    void Add(T* item)
    {
        pointer_list::GrowForOneMore(items_);
        items_.push_back(item);
    }

    // Removes the element at index; later elements shift down. An index out
    // of range changes nothing.
    void RemoveAt(int index)
    {
        if (index < 0 || index >= Count()) return;
        items_.erase(items_.begin() + index);
    }

    // Empties the list; its storage is kept for the next elements.
    void Clear() { items_.clear(); }

    // Replaces the elements with those of other, in its order.
    void Assign(const PointerList& other)
    {
        Clear();
        for (T* item : other) Add(item);
    }

    // The index of the first element equal to item, or -1.
    int IndexOf(const T* item) const
    {
        auto found = std::find(items_.begin(), items_.end(), item);
        return found == items_.end() ? -1 : static_cast<int>(found - items_.begin());
    }

    int Count() const { return static_cast<int>(items_.size()); }
    int Capacity() const { return static_cast<int>(items_.capacity()); }
    T* operator[](int index) const { return items_[static_cast<std::size_t>(index)]; }
    T* At(int index) const { return (index >= 0 && index < Count()) ? (*this)[index] : nullptr; }

    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    std::vector<T*> items_;
};

template <typename T>
class OwningPointerList : NonCopyable {
public:
    OwningPointerList() = default;
    ~OwningPointerList() { Clear(); }

    // Takes the element over; a null pointer is kept as an empty slot.
    void Add(std::unique_ptr<T> item)
    {
        pointer_list::GrowForOneMore(items_);
        items_.push_back(std::move(item));
    }

    // Deletes the element at index; later elements shift down. An index out
    // of range changes nothing.
    void RemoveAt(int index)
    {
        if (index < 0 || index >= Count()) return;
        items_[static_cast<std::size_t>(index)].reset();
        items_.erase(items_.begin() + index);
    }

    // Deletes every element, front to back, then empties the list.
    void Clear()
    {
        for (auto& item : items_) item.reset();
        items_.clear();
    }

    // The index of the first element that is item, or -1.
    int IndexOf(const T* item) const
    {
        for (std::size_t i = 0; i < items_.size(); ++i)
            if (items_[i].get() == item) return static_cast<int>(i);
        return -1;
    }

    int Count() const { return static_cast<int>(items_.size()); }
    int Capacity() const { return static_cast<int>(items_.capacity()); }
    T* operator[](int index) const { return items_[static_cast<std::size_t>(index)].get(); }
    T* At(int index) const { return (index >= 0 && index < Count()) ? (*this)[index] : nullptr; }

    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    std::vector<std::unique_ptr<T>> items_;
};

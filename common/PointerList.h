// Growable arrays of raw pointers in insertion order.
//
// PointerList does not own its elements: the render device's resource list
// and the world's recording list use it to refer to objects that live
// elsewhere. OwningPointerList deletes each element as it is removed, front
// to back, which is how the event sequencer gives up its events.
#pragma once

#include <cstdlib>
#include <cstring>
#include <new>

template <typename T>
class PointerList {
public:
    PointerList() = default;
    PointerList(const PointerList&) = delete;
    PointerList& operator=(const PointerList&) = delete;

    virtual ~PointerList()
    {
        // Derived lists have already emptied themselves; this only frees the storage.
        count_ = 0;
        std::free(items_);
        items_ = nullptr;
        capacity_ = 0;
    }

    // Appends; when full the capacity grows to count + max(count, 1).
    virtual bool Add(T* item)
    {
        if (count_ == capacity_) {
            int grown = count_ + (count_ > 0 ? count_ : 1);
            void* storage = std::realloc(static_cast<void*>(items_), sizeof(T*) * static_cast<std::size_t>(grown));
            if (storage == nullptr) return false;
            items_ = static_cast<T**>(storage);
            capacity_ = grown;
        }
        items_[count_++] = item;
        return true;
    }

    // Removes the element at index; later elements shift down.
    virtual void RemoveAt(int index)
    {
        if (index < 0 || index >= count_) return;
        std::memmove(static_cast<void*>(items_ + index), static_cast<const void*>(items_ + index + 1),
                     sizeof(T*) * static_cast<std::size_t>(count_ - index - 1));
        --count_;
    }

    virtual void Clear()
    {
        while (count_ > 0) RemoveAt(0);
    }

    virtual void Assign(const PointerList& other)
    {
        Clear();
        for (int i = 0; i < other.count_; ++i) Add(other.items_[i]);
    }

    virtual int IndexOf(const T* item) const
    {
        for (int i = 0; i < count_; ++i)
            if (items_[i] == item) return i;
        return -1;
    }

    int Count() const { return count_; }
    int Capacity() const { return capacity_; }
    T* operator[](int index) const { return items_[index]; }
    T* At(int index) const { return (index >= 0 && index < count_) ? items_[index] : nullptr; }

    T** begin() const { return items_; }
    T** end() const { return items_ + count_; }

protected:
    // The element slot is left as it is; used by OwningPointerList before it deletes.
    T** items_ = nullptr;
    int count_ = 0;
    int capacity_ = 0;
};

template <typename T>
class OwningPointerList : public PointerList<T> {
public:
    ~OwningPointerList() override { OwningPointerList::Clear(); }

    void RemoveAt(int index) override
    {
        if (index < 0 || index >= this->count_) return;
        delete this->items_[index];
        PointerList<T>::RemoveAt(index);
    }

    void Clear() override
    {
        while (this->count_ > 0) RemoveAt(0);
    }
};

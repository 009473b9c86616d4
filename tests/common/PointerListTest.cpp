#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/PointerList.h"

namespace {

TEST(PointerList, GrowsToCountPlusCountAndKeepsOrder)
{
    PointerList<int> list;
    int values[9] = {};
    std::vector<int> capacities;
    for (int& v : values) {
        list.Add(&v);
        capacities.push_back(list.Capacity());
    }
    // 1, 2, 4, 4, 8, 8, 8, 8, 16: count + max(count, 1) each time it is full.
    EXPECT_EQ(capacities, (std::vector<int>{1, 2, 4, 4, 8, 8, 8, 8, 16}));
    for (int i = 0; i < 9; ++i) EXPECT_EQ(list[i], &values[i]);
}

TEST(PointerList, RemoveAtShiftsAndIndexOfFindsFirst)
{
    PointerList<int> list;
    int a = 0, b = 0, c = 0;
    list.Add(&a);
    list.Add(&b);
    list.Add(&c);
    list.Add(&b);
    list.RemoveAt(0);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list[0], &b);
    EXPECT_EQ(list[1], &c);
    EXPECT_EQ(list.IndexOf(&b), 0);
    EXPECT_EQ(list.IndexOf(&a), -1);
    list.RemoveAt(7);  // out of range: nothing happens
    list.RemoveAt(-1);
    EXPECT_EQ(list.Count(), 3);

    PointerList<int> copy;
    copy.Add(&a);
    copy.Assign(list);
    ASSERT_EQ(copy.Count(), 3);
    EXPECT_EQ(copy[2], &b);
}

struct Tracked {
    Tracked(std::vector<std::string>& log, std::string name) : log_(log), name_(std::move(name)) {}
    virtual ~Tracked() { log_.push_back(name_); }
    std::vector<std::string>& log_;
    std::string name_;
};

TEST(OwningPointerList, DeletesFrontToBackOnClearAndDestruction)
{
    std::vector<std::string> log;
    {
        OwningPointerList<Tracked> list;
        list.Add(std::make_unique<Tracked>(log, "first"));
        list.Add(std::make_unique<Tracked>(log, "second"));
        list.Add(std::make_unique<Tracked>(log, "third"));
        list.RemoveAt(1);
        EXPECT_EQ(log, (std::vector<std::string>{"second"}));
    }
    EXPECT_EQ(log, (std::vector<std::string>{"second", "first", "third"}));
}

TEST(PointerList, DoesNotOwnItsElements)
{
    std::vector<std::string> log;
    Tracked kept(log, "kept");
    {
        PointerList<Tracked> list;
        list.Add(&kept);
        list.Clear();
        EXPECT_EQ(list.Count(), 0);
    }
    EXPECT_TRUE(log.empty());
}

}  // namespace

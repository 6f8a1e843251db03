#include "LockedList.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

// Counts its own destructions, so that the tests see what the list deletes.
struct Item {
    explicit Item(int v, int* counter) : value(v), deaths(counter) {}
    virtual ~Item() { ++*deaths; }
    int value;
    int* deaths;
};

std::vector<int> Values(const CLockedList<Item>& list)
{
    std::vector<int> out;
    list.ForEach([&](const Item& i) { out.push_back(i.value); });
    return out;
}

} // namespace

TEST(LockedList, KeepsInsertionOrderAndOwnsItsObjects)
{
    int deaths = 0;
    {
        CLockedList<Item> list;
        EXPECT_EQ(list.Front(), nullptr);
        EXPECT_EQ(list.PopFront(), nullptr);
        for (int i = 1; i <= 3; ++i)
            list.PushBack(new Item(i, &deaths));
        list.PushBack(nullptr);
        EXPECT_EQ(list.Count(), 3u);
        EXPECT_EQ(list.Front()->value, 1);
        EXPECT_EQ(Values(list), (std::vector<int>{1, 2, 3}));
    }
    EXPECT_EQ(deaths, 3); // the destructor deleted what was left
}

TEST(LockedList, PopFrontHandsTheObjectToTheCaller)
{
    int deaths = 0;
    CLockedList<Item> list;
    list.PushBack(new Item(1, &deaths));
    list.PushBack(new Item(2, &deaths));
    Item* first = list.PopFront();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->value, 1);
    EXPECT_EQ(list.Count(), 1u);
    EXPECT_EQ(deaths, 0);
    delete first;
    list.Clear();
    EXPECT_EQ(deaths, 2);
    EXPECT_EQ(list.Count(), 0u);
}

TEST(LockedList, RemoveDeletesOnlyWhatItHolds)
{
    int deaths = 0;
    CLockedList<Item> list;
    Item* a = new Item(1, &deaths);
    list.PushBack(a);
    list.PushBack(new Item(2, &deaths));
    EXPECT_TRUE(list.Remove(a));
    EXPECT_EQ(deaths, 1);
    EXPECT_EQ(Values(list), (std::vector<int>{2}));

    // An object the list does not hold (or no longer holds) stays its owner's.
    Item stranger(3, &deaths);
    EXPECT_FALSE(list.Remove(&stranger));
    EXPECT_FALSE(list.Remove(nullptr));
    EXPECT_EQ(deaths, 1);
    EXPECT_EQ(list.Count(), 1u);
}

TEST(LockedList, KeepIfDeletesTheOthersInOnePass)
{
    int deaths = 0;
    CLockedList<Item> list;
    for (int i = 0; i < 10; ++i)
        list.PushBack(new Item(i, &deaths));
    int calls = 0;
    std::size_t kept = list.KeepIf([&](const Item& i) {
        ++calls;
        return i.value % 3 == 0;
    });
    EXPECT_EQ(calls, 10);
    EXPECT_EQ(kept, 4u);
    EXPECT_EQ(deaths, 6);
    EXPECT_EQ(Values(list), (std::vector<int>{0, 3, 6, 9}));
}

TEST(LockedList, GuardsConcurrentUse)
{
    int deaths = 0;
    CLockedList<Item> list;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i)
                list.PushBack(new Item(t * 1000 + i, &deaths));
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(list.Count(), 2000u);
    std::lock_guard<std::recursive_mutex> outer(list.Mutex()); // re-entrant: operations still work
    EXPECT_EQ(list.Count(), 2000u);
}

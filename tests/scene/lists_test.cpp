#include <gtest/gtest.h>

#include <vector>

#include "scene/lists.h"

namespace {

struct Item {
    B3DListNode link;
    int value;
};

std::vector<int> Values(const B3DList* list) {
    std::vector<int> out;
    for (Item* i = B3D_First<Item>(list); i; i = B3D_Next(i)) out.push_back(i->value);
    return out;
}

TEST(SceneLists, EmptyHeaderPointsAtItsOwnWords) {
    B3DList list;
    B3D_ListInit(&list);
    EXPECT_EQ(reinterpret_cast<void*>(list.head), reinterpret_cast<void*>(&list.tail));
    EXPECT_EQ(list.tail, nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(list.tailPred), reinterpret_cast<void*>(&list.head));
    EXPECT_TRUE(B3D_ListIsEmpty(&list));
    EXPECT_EQ(B3D_ListFirst(&list), nullptr);
    EXPECT_EQ(B3D_ListLast(&list), nullptr);
}

TEST(SceneLists, AppendPrependRemoveAndWalkBothWays) {
    B3DList list;
    B3D_ListInit(&list);
    Item a{{}, 1}, b{{}, 2}, c{{}, 3};
    B3D_ListAppend(&list, B3D_Node(&b));
    B3D_ListAppend(&list, B3D_Node(&c));
    B3D_ListPrepend(&list, B3D_Node(&a));
    EXPECT_EQ(Values(&list), (std::vector<int>{1, 2, 3}));
    // The last node's next points at the header's tail word.
    EXPECT_EQ(reinterpret_cast<void*>(c.link.next), reinterpret_cast<void*>(&list.tail));
    EXPECT_EQ(B3D_ListLast(&list), B3D_Node(&c));
    EXPECT_EQ(B3D_ListPrev(B3D_Node(&a)), nullptr);
    EXPECT_EQ(B3D_ListPrev(B3D_Node(&c)), B3D_Node(&b));

    B3D_ListRemove(B3D_Node(&a));
    B3D_ListRemove(B3D_Node(&c));
    B3D_ListRemove(B3D_Node(&c));  // not linked: left alone
    EXPECT_EQ(Values(&list), (std::vector<int>{2}));
    B3D_ListRemove(B3D_Node(&b));
    EXPECT_TRUE(B3D_ListIsEmpty(&list));
    EXPECT_EQ(reinterpret_cast<void*>(list.tailPred), reinterpret_cast<void*>(&list.head));
}

TEST(SceneLists, BubbleSortEndsSortedFromTheGivenNode) {
    B3DList list;
    B3D_ListInit(&list);
    std::vector<Item> items = {{{}, 9}, {{}, 3}, {{}, 7}, {{}, 1}, {{}, 8}, {{}, 2}};
    for (Item& i : items) B3D_ListAppend(&list, B3D_Node(&i));
    // The first node stays where it is; the rest is sorted descending.
    B3D_BubbleSort<Item>(B3D_ListNext(B3D_Node(&items[0])),
                         [](const Item* a, const Item* b) { return a->value < b->value; });
    EXPECT_EQ(Values(&list), (std::vector<int>{9, 8, 7, 3, 2, 1}));
}

}  // namespace

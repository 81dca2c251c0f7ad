// The scene engine's lists: doubly linked, with a three-word header (head, a
// tail word that is always null, tail-predecessor). The header doubles as two
// sentinel nodes: at the head word (its next is the head) and at the tail word
// (its next is the null tail word, its previous the tail-predecessor). Links
// are read and written only as pointer objects at those addresses, so the
// overlay never needs a node object where the header is.
#pragma once

#include <cstddef>
#include <cstdint>

// A record that is linked begins with these two words.
struct B3DListNode {
    B3DListNode* next;
    B3DListNode* prev;
};

struct B3DList {
    B3DListNode* head;
    B3DListNode* tail;  // always null
    B3DListNode* tailPred;
};

static_assert(offsetof(B3DListNode, next) == 0);
static_assert(offsetof(B3DList, tail) == offsetof(B3DList, head) + offsetof(B3DListNode, prev));
static_assert(offsetof(B3DList, tailPred) == offsetof(B3DList, tail) + offsetof(B3DListNode, prev));

// Empty: head = the tail word, tail-predecessor = the header.
void B3D_ListInit(B3DList* list);
bool B3D_ListIsEmpty(const B3DList* list);
void B3D_ListAppend(B3DList* list, B3DListNode* node);
void B3D_ListPrepend(B3DList* list, B3DListNode* node);
// Links node in front of pos (a linked node).
void B3D_ListInsertBefore(B3DListNode* pos, B3DListNode* node);
// Moves every node of from onto the end of to; from becomes empty.
void B3D_ListAppendAll(B3DList* to, B3DList* from);
// Links the neighbours to each other and clears the node's links; a node that
// is not linked (null links) is left alone.
void B3D_ListRemove(B3DListNode* node);
// First node, null for an empty list.
B3DListNode* B3D_ListFirst(const B3DList* list);
// Last node, null for an empty list.
B3DListNode* B3D_ListLast(const B3DList* list);
// The node after / before, null at the end / start.
B3DListNode* B3D_ListNext(const B3DListNode* node);
B3DListNode* B3D_ListPrev(const B3DListNode* node);
int32_t B3D_ListCount(const B3DList* list);

// Typed walks over lists whose records begin with their links.
template <class T>
T* B3D_First(const B3DList* list) {
    return reinterpret_cast<T*>(B3D_ListFirst(list));
}
template <class T>
T* B3D_Next(const T* rec) {
    return reinterpret_cast<T*>(B3D_ListNext(reinterpret_cast<const B3DListNode*>(rec)));
}
template <class T>
B3DListNode* B3D_Node(T* rec) {
    return reinterpret_cast<B3DListNode*>(rec);
}

// Bubble sort from a node to the end of its list: neighbours are swapped
// while outOfOrder(a, b); each pass ends where the previous pass last swapped,
// and the sort ends with a pass that swaps nothing.
template <class T, class F>
void B3D_BubbleSort(B3DListNode* from, F outOfOrder) {
    B3DListNode* stop = nullptr;  // the carried node of the last swap is in its place
    for (;;) {
        B3DListNode* lastSwap = nullptr;
        for (B3DListNode* a = from; a;) {
            B3DListNode* b = B3D_ListNext(a);
            if (!b || b == stop) break;
            if (outOfOrder(reinterpret_cast<T*>(a), reinterpret_cast<T*>(b))) {
                B3D_ListRemove(b);
                B3D_ListInsertBefore(a, b);
                if (a == from) from = b;
                lastSwap = a;
            } else {
                a = b;
            }
        }
        if (!lastSwap) return;
        stop = lastSwap;
    }
}

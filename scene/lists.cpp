#include "scene/lists.h"

namespace {
// The link words of whatever sits at p: a record's links, or the header's
// words when p is one of its two sentinel addresses. Both are objects of type
// B3DListNode*, so reading and writing them through these slots is defined.
B3DListNode** NextSlot(B3DListNode* p) { return reinterpret_cast<B3DListNode**>(p); }
B3DListNode** PrevSlot(B3DListNode* p) {
    return reinterpret_cast<B3DListNode**>(reinterpret_cast<char*>(p) + offsetof(B3DListNode, prev));
}
B3DListNode* HeadSentinel(B3DList* list) { return reinterpret_cast<B3DListNode*>(&list->head); }
B3DListNode* TailSentinel(B3DList* list) { return reinterpret_cast<B3DListNode*>(&list->tail); }
B3DListNode* TailSentinel(const B3DList* list) { return TailSentinel(const_cast<B3DList*>(list)); }
B3DListNode* HeadSentinel(const B3DList* list) { return HeadSentinel(const_cast<B3DList*>(list)); }
}  // namespace

void B3D_ListInit(B3DList* list) {
    list->head = TailSentinel(list);
    list->tail = nullptr;
    list->tailPred = HeadSentinel(list);
}

bool B3D_ListIsEmpty(const B3DList* list) { return list->head == TailSentinel(list); }

void B3D_ListAppend(B3DList* list, B3DListNode* node) {
    B3DListNode* last = list->tailPred;
    node->prev = last;
    node->next = TailSentinel(list);
    *NextSlot(last) = node;
    list->tailPred = node;
}

void B3D_ListPrepend(B3DList* list, B3DListNode* node) {
    B3DListNode* first = list->head;
    node->next = first;
    node->prev = HeadSentinel(list);
    *PrevSlot(first) = node;
    list->head = node;
}

void B3D_ListInsertBefore(B3DListNode* pos, B3DListNode* node) {
    B3DListNode* before = pos->prev;
    node->next = pos;
    node->prev = before;
    *NextSlot(before) = node;
    pos->prev = node;
}

void B3D_ListAppendAll(B3DList* to, B3DList* from) {
    while (B3DListNode* n = B3D_ListFirst(from)) {
        B3D_ListRemove(n);
        B3D_ListAppend(to, n);
    }
}

void B3D_ListRemove(B3DListNode* node) {
    if (!node->next || !node->prev) return;
    *NextSlot(node->prev) = node->next;
    *PrevSlot(node->next) = node->prev;
    node->next = nullptr;
    node->prev = nullptr;
}

B3DListNode* B3D_ListFirst(const B3DList* list) { return B3D_ListIsEmpty(list) ? nullptr : list->head; }

B3DListNode* B3D_ListLast(const B3DList* list) {
    return list->tailPred == HeadSentinel(list) ? nullptr : list->tailPred;
}

B3DListNode* B3D_ListNext(const B3DListNode* node) {
    B3DListNode* n = node->next;
    // The walk ends at the node whose next pointer's target is null: the tail word.
    return (!n || *NextSlot(n) == nullptr) ? nullptr : n;
}

B3DListNode* B3D_ListPrev(const B3DListNode* node) {
    B3DListNode* p = node->prev;
    // The head sentinel's previous word is the header's null tail word.
    return (!p || *PrevSlot(p) == nullptr) ? nullptr : p;
}

int32_t B3D_ListCount(const B3DList* list) {
    int32_t n = 0;
    for (B3DListNode* p = B3D_ListFirst(list); p; p = B3D_ListNext(p)) ++n;
    return n;
}

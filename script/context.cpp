#include "script/context.h"

SE_Context* g_SEContext = nullptr;

void SE_ListInit(SE_TaskList* list) {
    list->head.succ = &list->tail;
    list->head.pred = nullptr;
    list->tail.succ = nullptr;
    list->tail.pred = &list->head;
}

bool SE_ListIsEmpty(const SE_TaskList* list) { return list->head.succ == &list->tail; }

void SE_ListAddHead(SE_TaskList* list, SE_ListNode* node) {
    SE_ListNode* first = list->head.succ;
    node->succ = first;
    node->pred = &list->head;
    first->pred = node;
    list->head.succ = node;
}

void SE_ListAddTail(SE_TaskList* list, SE_ListNode* node) {
    SE_ListNode* last = list->tail.pred;
    node->succ = &list->tail;
    node->pred = last;
    last->succ = node;
    list->tail.pred = node;
}

void SE_ListRemove(SE_ListNode* node) {
    if (!node->succ || !node->pred) return;
    node->pred->succ = node->succ;
    node->succ->pred = node->pred;
    node->succ = nullptr;
    node->pred = nullptr;
}

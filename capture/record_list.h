// Intrusive doubly linked list with head and tail sentinels.
//
// The header holds the two sentinels: the head sentinel's successor is the
// first node and its predecessor is null; the tail sentinel's predecessor is
// the last node and its successor is null. So no operation needs a special
// case for the ends: a node is the tail sentinel exactly when its successor
// is null and the head sentinel exactly when its predecessor is null. (The
// two sentinels are kept as two whole nodes rather than folded into three
// overlapping pointers: that overlap reads one object through another type,
// which the optimiser is entitled to, and does, miscompile.)
// A node that is in no list links to itself. Users embed a RecordNode as the
// first member of their record.
#pragma once

struct RecordNode {
    RecordNode *next;
    RecordNode *prev;
};

struct RecordList {
    RecordNode head;  // head.next = first node, head.prev = null
    RecordNode tail;  // tail.prev = last node, tail.next = null
};

inline RecordNode *recordListHead(RecordList *list) { return &list->head; }
inline RecordNode *recordListTail(RecordList *list) { return &list->tail; }
inline RecordNode *recordListFirst(const RecordList *list) { return list->head.next; }
inline RecordNode *recordListLast(const RecordList *list) { return list->tail.prev; }

inline bool recordNodeIsHead(const RecordNode *node) { return node->prev == nullptr; }
inline bool recordNodeIsTail(const RecordNode *node) { return node->next == nullptr; }

inline void recordNodeInit(RecordNode *node) {
    node->next = node;
    node->prev = node;
}

inline void recordListInit(RecordList *list) {
    list->head.next = &list->tail;
    list->head.prev = nullptr;
    list->tail.next = nullptr;
    list->tail.prev = &list->head;
}

inline bool recordListEmpty(const RecordList *list) { return list->head.next->next == nullptr; }

// Links a self-linked node in after `where` (which may be the head sentinel).
inline void recordListInsertAfter(RecordNode *where, RecordNode *node) {
    RecordNode *following = where->next;
    node->prev = where;
    node->next = following;
    following->prev = node;
    where->next = node;
}

inline void recordListAddTail(RecordList *list, RecordNode *node) { recordListInsertAfter(list->tail.prev, node); }

// Unlinks and returns the first node, self-linked; null when the list is empty.
inline RecordNode *recordListRemoveHead(RecordList *list) {
    RecordNode *node = list->head.next;
    if (recordNodeIsTail(node)) return nullptr;
    list->head.next = node->next;
    node->next->prev = &list->head;
    recordNodeInit(node);
    return node;
}

// Empties the list at once; the former nodes stay joined in a ring. Returns
// the former first node, or null when the list was empty.
inline RecordNode *recordListDetachAll(RecordList *list) {
    if (recordListEmpty(list)) return nullptr;
    RecordNode *first = list->head.next;
    RecordNode *last = list->tail.prev;
    last->next = first;
    first->prev = last;
    recordListInit(list);
    return first;
}

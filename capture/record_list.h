// Intrusive doubly linked list with head and tail sentinels.
//
// The list header is three pointers (first, null, last). Read from `first` it
// is the head sentinel (successor = first, predecessor = null); read from the
// null cell it is the tail sentinel (successor = null, predecessor = last).
// So no operation needs a special case for the ends: a node is the tail
// sentinel exactly when its successor is null and the head sentinel exactly
// when its predecessor is null. A node that is in no list links to itself.
// Users embed a RecordNode as the first member of their record.
#pragma once

struct RecordNode {
  RecordNode* next;
  RecordNode* prev;
};

struct RecordList {
  RecordNode* first;
  RecordNode* nullLink;  // always null: shared by both sentinels
  RecordNode* last;
};

inline RecordNode* recordListHead(RecordList* list) { return reinterpret_cast<RecordNode*>(&list->first); }
inline RecordNode* recordListTail(RecordList* list) { return reinterpret_cast<RecordNode*>(&list->nullLink); }

inline bool recordNodeIsHead(const RecordNode* node) { return node->prev == nullptr; }
inline bool recordNodeIsTail(const RecordNode* node) { return node->next == nullptr; }

inline void recordNodeInit(RecordNode* node) {
  node->next = node;
  node->prev = node;
}

inline void recordListInit(RecordList* list) {
  list->first = recordListTail(list);
  list->nullLink = nullptr;
  list->last = recordListHead(list);
}

inline bool recordListEmpty(const RecordList* list) { return list->first->next == nullptr; }

// Links a self-linked node in after `where` (which may be the head sentinel).
inline void recordListInsertAfter(RecordNode* where, RecordNode* node) {
  RecordNode* following = where->next;
  node->prev = where;
  node->next = following;
  following->prev = node;
  where->next = node;
}

inline void recordListAddTail(RecordList* list, RecordNode* node) {
  recordListInsertAfter(list->last, node);
}

// Unlinks and returns the first node, self-linked; null when the list is empty.
inline RecordNode* recordListRemoveHead(RecordList* list) {
  RecordNode* node = list->first;
  if (node->next == nullptr) return nullptr;
  list->first = node->next;
  node->next->prev = recordListHead(list);
  recordNodeInit(node);
  return node;
}

// Empties the list at once; the former nodes stay joined in a ring. Returns
// the former first node, or null when the list was empty.
inline RecordNode* recordListDetachAll(RecordList* list) {
  if (recordListEmpty(list)) return nullptr;
  RecordNode* first = list->first;
  RecordNode* last = list->last;
  last->next = first;
  first->prev = last;
  recordListInit(list);
  return first;
}

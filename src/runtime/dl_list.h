// SPDX-License-Identifier: MIT
// Doubly linked list with stable positions, the base of every owned collection.
//
// The list owns its nodes, never the objects its values point to: a container that
// derives from it deletes its elements before removing them. No lock of its own: each
// container is guarded by the mutex of the class that owns it.
#ifndef OWCLIENT_RUNTIME_DL_LIST_H
#define OWCLIENT_RUNTIME_DL_LIST_H

#include <cstdint>

#include "runtime/alloc_hook.h"

namespace owc {

template <class T>
class DLList {
 public:
  struct Node {
    Node* next = nullptr;
    Node* prev = nullptr;
    T value{};
  };
  // A position is a node pointer; nullptr means no position.
  using Position = Node*;

  DLList() = default;
  DLList(const DLList&) = delete;
  DLList& operator=(const DLList&) = delete;
  virtual ~DLList() { RemoveAll(); }

  uint32_t GetCount() const { return mCount; }
  bool IsEmpty() const { return mCount == 0; }
  Position GetHeadPosition() const { return mHead; }
  Position GetTailPosition() const { return mTail; }

  // Returns the value at pos and moves pos to the next node (nullptr after the tail).
  T& GetNext(Position& pos) const {
    Node* node = pos;
    pos = node->next;
    return node->value;
  }
  T& GetAt(Position pos) const { return pos->value; }

  // Inserts after pos (at the head when pos is nullptr). Returns the new node, or
  // nullptr when memory ran out; the list is then unchanged.
  Position InsertAfter(Position pos, const T& value) {
    Node* node = NewOrNull<Node>();
    if (node == nullptr) return nullptr;
    Node* next = pos != nullptr ? pos->next : mHead;
    node->value = value;
    node->prev = pos;
    node->next = next;
    if (next != nullptr) {
      next->prev = node;
    } else {
      mTail = node;
    }
    if (pos != nullptr) {
      pos->next = node;
    } else {
      mHead = node;
    }
    ++mCount;
    return node;
  }

  Position AddTail(const T& value) { return InsertAfter(mTail, value); }

  // REQUIRES: the list is not empty.
  T RemoveHead() {
    Node* node = mHead;
    T value = node->value;
    Unlink(node);
    return value;
  }

  // Unlinks and frees the node at pos; nullptr does nothing. pos is not advanced: to
  // remove while iterating, copy the position, GetNext, then RemoveAt the copy.
  void RemoveAt(Position pos) {
    if (pos != nullptr) Unlink(pos);
  }

  void RemoveAll() {
    Node* node = mHead;
    while (node != nullptr) {
      Node* next = node->next;
      delete node;
      node = next;
    }
    mHead = mTail = nullptr;
    mCount = 0;
  }

 private:
  void Unlink(Node* node) {
    if (node->prev != nullptr) {
      node->prev->next = node->next;
    } else {
      mHead = node->next;
    }
    if (node->next != nullptr) {
      node->next->prev = node->prev;
    } else {
      mTail = node->prev;
    }
    --mCount;
    delete node;
  }

  Node* mHead = nullptr;
  Node* mTail = nullptr;
  uint32_t mCount = 0;
};

}  // namespace owc

#endif  // OWCLIENT_RUNTIME_DL_LIST_H

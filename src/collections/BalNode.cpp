#include "collections/BalCltn.h"

BalNode::BalNode(Sorted* k)
    : key(k),
      left(nullptr),
      right(nullptr),
      parent(nullptr),
      balance(kEvenHeavy) {}

BalNode::~BalNode() = default;

// The subtree walks recurse once per level; the tree's height grows with the
// logarithm of its size, so the depth stays small.

void BalNode::TreeFree() {
  if (left != nullptr) {
    left->TreeFree();
    delete left;
    left = nullptr;
  }
  if (right != nullptr) {
    right->TreeFree();
    delete right;
    right = nullptr;
  }
  balance = kEvenHeavy;
}

void BalNode::TreeFreeContents() { TreeFreeContentsExcept(nullptr); }

void BalNode::TreeFreeContentsExcept(Sorted* keep) {
  // Greatest first: the left subtree holds the later elements.
  if (left != nullptr) {
    left->TreeFreeContentsExcept(keep);
    delete left;
    left = nullptr;
  }
  if (key != keep) delete key;
  key = nullptr;
  if (right != nullptr) {
    right->TreeFreeContentsExcept(keep);
    delete right;
    right = nullptr;
  }
  balance = kEvenHeavy;
}

void BalNode::Perform(void (*fn)(Sorted*, void*, void*), void* a, void* b) {
  if (fn == nullptr) return;
  if (right != nullptr) right->Perform(fn, a, b);
  if (key != nullptr) fn(key, a, b);
  if (left != nullptr) left->Perform(fn, a, b);
}

void BalNode::dump() {
  if (right != nullptr) right->dump();
  if (key != nullptr) key->dump();
  if (left != nullptr) left->dump();
}

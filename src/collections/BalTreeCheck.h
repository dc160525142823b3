// Invariant checker for BalCltn trees, for tests. Internal: not installed.
//
// Header-only, so that test programs can use it although the library
// exports nothing from namespace btreeimg::detail.
#ifndef BTREEIMG_COLLECTIONS_BALTREECHECK_H_
#define BTREEIMG_COLLECTIONS_BALTREECHECK_H_

#include <algorithm>

#include "collections/BalCltn.h"

namespace btreeimg::detail {

// Reads the members of a node that have no public accessor.
struct BalTreeAccess {
  static const BalNode* parent(const BalNode* n) { return n->parent; }
  static const BalNode* left(const BalNode* n) { return n->left; }
  static const BalNode* right(const BalNode* n) { return n->right; }
  static Sorted* key(const BalNode* n) { return n->key; }
  static int balance(const BalNode* n) { return n->balance; }

  // Walks the subtree least element first; `previous` is the element met
  // just before it in that order (null at the start). Returns the height,
  // or -1 on the first fault.
  static int walk(const BalNode* n, const BalNode* expectedParent,
                  Sorted*& previous) {
    if (n == nullptr) return 0;
    if (n->parent != expectedParent || n->key == nullptr) return -1;
    const int lesser = walk(n->right, n, previous);
    if (lesser < 0) return -1;
    // Order: walking from the head, no element sorts before the one ahead.
    if (previous != nullptr && n->key->Compare(previous) < 0) return -1;
    previous = n->key;
    const int greater = walk(n->left, n, previous);
    if (greater < 0) return -1;
    const int expected = greater > lesser    ? BalNode::kLeftHeavy
                         : greater < lesser ? BalNode::kRightHeavy
                                            : BalNode::kEvenHeavy;
    if (greater - lesser > 1 || lesser - greater > 1) return -1;
    if (n->balance != expected) return -1;
    return 1 + std::max(greater, lesser);
  }
};

// Returns the height of the tree below `node` (a root of a subtree), or -1 if
// an element is out of order, a parent link is wrong, a node holds no
// element, a balance state is stale, or two sibling subtrees differ in
// height by more than 1. The parent of `node` itself is not checked.
inline int checkedHeight(const BalNode* node) {
  if (node == nullptr) return 0;
  Sorted* previous = nullptr;
  return BalTreeAccess::walk(node, BalTreeAccess::parent(node), previous);
}

// Counts the nodes below `node`, `node` included.
inline int countNodes(const BalNode* node) {
  if (node == nullptr) return 0;
  return 1 + countNodes(BalTreeAccess::left(node)) +
         countNodes(BalTreeAccess::right(node));
}

// Checks a whole collection: the anchor's shape (null key, null left and
// parent links, a root whose parent link is null), the tree below it, and the
// count. Returns the tree's height, or -1 on any fault.
inline int checkedHeight(BalCltn& collection) {
  const BalNode* anchor = &collection;
  if (BalTreeAccess::key(anchor) != nullptr ||
      BalTreeAccess::left(anchor) != nullptr ||
      BalTreeAccess::parent(anchor) != nullptr) {
    return -1;
  }
  const BalNode* root = BalTreeAccess::right(anchor);
  if (root != nullptr && BalTreeAccess::parent(root) != nullptr) return -1;
  if (countNodes(root) != collection.GetCount()) return -1;
  return checkedHeight(root);
}

}  // namespace btreeimg::detail

#endif  // BTREEIMG_COLLECTIONS_BALTREECHECK_H_

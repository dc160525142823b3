#include "collections/BalCltn.h"

#include <new>

#include "framework/ThrowHelpers.h"

namespace {

// The work variables of the one insertion or removal under way on this
// thread. Every Add and removal resets them before use.
//
// heightChanged: the subtree just handled has grown (insertion) or shrunk
//   (removal) by one level.
// workNode: insertion: the node just created; removal: the node to free.
// workParent: the parent to record in a node that is linked in.
// workKey: insertion: the element being added; removal: the element searched
//   for, replaced by the stored element once found.
thread_local int heightChanged = 0;
thread_local BalNode* workNode = nullptr;
thread_local BalNode* workParent = nullptr;
thread_local Sorted* workKey = nullptr;

// The longest way down that Add and Remove record; an AVL tree of 2^31
// elements is at most 45 levels high.
constexpr int kMaxPath = 64;

// Asks the memory system early for both children of `n`, one of which the
// next step down visits: they then arrive while the comparison at n waits for
// its element, instead of after it. Only a hint; it changes nothing.
inline void prefetchChildren(BalNode* n) {
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(n->Left());
  __builtin_prefetch(n->Right());
#else
  (void)n;
#endif
}

void resetWork(Sorted* key) {
  heightChanged = 0;
  workNode = nullptr;
  workParent = nullptr;
  workKey = key;
}

}  // namespace

BalCltn::BalCltn() : BalNode(nullptr), count(0) {}

BalCltn::~BalCltn() = default;

// ---------------------------------------------------------------------------
// Insertion

void* BalCltn::Add(Sorted* e) {
  if (e == nullptr) return nullptr;
  // The node is made before the tree is touched, so a failed allocation
  // leaves the collection as it was.
  BalNode* node = new (std::nothrow) BalNode(e);
  if (node == nullptr) btreeimg::detail::throwMemoryError();
  // The same steps as insert() below, in a loop: the way down is recorded
  // (the link to each node passed and the side taken), and the way back up
  // mends balance states until a subtree stops growing. It makes the same
  // comparisons, rotations and tree as the recursion, without a call and a
  // thread-local access per level.
  //
  // Step 1: down to the empty link where the node belongs.
  BalNode** path[kMaxPath];
  bool wentLeft[kMaxPath];
  int depth = 0;
  BalNode** link = &right;
  BalNode* parent = nullptr;
  while (*link != nullptr) {
    if (depth == kMaxPath) {
      // Only a tree whose links were rearranged by hand gets this deep: the
      // recursion takes it, from the root.
      resetWork(e);
      workNode = node;
      insert(&right);
      ++count;
      return node;
    }
    BalNode* n = *link;
    prefetchChildren(n);
    const bool left = e->Compare(n->key) > 0;
    path[depth] = link;
    wentLeft[depth++] = left;
    parent = n;
    link = left ? &n->left : &n->right;
  }
  *link = node;
  node->parent = parent;
  // Step 2: back up while the subtree below has grown by one level.
  while (depth > 0) {
    BalNode** at = path[--depth];
    BalNode* n = *at;
    const std::int32_t lighter = wentLeft[depth] ? kRightHeavy : kLeftHeavy;
    if (n->balance == lighter) {
      n->balance = kEvenHeavy;
      break;
    }
    if (n->balance == kEvenHeavy) {
      n->balance = wentLeft[depth] ? kLeftHeavy : kRightHeavy;
      continue;
    }
    // Two levels heavier on the side just grown: the rotation that
    // insert() makes; the subtree is back to its former height.
    if (wentLeft[depth]) {
      balanceRight(at);
    } else {
      balanceLeft(at);
    }
    break;
  }
  ++count;
  return node;
}

void BalCltn::insert(BalNode** link) {
  BalNode* n = *link;
  if (n == nullptr) {
    // workNode already holds the new node (see Add).
    *link = workNode;
    workNode->parent = workParent;
    heightChanged = 1;
    return;
  }
  workParent = n;
  if (workKey->Compare(n->key) > 0) {
    insert(&n->left);
    if (!heightChanged) return;
    if (n->balance == kRightHeavy) {
      n->balance = kEvenHeavy;
      heightChanged = 0;
    } else if (n->balance == kEvenHeavy) {
      n->balance = kLeftHeavy;
    } else {
      // Two levels heavier on the left. The left child b is not EvenHeavy
      // after a growth, and the rotation that mends this (single when b is
      // LeftHeavy, double through b's right child otherwise, the new top
      // EvenHeavy) is the one balanceRight makes for a left-heavy node. The
      // subtree is back to its height before the insertion.
      balanceRight(link);
      heightChanged = 0;
    }
  } else {
    insert(&n->right);
    if (!heightChanged) return;
    if (n->balance == kLeftHeavy) {
      n->balance = kEvenHeavy;
      heightChanged = 0;
    } else if (n->balance == kEvenHeavy) {
      n->balance = kRightHeavy;
    } else {
      // The mirror image: balanceLeft's rotation of a right-heavy node.
      balanceLeft(link);
      heightChanged = 0;
    }
  }
}

// ---------------------------------------------------------------------------
// Removal

Sorted* BalCltn::Remove(Sorted* e) {
  if (e == nullptr) return nullptr;
  // The steps of remove() and del() below in loops, with the ways down
  // recorded as in Add: the same comparisons, rotations and tree.
  //
  // A tree deeper than the recorded way can hold (links rearranged by hand)
  // is left to the recursion, before anything has changed.
  auto removeRecursively = [this](Sorted* key) {
    resetWork(key);
    remove(&right);
    if (workNode != nullptr) {
      delete workNode;
      --count;
    }
    return workKey;
  };
  // Step 1: down to the first node that matches.
  BalNode** path[kMaxPath];
  bool wentLeft[kMaxPath];
  int depth = 0;
  BalNode** link = &right;
  for (;;) {
    BalNode* n = *link;
    if (n == nullptr) return e;  // no match: nothing changes
    if (depth == kMaxPath) return removeRecursively(e);
    prefetchChildren(n);
    const int order = e->Compare(n->key);
    if (order == 0) break;
    path[depth] = link;
    wentLeft[depth++] = order > 0;
    link = order > 0 ? &n->left : &n->right;
  }
  // Step 2: unlink it, or, with two children, move the element that
  // follows it (the least of its left subtree) into it and unlink that
  // element's node instead, mending the way down to it.
  BalNode* n = *link;
  Sorted* const found = n->key;
  BalNode* freed = n;
  int& changed = heightChanged;
  if (n->right == nullptr || n->left == nullptr) {
    BalNode* child = n->right == nullptr ? n->left : n->right;
    *link = child;
    if (child != nullptr) child->parent = n->parent;
    changed = 1;
  } else {
    BalNode** followPath[kMaxPath];
    int followDepth = 0;
    BalNode** at = &n->left;
    BalNode* atParent = n;
    while ((*at)->right != nullptr) {
      if (followDepth == kMaxPath) return removeRecursively(e);
      followPath[followDepth++] = at;
      atParent = *at;
      at = &(*at)->right;
    }
    BalNode* m = *at;
    n->key = m->key;
    *at = m->left;
    if (m->left != nullptr) m->left->parent = atParent;
    freed = m;
    changed = 1;
    while (followDepth > 0 && changed) balanceRight(followPath[--followDepth]);
    if (changed) balanceLeft(link);
  }
  // Step 3: back up while the subtree below has shrunk.
  while (depth > 0 && changed) {
    --depth;
    if (wentLeft[depth]) {
      balanceLeft(path[depth]);
    } else {
      balanceRight(path[depth]);
    }
  }
  delete freed;
  --count;
  return found;
}

Sorted* BalCltn::RemoveHead() {
  if (right == nullptr) return nullptr;
  resetWork(nullptr);
  removeFirst(&right);
  delete workNode;
  --count;
  return workKey;
}

Sorted* BalCltn::RemoveTail() {
  if (right == nullptr) return nullptr;
  resetWork(nullptr);
  removeLast(&right);
  delete workNode;
  --count;
  return workKey;
}

void BalCltn::remove(BalNode** link) {
  BalNode* n = *link;
  if (n == nullptr) return;
  const int order = workKey->Compare(n->key);
  if (order > 0) {
    remove(&n->left);
    if (heightChanged) balanceLeft(link);
  } else if (order < 0) {
    remove(&n->right);
    if (heightChanged) balanceRight(link);
  } else {
    workNode = n;
    workKey = n->key;
    if (n->right == nullptr) {
      *link = n->left;
      if (n->left != nullptr) n->left->parent = n->parent;
      heightChanged = 1;
    } else if (n->left == nullptr) {
      *link = n->right;
      n->right->parent = n->parent;
      heightChanged = 1;
    } else {
      workParent = n;
      del(&n->left);
      if (heightChanged) balanceLeft(link);
    }
  }
}

void BalCltn::del(BalNode** link) {
  BalNode* m = *link;
  if (m->right != nullptr) {
    workParent = m;
    del(&m->right);
    if (heightChanged) balanceRight(link);
    return;
  }
  // m holds the element that follows the found node's: move it up into the
  // found node and free m instead.
  workNode->key = m->key;
  *link = m->left;
  if (m->left != nullptr) m->left->parent = workParent;
  workNode = m;
  heightChanged = 1;
}

void BalCltn::removeFirst(BalNode** link) {
  BalNode* n = *link;
  if (n->right != nullptr) {
    removeFirst(&n->right);
    if (heightChanged) balanceRight(link);
    return;
  }
  workNode = n;
  workKey = n->key;
  *link = n->left;
  if (n->left != nullptr) n->left->parent = n->parent;
  heightChanged = 1;
}

void BalCltn::removeLast(BalNode** link) {
  BalNode* n = *link;
  if (n->left != nullptr) {
    removeLast(&n->left);
    if (heightChanged) balanceLeft(link);
    return;
  }
  workNode = n;
  workKey = n->key;
  *link = n->right;
  if (n->right != nullptr) n->right->parent = n->parent;
  heightChanged = 1;
}

void BalCltn::balanceLeft(BalNode** link) {
  BalNode* n = *link;
  if (n->balance == kLeftHeavy) {
    n->balance = kEvenHeavy;
    return;
  }
  if (n->balance == kEvenHeavy) {
    n->balance = kRightHeavy;
    heightChanged = 0;
    return;
  }
  BalNode* b = n->right;
  const std::int32_t bState = b->balance;
  if (bState == kLeftHeavy) {
    // Double rotation: b's left child c rises over n and b.
    BalNode* c = b->left;
    const std::int32_t cState = c->balance;
    b->left = c->right;
    if (b->left != nullptr) b->left->parent = b;
    c->right = b;
    b->parent = c;
    n->right = c->left;
    if (n->right != nullptr) n->right->parent = n;
    c->left = n;
    c->parent = n->parent;
    n->parent = c;
    n->balance = cState == kRightHeavy ? kLeftHeavy : kEvenHeavy;
    b->balance = cState == kLeftHeavy ? kRightHeavy : kEvenHeavy;
    *link = c;
    c->balance = kEvenHeavy;
    return;
  }
  // Single rotation: b rises over n.
  n->right = b->left;
  if (n->right != nullptr) n->right->parent = n;
  b->left = n;
  b->parent = n->parent;
  n->parent = b;
  if (bState == kEvenHeavy) {
    n->balance = kRightHeavy;
    b->balance = kLeftHeavy;
    heightChanged = 0;
  } else {
    n->balance = kEvenHeavy;
    b->balance = kEvenHeavy;
  }
  *link = b;
}

void BalCltn::balanceRight(BalNode** link) {
  BalNode* n = *link;
  if (n->balance == kRightHeavy) {
    n->balance = kEvenHeavy;
    return;
  }
  if (n->balance == kEvenHeavy) {
    n->balance = kLeftHeavy;
    heightChanged = 0;
    return;
  }
  BalNode* b = n->left;
  const std::int32_t bState = b->balance;
  if (bState == kRightHeavy) {
    BalNode* c = b->right;
    const std::int32_t cState = c->balance;
    b->right = c->left;
    if (b->right != nullptr) b->right->parent = b;
    c->left = b;
    b->parent = c;
    n->left = c->right;
    if (n->left != nullptr) n->left->parent = n;
    c->right = n;
    c->parent = n->parent;
    n->parent = c;
    n->balance = cState == kLeftHeavy ? kRightHeavy : kEvenHeavy;
    b->balance = cState == kRightHeavy ? kLeftHeavy : kEvenHeavy;
    *link = c;
    c->balance = kEvenHeavy;
    return;
  }
  n->left = b->right;
  if (n->left != nullptr) n->left->parent = n;
  b->right = n;
  b->parent = n->parent;
  n->parent = b;
  if (bState == kEvenHeavy) {
    n->balance = kLeftHeavy;
    b->balance = kRightHeavy;
    heightChanged = 0;
  } else {
    n->balance = kEvenHeavy;
    b->balance = kEvenHeavy;
  }
  *link = b;
}

// ---------------------------------------------------------------------------
// Lookup

namespace {

// Descends from `root` asking the stored element how it compares with `key`:
// greater goes right (towards lesser elements), less goes left.
template <class Key>
BalNode* findStored(BalNode* root, Key key) {
  for (BalNode* n = root; n != nullptr;) {
    prefetchChildren(n);
    const int order = n->Key()->Compare(key);
    if (order == 0) return n;
    n = order > 0 ? n->Right() : n->Left();
  }
  return nullptr;
}

Sorted* keyOf(BalNode* node) {
  return node != nullptr ? node->Key() : nullptr;
}

}  // namespace

Sorted* BalCltn::Find(Sorted* e) {
  if (e == nullptr) return nullptr;
  return keyOf(findStored(right, e));
}

Sorted* BalCltn::Find(const char* key) {
  return keyOf(findStored(right, key));
}

Sorted* BalCltn::Find(int key) { return keyOf(findStored(right, key)); }

Sorted* BalCltn::Find(long key) { return keyOf(findStored(right, key)); }

void* BalCltn::GetKeyPosition(Sorted* e) {
  if (e == nullptr) return nullptr;
  for (BalNode* n = right; n != nullptr;) {
    const int order = e->Compare(n->key);
    if (order == 0) return n;
    n = order > 0 ? n->left : n->right;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// Positions

Sorted* BalCltn::GetAt(void* pos) {
  return pos != nullptr ? static_cast<BalNode*>(pos)->key : nullptr;
}

void* BalCltn::GetHeadPosition() {
  BalNode* n = right;
  if (n == nullptr) return nullptr;
  while (n->right != nullptr) n = n->right;
  return n;
}

void* BalCltn::GetTailPosition() {
  BalNode* n = right;
  if (n == nullptr) return nullptr;
  while (n->left != nullptr) n = n->left;
  return n;
}

Sorted* BalCltn::GetHead() { return GetAt(GetHeadPosition()); }

Sorted* BalCltn::GetTail() { return GetAt(GetTailPosition()); }

Sorted* BalCltn::GetNext(void*& pos) {
  if (pos == nullptr) return nullptr;
  BalNode* n = static_cast<BalNode*>(pos);
  Sorted* element = n->key;
  if (n->left != nullptr) {
    n = n->left;
    while (n->right != nullptr) n = n->right;
    pos = n;
    return element;
  }
  for (; n->parent != nullptr; n = n->parent) {
    if (n->parent->right == n) {
      pos = n->parent;
      return element;
    }
  }
  pos = nullptr;
  return element;
}

Sorted* BalCltn::GetPrev(void*& pos) {
  if (pos == nullptr) return nullptr;
  BalNode* n = static_cast<BalNode*>(pos);
  Sorted* element = n->key;
  if (n->right != nullptr) {
    n = n->right;
    while (n->left != nullptr) n = n->left;
    pos = n;
    return element;
  }
  for (; n->parent != nullptr; n = n->parent) {
    if (n->parent->left == n) {
      pos = n->parent;
      return element;
    }
  }
  pos = nullptr;
  return element;
}

void* BalCltn::FindIndex(int i) {
  void* pos = GetHeadPosition();
  for (int step = 0; step < i && pos != nullptr; ++step) GetNext(pos);
  return pos;
}

// ---------------------------------------------------------------------------
// Bulk release

void BalCltn::RemoveAll() {
  TreeFree();
  count = 0;
}

void BalCltn::FreeContents() {
  TreeFreeContents();
  count = 0;
}

// A height-balanced binary tree of Sorted elements (BalCltn) and its node
// (BalNode), with the access pattern of the framework's list classes.
//
// Orientation: a node's LEFT link leads to the elements that sort AFTER its
// element and its RIGHT link to those that sort before it (and to those that
// compared equal when they were added). The head (least element) is reached
// from the root by right links, the tail (greatest) by left links.
//
// Balance state of a node: 0 LeftHeavy (left subtree one level higher),
// 1 RightHeavy, 2 EvenHeavy (equal heights; every new node starts here).
//
// A BalCltn is itself a BalNode, its anchor: the anchor's key is null, its
// right link holds the root (null when empty), its left and parent links stay
// null. The root's parent link is null; it does not point at the anchor.
//
// Ownership: the collection owns its nodes. It deletes its elements only in
// FreeContents (through Sorted's virtual destructor); Remove and the other
// removals hand the element back. The destructors of BalNode and BalCltn
// release nothing: an owner calls FreeContents or RemoveAll first.
// Assignment copies the members one by one, so a collection assigned from
// another shares its nodes, and only one of the two may then be emptied.
//
// Positions are node addresses (void*). A position stays valid until its
// node is freed. Removing an element whose node has two children moves the
// element that follows it into that node and frees the follower's node:
// the removed element's position then yields the follower, and the
// follower's former position is invalid. Other positions survive every
// insertion and removal.
//
// Threads: Add and the removals keep the state of the operation under way in
// four work variables that are per thread, so collections used on different
// threads do not interfere. Each collection is still used by one thread at a
// time, and an element's Compare must never call Add or a removal on any
// BalCltn: the nested call would overwrite the outer call's work variables.
// Lookups, stepping and the subtree operations use no shared state.
#ifndef BTREEIMG_COLLECTIONS_BALCLTN_H_
#define BTREEIMG_COLLECTIONS_BALCLTN_H_

#include <cstdint>

#include "collections/Sorted.h"
#include "framework/Export.h"

namespace btreeimg::detail {
struct BalTreeAccess;
}  // namespace btreeimg::detail

class AFX_EXT_CLASS BalNode {
 public:
  // A node holding `key`: no links, EvenHeavy.
  BalNode(Sorted* key);  // NOLINT: implicit, as host code knows it
  BalNode(const BalNode&) = default;
  BalNode& operator=(const BalNode&) = default;
  // Releases nothing.
  ~BalNode();

  // Each accessor reads or writes exactly one member; no parent link or
  // balance state is adjusted. The right link's setter is spelled Righ.
  Sorted* Key() { return key; }
  void Key(Sorted* k) { key = k; }
  BalNode* Left() { return left; }
  void Left(BalNode* node) { left = node; }
  BalNode* Right() { return right; }
  void Righ(BalNode* node) { right = node; }
  int IsLeftHeavy() { return balance == kLeftHeavy ? 1 : 0; }
  int IsRightHeavy() { return balance == kRightHeavy ? 1 : 0; }
  int IsEvenHeavy() { return balance == kEvenHeavy ? 1 : 0; }
  void LeftHeavy() { balance = kLeftHeavy; }
  void RightHeavy() { balance = kRightHeavy; }
  void EvenHeavy() { balance = kEvenHeavy; }

  // Subtree operations. On a collection they start at the anchor and so
  // cover the whole tree, but leave its count alone (RemoveAll and
  // FreeContents set it to 0).
  //
  // Frees every node below this one, deleting no element; this node keeps
  // its key and becomes EvenHeavy.
  void TreeFree();
  // Frees every node below this one and deletes every element of the
  // subtree, this node's included, greatest first; this node's key becomes
  // null and it becomes EvenHeavy.
  void TreeFreeContents();
  // As TreeFreeContents, except that the element that is the very object
  // `keep` (pointer equality) is not deleted. Like TreeFreeContents it ends
  // with this node's key null and the node EvenHeavy, even when that key was
  // `keep`: the caller holds `keep` itself, and no freed element is left
  // reachable. On a collection the anchor's key is null either way.
  void TreeFreeContentsExcept(Sorted* keep);
  // Calls fn(element, a, b) for every element of the subtree, least first.
  // A null key (the anchor's) is skipped.
  void Perform(void (*fn)(Sorted*, void*, void*), void* a, void* b);
  // Calls every element's dump(), least first.
  void dump();

 protected:
  // The balance states a node's balance member holds.
  static constexpr std::int32_t kLeftHeavy = 0;
  static constexpr std::int32_t kRightHeavy = 1;
  static constexpr std::int32_t kEvenHeavy = 2;

 private:
  friend class BalCltn;
  friend struct btreeimg::detail::BalTreeAccess;

  Sorted* key;
  BalNode* left;    // elements that sort after key
  BalNode* right;   // elements that sort before key (or equal when added)
  BalNode* parent;  // null for the root of a tree
  std::int32_t balance;
};

class AFX_EXT_CLASS BalCltn : public BalNode {
 public:
  // An empty collection.
  BalCltn();
  BalCltn(const BalCltn&) = default;
  BalCltn& operator=(const BalCltn&) = default;
  // Releases nothing: call FreeContents or RemoveAll first.
  ~BalCltn();

  // Adds `e` and returns the position of its new node; null, with nothing
  // added, for a null `e`. Elements equal to stored ones are always added,
  // before those they equal. Searches with e->Compare(stored). Throws
  // CMemoryException* (collection unchanged) when no node can be allocated.
  void* Add(Sorted* e);
  // The stored element s that matches, searching with s->Compare(argument);
  // null when none does. Find(Sorted*) answers null for a null argument.
  Sorted* Find(Sorted* e);
  Sorted* Find(const char* key);
  Sorted* Find(int key);
  Sorted* Find(long key);
  // Position of a stored element s with e->Compare(s) == 0, or null (also
  // for a null `e`).
  void* GetKeyPosition(Sorted* e);
  // The element at `pos` (null for a null position).
  // REQUIRES: pos is null or a position of this collection not yet freed.
  Sorted* GetAt(void* pos);
  // The number of elements.
  int GetCount() { return count; }
  // 1 when the collection holds no element, else 0.
  int IsEmpty() { return count == 0 ? 1 : 0; }
  // First (least) or last (greatest) element; null when empty.
  Sorted* GetHead();
  Sorted* GetTail();
  // Position of the first (least) or last (greatest) element; null when
  // empty.
  void* GetHeadPosition();
  void* GetTailPosition();
  // Return the element at `pos` and move `pos` to the following (preceding)
  // position, null past the end. Uses the parent links; allocates nothing.
  // A null `pos` returns null and stays null.
  // REQUIRES: pos is null or a position of this collection not yet freed.
  Sorted* GetNext(void*& pos);
  Sorted* GetPrev(void*& pos);
  // Position of the element with index `i` counted from 0 at the head,
  // stepping from the head: the head for i <= 0, null for i >= GetCount().
  void* FindIndex(int i);
  // Removes the stored element s with e->Compare(s) == 0 that the search
  // from the root meets first and returns it (it may be another object than
  // `e`). Returns `e` itself, with nothing changed, when none matches, and
  // null for a null `e`. The element is not deleted.
  Sorted* Remove(Sorted* e);
  // Remove and return the first (last) element itself; null when empty.
  // They unlink the head (tail) node directly, without comparisons, so they
  // always remove exactly that element even when others compare equal to it.
  Sorted* RemoveHead();
  Sorted* RemoveTail();
  // Free every node; the elements stay alive. The count becomes 0.
  void RemoveAll();
  // Free every node and delete every element, greatest first. Count 0.
  void FreeContents();

 private:
  // The recursive steps of insertion and removal. Each takes the address of
  // the link that holds the subtree being worked on (the anchor's right
  // link, or a node's left or right link), so that a rotation stores the new
  // top of the subtree straight into it. They talk through the work
  // variables (see BalCltn.cpp).
  static void insert(BalNode** link);
  static void remove(BalNode** link);
  static void del(BalNode** link);
  static void balanceLeft(BalNode** link);
  static void balanceRight(BalNode** link);
  // Unlink the head (tail) node of the subtree in `link`.
  static void removeFirst(BalNode** link);
  static void removeLast(BalNode** link);

  int count;
};

#endif  // BTREEIMG_COLLECTIONS_BALCLTN_H_

// Doubly linked list of untyped pointers, with list positions. A position
// is the address of a node; it stays valid until that node is removed.
// The list never deletes the objects its pointers refer to.
//
// Nodes are allocated in blocks of `nBlockSize` and recycled; all blocks are
// released when the list becomes empty through RemoveAll.
#ifndef BTREEIMG_FRAMEWORK_CPTRLIST_H_
#define BTREEIMG_FRAMEWORK_CPTRLIST_H_

#include "framework/CObject.h"
#include "framework/Export.h"
#include "framework/Types.h"

class AFX_EXT_CLASS CPtrList : public CObject {
 public:
  // An empty list whose nodes are allocated `nBlockSize` at a time.
  explicit CPtrList(int nBlockSize = 10);
  CPtrList(const CPtrList&) = delete;
  CPtrList& operator=(const CPtrList&) = delete;
  // Removes every node (RemoveAll()).
  ~CPtrList() override;

  // The number of elements (GetSize() is the same).
  int GetCount() const { return count_; }
  int GetSize() const { return count_; }
  // TRUE when the list holds no element.
  BOOL IsEmpty() const { return count_ == 0; }

  // Head and tail elements. REQUIRES a non-empty list; on an empty list they
  // throw CInvalidArgException*.
  void*& GetHead();
  void* GetHead() const;
  void*& GetTail();
  void* GetTail() const;
  // Remove the head (tail) element and return it. REQUIRES a non-empty list;
  // on an empty one they throw CInvalidArgException*.
  void* RemoveHead();
  void* RemoveTail();

  // Add `element` at the start (end); return its position.
  POSITION AddHead(void* element);
  POSITION AddTail(void* element);
  // Append every element of `other` at the end (or start) of this list.
  void AddTail(CPtrList* other);
  void AddHead(CPtrList* other);
  // Insert beside `position`; a null position means the head (InsertBefore)
  // or the tail (InsertAfter). Return the new element's position.
  POSITION InsertBefore(POSITION position, void* element);
  POSITION InsertAfter(POSITION position, void* element);
  // Unlinks the node at `position` (which must be a position of this list).
  void RemoveAt(POSITION position);
  // Removes every node; the pointed-to objects are left alone.
  void RemoveAll();

  // Position of the head (tail) element; null for an empty list.
  POSITION GetHeadPosition() const { return head_; }
  POSITION GetTailPosition() const { return tail_; }
  // Return the element at `position` and move it to the next (previous)
  // position, null past the end. REQUIRES a non-null position.
  void*& GetNext(POSITION& position);
  void* GetNext(POSITION& position) const;
  void*& GetPrev(POSITION& position);
  void* GetPrev(POSITION& position) const;
  // The element at `position`, for reading or changing. REQUIRES a
  // non-null position.
  void*& GetAt(POSITION position);
  void* GetAt(POSITION position) const;
  // Replaces the element at `position`. REQUIRES a non-null position.
  void SetAt(POSITION position, void* element);

  // Position of the element with 0-based `index`; null outside the list.
  POSITION FindIndex(INT_PTR index) const;
  // Position of the first element equal to `value`, searching after
  // `startAfter` (from the head when null); null when none.
  POSITION Find(void* value, POSITION startAfter = nullptr) const;

 private:
  struct Node {
    Node* next;
    Node* prev;
    void* data;
  };
  struct Block;

  Node* newNode(Node* prev, Node* next, void* element);
  void freeNode(Node* node);

  Node* head_ = nullptr;
  Node* tail_ = nullptr;
  int count_ = 0;
  Node* free_ = nullptr;
  Block* blocks_ = nullptr;
  int blockSize_;
};

#endif  // BTREEIMG_FRAMEWORK_CPTRLIST_H_

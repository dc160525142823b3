// An ordered list of Sorted elements on the framework's pointer list.
//
// Add keeps the list in ascending order as Compare(Sorted*) defines it:
// walking from the head, no element sorts after one that follows it, and
// elements that compare equal stay in the order they were added. Every
// operation walks from the head and calls the *stored* element's Compare
// with the operation's argument; the argument's own Compare is never called.
// All operations are linear in the length of the list.
//
// The list holds pointers only. Neither the destructor nor Remove deletes an
// element; FreeContents does. Positions are those of CPtrList: a position
// stays valid until its element is removed. Elements placed with the base
// list's own insertion operations are not put in order; a null entry placed
// that way is passed over by every walk (never compared, never matched).
#ifndef BTREEIMG_COLLECTIONS_SORTCLTN_H_
#define BTREEIMG_COLLECTIONS_SORTCLTN_H_

#include "collections/Sorted.h"
#include "framework/CPtrList.h"
#include "framework/Export.h"

class AFX_EXT_CLASS SortCltn : public CPtrList {
 public:
  // An empty list with a node block size of 10.
  SortCltn();
  // Releases the nodes; the elements are left alone.
  ~SortCltn() override;

  // Inserts `e` before the first stored element s with s->Compare(e) > 0,
  // or at the tail when there is none: after every element equal to it.
  // `e` is not checked for null. Throws CMemoryException* (list unchanged)
  // when no node can be allocated.
  void Add(Sorted* e);
  // Unlinks and returns the first stored element s with s->Compare(e) == 0,
  // which may be another object than `e`; null, with nothing changed, when
  // none matches. The element is not deleted.
  Sorted* Remove(Sorted* e);
  // The first stored element whose matching Compare overload answers 0, or
  // null. Every element is inspected until a match: the order is not used.
  Sorted* Find(Sorted* e);
  Sorted* Find(const char* key);
  Sorted* Find(int key);
  Sorted* Find(long key);
  // The pointer search of the base list stays available.
  using CPtrList::Find;
  // Deletes every non-null element, head to tail, then empties the list.
  void FreeContents();
};

#endif  // BTREEIMG_COLLECTIONS_SORTCLTN_H_

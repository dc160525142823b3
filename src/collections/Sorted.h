// Base of every element kept in the sorted collections (SortCltn, BalCltn).
//
// An element compares itself with an argument: a result greater than 0 means
// the element sorts after the argument, 0 that it matches, less than 0 that
// it sorts before. Only the sign counts. The bare-key overloads serve the
// collections' Find operations; Compare(Sorted*) orders elements and serves
// Find(Sorted*) and Remove.
//
// Sorted has no state of its own; copying copies nothing. Collections delete
// their elements (when asked to) through the virtual destructor.
#ifndef BTREEIMG_COLLECTIONS_SORTED_H_
#define BTREEIMG_COLLECTIONS_SORTED_H_

#include "framework/Export.h"

class AFX_EXT_CLASS Sorted {
 public:
  Sorted();
  // Copies nothing: Sorted has no state of its own.
  Sorted(const Sorted& other);
  Sorted& operator=(const Sorted& other);

  // Compare with a bare key. The base answers 0: an element that does not
  // override them matches every key.
  virtual int Compare(long key);
  virtual int Compare(int key);
  virtual int Compare(const char* key);
  // Compare with another element. The base compares addresses: 1 when this
  // object lies at a higher address than `other` (unsigned comparison),
  // otherwise 0. It never answers a negative value.
  virtual int Compare(Sorted* other);
  // Diagnostic output of the element. The base does nothing.
  virtual void dump();
  // Collections delete elements through it.
  virtual ~Sorted();
};

#endif  // BTREEIMG_COLLECTIONS_SORTED_H_

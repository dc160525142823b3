#include "collections/SortCltn.h"

namespace {

// Position of the first stored element for which `matches(element)` holds,
// walking from the head; null when none does. Null entries (which only the
// base list's own insertions can place) are passed over.
template <class Predicate>
POSITION firstWhere(const CPtrList& list, Predicate matches) {
  for (POSITION pos = list.GetHeadPosition(); pos != nullptr;) {
    const POSITION here = pos;
    Sorted* element = static_cast<Sorted*>(list.GetNext(pos));
    if (element != nullptr && matches(element)) return here;
  }
  return nullptr;
}

template <class Key>
Sorted* findKey(const CPtrList& list, Key key) {
  const POSITION pos =
      firstWhere(list, [key](Sorted* s) { return s->Compare(key) == 0; });
  return pos ? static_cast<Sorted*>(list.GetAt(pos)) : nullptr;
}

}  // namespace

SortCltn::SortCltn() : CPtrList(10) {}

SortCltn::~SortCltn() = default;

void SortCltn::Add(Sorted* e) {
  const POSITION after =
      firstWhere(*this, [e](Sorted* s) { return s->Compare(e) > 0; });
  if (after != nullptr) {
    InsertBefore(after, e);
  } else {
    AddTail(e);
  }
}

Sorted* SortCltn::Remove(Sorted* e) {
  const POSITION pos =
      firstWhere(*this, [e](Sorted* s) { return s->Compare(e) == 0; });
  if (pos == nullptr) return nullptr;
  Sorted* found = static_cast<Sorted*>(GetAt(pos));
  RemoveAt(pos);
  return found;
}

Sorted* SortCltn::Find(Sorted* e) { return findKey<Sorted*>(*this, e); }

Sorted* SortCltn::Find(const char* key) {
  return findKey<const char*>(*this, key);
}

Sorted* SortCltn::Find(int key) { return findKey<int>(*this, key); }

Sorted* SortCltn::Find(long key) { return findKey<long>(*this, key); }

void SortCltn::FreeContents() {
  for (POSITION pos = GetHeadPosition(); pos != nullptr;) {
    delete static_cast<Sorted*>(GetNext(pos));
  }
  RemoveAll();
}

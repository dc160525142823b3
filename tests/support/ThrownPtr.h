// Test helpers for the framework's exceptions, which are thrown as heap
// pointers: catch one of an expected type, keep it for inspection, and
// release it with Delete() so that the sanitizer build sees no leak.
#ifndef BTREEIMG_TESTS_SUPPORT_THROWNPTR_H_
#define BTREEIMG_TESTS_SUPPORT_THROWNPTR_H_

#include <memory>
#include <type_traits>
#include <utility>

#include "framework/Exceptions.h"

namespace testfiles {

struct ExceptionDeleter {
  void operator()(CException* e) const {
    if (e != nullptr) e->Delete();
  }
};

template <class E>
using Caught = std::unique_ptr<E, ExceptionDeleter>;

// Runs `f`; returns the E* it threw (owned), or null when it threw nothing
// or a framework exception of another type (which is released).
template <class E, class F>
Caught<E> catchPtr(F&& f) {
  try {
    std::forward<F>(f)();
  } catch (CException* e) {
    if constexpr (std::is_same_v<E, CException>) {
      return Caught<E>(e);
    } else {
      if (auto* expected = dynamic_cast<E*>(e)) return Caught<E>(expected);
      e->Delete();
    }
  }
  return Caught<E>();
}

// True when `f` throws an E*.
template <class E, class F>
bool throwsPtr(F&& f) {
  return catchPtr<E>(std::forward<F>(f)) != nullptr;
}

}  // namespace testfiles

#endif  // BTREEIMG_TESTS_SUPPORT_THROWNPTR_H_

// Root of the framework's class tree: only a virtual destructor, so that
// lists and exceptions can be deleted through it.
#ifndef BTREEIMG_FRAMEWORK_COBJECT_H_
#define BTREEIMG_FRAMEWORK_COBJECT_H_

#include "framework/Export.h"

class AFX_EXT_CLASS CObject {
 public:
  CObject() = default;
  CObject(const CObject&) = default;
  CObject& operator=(const CObject&) = default;
  virtual ~CObject();
};

#endif  // BTREEIMG_FRAMEWORK_COBJECT_H_

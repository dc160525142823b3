// The framework's basic type names, as host code written against it uses
// them.
#ifndef BTREEIMG_FRAMEWORK_TYPES_H_
#define BTREEIMG_FRAMEWORK_TYPES_H_

#include <cstdint>

typedef unsigned char BYTE;
typedef unsigned int UINT;
typedef int BOOL;
typedef long LONG;
typedef std::int64_t LONGLONG;
typedef std::uint64_t ULONGLONG;
typedef void* POSITION;
typedef const char* LPCTSTR;
typedef char* LPTSTR;
typedef std::intptr_t INT_PTR;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#endif  // BTREEIMG_FRAMEWORK_TYPES_H_

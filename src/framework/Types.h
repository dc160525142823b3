// The framework's basic type names, as host code written against it uses
// them.
#ifndef BTREEIMG_FRAMEWORK_TYPES_H_
#define BTREEIMG_FRAMEWORK_TYPES_H_

#include <cstdint>

// An unsigned byte.
typedef unsigned char BYTE;
// An unsigned integer.
typedef unsigned int UINT;
// A truth value: TRUE (1) or FALSE (0).
typedef int BOOL;
// A signed long integer.
typedef long LONG;
// A signed integer of 64 bits.
typedef std::int64_t LONGLONG;
// An unsigned integer of 64 bits: file sizes and positions.
typedef std::uint64_t ULONGLONG;
// A position in a list: the address of a node.
typedef void* POSITION;
// A constant C string.
typedef const char* LPCTSTR;
// A writable C string.
typedef char* LPTSTR;
// A signed integer as wide as a pointer.
typedef std::intptr_t INT_PTR;

#ifndef TRUE
// True.
#define TRUE 1
#endif
#ifndef FALSE
// False.
#define FALSE 0
#endif

#endif  // BTREEIMG_FRAMEWORK_TYPES_H_

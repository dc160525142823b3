// Every framework class and type the library and its callers use.
#ifndef BTREEIMG_FRAMEWORK_FRAMEWORK_H_
#define BTREEIMG_FRAMEWORK_FRAMEWORK_H_

#include "framework/CFile.h"
#include "framework/CMemFile.h"
#include "framework/CObject.h"
#include "framework/CPtrList.h"
#include "framework/CStdioFile.h"
#include "framework/CString.h"
#include "framework/CStringArray.h"
#include "framework/Diagnostics.h"
#include "framework/Exceptions.h"
#include "framework/FileReplacement.h"
#include "framework/Export.h"
#include "framework/Module.h"
#include "framework/Types.h"

#endif  // BTREEIMG_FRAMEWORK_FRAMEWORK_H_

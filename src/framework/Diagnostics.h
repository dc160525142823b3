// The library's diagnostics sink. A few operations that have no way to report
// a failure to their caller (a settings file that could not be saved, a table
// file that could not be opened) hand a fully formatted text to the sink.
// The default sink is null: the texts are discarded.
#ifndef BTREEIMG_FRAMEWORK_DIAGNOSTICS_H_
#define BTREEIMG_FRAMEWORK_DIAGNOSTICS_H_

#include "framework/Export.h"

namespace btreeimg {

// A sink: called with each diagnostic text and the context it was
// installed with.
using DiagnosticSink = void (*)(const char* text, void* context);

// Installs `sink` (null to discard) with the `context` passed back to it on
// every call. Process-wide; the sink may be called from any thread that uses
// the library.
AFX_EXT_API void setDiagnosticSink(DiagnosticSink sink, void* context);

}  // namespace btreeimg

#endif  // BTREEIMG_FRAMEWORK_DIAGNOSTICS_H_

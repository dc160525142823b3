#include "framework/Diagnostics.h"
#include "framework/Diagnose.h"
#include "framework/FormatText.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

namespace btreeimg {
namespace {

std::mutex gSinkMutex;
DiagnosticSink gSink = nullptr;
void* gContext = nullptr;

}  // namespace

void setDiagnosticSink(DiagnosticSink sink, void* context) {
  std::lock_guard<std::mutex> lock(gSinkMutex);
  gSink = sink;
  gContext = context;
}

namespace detail {

void diagnose(const char* format, ...) {
  DiagnosticSink sink;
  void* context;
  {
    std::lock_guard<std::mutex> lock(gSinkMutex);
    sink = gSink;
    context = gContext;
  }
  if (sink == nullptr) return;
  va_list args;
  va_start(args, format);
  const std::string text = formatText(format, args);
  va_end(args);
  sink(text.c_str(), context);
}

}  // namespace detail
}  // namespace btreeimg

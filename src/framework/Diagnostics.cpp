#include "framework/Diagnostics.h"
#include "framework/Diagnose.h"

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
  va_list again;
  va_copy(again, args);
  const int needed = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(needed > 0 ? static_cast<std::size_t>(needed) + 1 : 1, '\0');
  if (needed > 0) std::vsnprintf(text.data(), text.size(), format, again);
  va_end(again);
  text.pop_back();
  sink(text.c_str(), context);
}

}  // namespace detail
}  // namespace btreeimg

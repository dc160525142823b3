#include "framework/Diagnostics.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/Diagnose.h"

// The library's internal diagnose() is reachable from a test only when the
// library is linked statically: the shared library exports the documented
// interface alone. The static build runs these tests; the shared builds skip
// them (the operations that report through the sink test it there).
#ifdef BTREEIMG_STATIC
#define REQUIRE_INTERNAL_DIAGNOSE()
#else
#define REQUIRE_INTERNAL_DIAGNOSE() \
  GTEST_SKIP() << "diagnose() is internal to the shared library"
#endif

namespace {

// Hands a text to the sink as library code does.
template <class... Args>
void diagnose(const char* format, Args... args) {
#ifdef BTREEIMG_STATIC
  btreeimg::detail::diagnose(format, args...);
#else
  (void)format;
  ((void)args, ...);
#endif
}

struct Received {
  std::vector<std::string> texts;
};

void collect(const char* text, void* context) {
  static_cast<Received*>(context)->texts.emplace_back(text);
}

// Leaves the process-wide sink as it found it (null) whatever the test does.
class DiagnosticsTest : public ::testing::Test {
 protected:
  ~DiagnosticsTest() override { btreeimg::setDiagnosticSink(nullptr, nullptr); }
};

TEST_F(DiagnosticsTest, SinkReceivesTheFormattedTextAndItsContext) {
  REQUIRE_INTERNAL_DIAGNOSE();
  Received received;
  btreeimg::setDiagnosticSink(collect, &received);
  diagnose("Errore salvataggio %s (%d)", "ENV.VD6", 2);
  const std::string longText(3000, 'k');
  diagnose("%s", longText.c_str());
  diagnose("%s", "");
  ASSERT_EQ(received.texts.size(), 3u);
  EXPECT_EQ(received.texts[0], "Errore salvataggio ENV.VD6 (2)");
  EXPECT_EQ(received.texts[1], longText);
  EXPECT_EQ(received.texts[2], "");
}

TEST_F(DiagnosticsTest, NullSinkDiscardsTheTexts) {
  REQUIRE_INTERNAL_DIAGNOSE();
  // The default: nothing is installed and diagnosing is harmless.
  diagnose("dropped %d", 1);
  Received received;
  btreeimg::setDiagnosticSink(collect, &received);
  btreeimg::setDiagnosticSink(nullptr, &received);
  diagnose("dropped %d", 2);
  EXPECT_TRUE(received.texts.empty());
}

TEST_F(DiagnosticsTest, ReplacingTheSinkRedirectsLaterTexts) {
  REQUIRE_INTERNAL_DIAGNOSE();
  Received first;
  Received second;
  btreeimg::setDiagnosticSink(collect, &first);
  diagnose("%s", "one");
  btreeimg::setDiagnosticSink(collect, &second);
  diagnose("%s", "two");
  EXPECT_EQ(first.texts, std::vector<std::string>{"one"});
  EXPECT_EQ(second.texts, std::vector<std::string>{"two"});
}

}  // namespace

#include "framework/Diagnostics.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/Diagnose.h"

namespace {

using Texts = std::vector<std::string>;

// The library's internal diagnose() is reachable from a test only when the
// library is linked statically: the shared library exports the documented
// interface alone, and the operations that report through the sink test it
// there.
TEST(Diagnostics, TheSinkReceivesEachFormattedTextUntilReplacedOrCleared) {
#ifndef BTREEIMG_STATIC
  GTEST_SKIP() << "diagnose() is internal to the shared library";
#else
  using btreeimg::detail::diagnose;
  auto collect = [](const char* text, void* context) {
    static_cast<Texts*>(context)->emplace_back(text);
  };
  diagnose("dropped %d", 1);  // nothing installed: harmless
  Texts first, second;
  btreeimg::setDiagnosticSink(collect, &first);
  const std::string longText(3000, 'k');
  diagnose("Errore salvataggio %s (%d)", "ENV.VD6", 2);
  diagnose("%s", longText.c_str());
  diagnose("%s", "");
  btreeimg::setDiagnosticSink(collect, &second);
  diagnose("%s", "two");
  btreeimg::setDiagnosticSink(nullptr, &second);
  diagnose("dropped %d", 3);
  btreeimg::setDiagnosticSink(nullptr, nullptr);
  EXPECT_EQ(first, (Texts{"Errore salvataggio ENV.VD6 (2)", longText, ""}));
  EXPECT_EQ(second, Texts{"two"});
#endif
}

}  // namespace

#include "framework/Module.h"

#include <gtest/gtest.h>

namespace {

bool isLinked(const AFX_EXTENSION_MODULE& state) {
  for (CDynLinkLibrary* lib = CDynLinkLibrary::first(); lib; lib = lib->next())
    if (lib->module() == &state) return true;
  return false;
}

// Termination deletes every registration of its module (the sanitizer build
// reports a leak otherwise), wherever it lies in the chain, and leaves the
// library's own registration alone.
TEST(Module, ExtensionModulesRegisterAndTerminateAsTheFrameworkDoes) {
  AFX_EXTENSION_MODULE first = {FALSE, nullptr, nullptr};
  AFX_EXTENSION_MODULE second = {FALSE, nullptr, nullptr};
  int handle = 0;
  ASSERT_TRUE(AfxInitExtensionModule(first, &handle));
  AfxInitExtensionModule(second, nullptr);
  new CDynLinkLibrary(first);
  auto* a = new CDynLinkLibrary(first);
  auto* b = new CDynLinkLibrary(second);
  EXPECT_EQ(CDynLinkLibrary::first(), b);  // the newest heads the chain
  delete a;                                // not at the head of the chain
  AfxTermExtensionModule(first);
  EXPECT_FALSE(first.bInitialized);
  EXPECT_FALSE(isLinked(first));
  EXPECT_EQ(CDynLinkLibrary::first(), b);
  AfxTermExtensionModule(second);
  EXPECT_FALSE(isLinked(second));
  EXPECT_EQ(BtreeImgIsRegistered(), 1);
}

}  // namespace

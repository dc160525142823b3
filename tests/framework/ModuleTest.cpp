#include "framework/Module.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

bool isLinked(const AFX_EXTENSION_MODULE& state) {
  for (CDynLinkLibrary* lib = CDynLinkLibrary::first(); lib; lib = lib->next()) {
    if (lib->module() == &state) return true;
  }
  return false;
}

TEST(Module, LibraryIsRegisteredOnceLoaded) {
  EXPECT_EQ(BtreeImgIsRegistered(), 1);
  EXPECT_NE(CDynLinkLibrary::first(), nullptr);
}

TEST(Module, AnExtensionModuleRegistersAndTerminatesAsTheFrameworkDoes) {
  AFX_EXTENSION_MODULE local = {FALSE, nullptr, nullptr};
  int handle = 0;
  ASSERT_TRUE(AfxInitExtensionModule(local, &handle));
  EXPECT_TRUE(local.bInitialized);
  EXPECT_EQ(local.hModule, &handle);

  // Two registrations for the module; the newest heads the chain.
  new CDynLinkLibrary(local);
  CDynLinkLibrary* newest = new CDynLinkLibrary(local);
  EXPECT_EQ(CDynLinkLibrary::first(), newest);
  EXPECT_EQ(newest->module(), &local);
  EXPECT_TRUE(isLinked(local));

  // Termination deletes every registration of this module (the sanitizer
  // build reports a leak otherwise) and leaves the library's own alone.
  AfxTermExtensionModule(local);
  EXPECT_FALSE(local.bInitialized);
  EXPECT_FALSE(isLinked(local));
  EXPECT_EQ(BtreeImgIsRegistered(), 1);
}

TEST(Module, DeletingARegistrationUnlinksItFromTheChain) {
  AFX_EXTENSION_MODULE first = {FALSE, nullptr, nullptr};
  AFX_EXTENSION_MODULE second = {FALSE, nullptr, nullptr};
  AfxInitExtensionModule(first, nullptr);
  AfxInitExtensionModule(second, nullptr);
  auto* a = new CDynLinkLibrary(first);
  auto* b = new CDynLinkLibrary(second);
  delete a;  // not at the head of the chain
  EXPECT_FALSE(isLinked(first));
  EXPECT_TRUE(isLinked(second));
  EXPECT_EQ(CDynLinkLibrary::first(), b);
  AfxTermExtensionModule(second);
  EXPECT_FALSE(isLinked(second));
  AfxTermExtensionModule(first);  // nothing left to delete
  EXPECT_EQ(BtreeImgIsRegistered(), 1);
}

// Loading the built shared library registers it and unloading it succeeds.
// The test executable links the library too, so dlopen hands back the
// object that is already loaded; that still checks that the registration
// function is exported and that the library unloads cleanly.
TEST(Module, SharedLibraryLoadsRegisteredAndUnloads) {
#ifdef BTREEIMG_STATIC
  GTEST_SKIP() << "the library is built static";
#else
  const char* path = std::getenv("BTREEIMG_LIBRARY");
  if (path == nullptr || *path == '\0') {
    GTEST_SKIP() << "BTREEIMG_LIBRARY is not set";
  }
  void* handle = ::dlopen(path, RTLD_LOCAL | RTLD_NOW);
  ASSERT_NE(handle, nullptr) << ::dlerror();
  using IsRegistered = int (*)();
  auto isRegistered =
      reinterpret_cast<IsRegistered>(::dlsym(handle, "BtreeImgIsRegistered"));
  ASSERT_NE(isRegistered, nullptr) << ::dlerror();
  EXPECT_EQ(isRegistered(), 1);
  EXPECT_EQ(::dlclose(handle), 0) << ::dlerror();
#endif
}

}  // namespace

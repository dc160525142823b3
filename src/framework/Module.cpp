#include "framework/Module.h"

namespace {

// Head of the chain of registered libraries. A plain pointer, so it is
// usable from load-time code before any C++ static object is constructed.
CDynLinkLibrary* gFirstLibrary = nullptr;

// The library's own registration state.
AFX_EXTENSION_MODULE gBtreeImgModule = {FALSE, nullptr, nullptr};

}  // namespace

CDynLinkLibrary::CDynLinkLibrary(AFX_EXTENSION_MODULE& state)
    : module_(&state), next_(gFirstLibrary) {
  gFirstLibrary = this;
}

CDynLinkLibrary::~CDynLinkLibrary() {
  for (CDynLinkLibrary** link = &gFirstLibrary; *link; link = &(*link)->next_) {
    if (*link == this) {
      *link = next_;
      break;
    }
  }
}

CDynLinkLibrary* CDynLinkLibrary::first() { return gFirstLibrary; }

BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, void* hModule) {
  state.bInitialized = TRUE;
  state.hModule = hModule;
  state.hResource = hModule;
  return TRUE;
}

void AfxTermExtensionModule(AFX_EXTENSION_MODULE& state, BOOL) {
  for (CDynLinkLibrary* lib = gFirstLibrary; lib;) {
    CDynLinkLibrary* next = lib->next();
    if (lib->module() == &state) delete lib;
    lib = next;
  }
  state.bInitialized = FALSE;
}

int BtreeImgIsRegistered(void) {
  if (!gBtreeImgModule.bInitialized) return 0;
  for (CDynLinkLibrary* lib = gFirstLibrary; lib; lib = lib->next()) {
    if (lib->module() == &gBtreeImgModule) return 1;
  }
  return 0;
}

namespace {

// The library's entry and exit: run when the shared library is loaded and
// unloaded (or, linked statically, at program start and end).
__attribute__((constructor)) void registerBtreeImg() {
  if (!AfxInitExtensionModule(gBtreeImgModule, &gBtreeImgModule)) return;
  new CDynLinkLibrary(gBtreeImgModule);
}

__attribute__((destructor)) void unregisterBtreeImg() {
  AfxTermExtensionModule(gBtreeImgModule);
}

}  // namespace

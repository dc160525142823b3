#include "framework/Module.h"

#include <mutex>
#include <vector>

namespace {

// Head of the chain of registered libraries. A plain pointer, so it is
// usable from load-time code before any C++ static object is constructed.
CDynLinkLibrary* gFirstLibrary = nullptr;

// Guards the chain and the registration states. std::mutex is initialised
// as constant data (no constructor runs), so it is ready at load time too.
std::mutex gChainMutex;

// The library's own registration state.
AFX_EXTENSION_MODULE gBtreeImgModule = {FALSE, nullptr, nullptr};

}  // namespace

CDynLinkLibrary::CDynLinkLibrary(AFX_EXTENSION_MODULE& state)
    : module_(&state), next_(nullptr) {
  std::lock_guard<std::mutex> lock(gChainMutex);
  next_ = gFirstLibrary;
  gFirstLibrary = this;
}

CDynLinkLibrary::~CDynLinkLibrary() {
  std::lock_guard<std::mutex> lock(gChainMutex);
  for (CDynLinkLibrary** link = &gFirstLibrary; *link; link = &(*link)->next_) {
    if (*link == this) {
      *link = next_;
      break;
    }
  }
}

CDynLinkLibrary* CDynLinkLibrary::first() {
  std::lock_guard<std::mutex> lock(gChainMutex);
  return gFirstLibrary;
}

BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, void* hModule) {
  std::lock_guard<std::mutex> lock(gChainMutex);
  state.bInitialized = TRUE;
  state.hModule = hModule;
  state.hResource = hModule;
  return TRUE;
}

void AfxTermExtensionModule(AFX_EXTENSION_MODULE& state, BOOL) {
  // The libraries of `state` are found under the lock and deleted after it:
  // each destructor takes the lock to unlink itself.
  std::vector<CDynLinkLibrary*> ended;
  {
    std::lock_guard<std::mutex> lock(gChainMutex);
    for (CDynLinkLibrary* lib = gFirstLibrary; lib; lib = lib->next()) {
      if (lib->module() == &state) ended.push_back(lib);
    }
    state.bInitialized = FALSE;
  }
  for (CDynLinkLibrary* lib : ended) delete lib;
}

int BtreeImgIsRegistered(void) {
  std::lock_guard<std::mutex> lock(gChainMutex);
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

#include <windows.h>
#include <unknwn.h>

#include <new>

#include "com_object.h"
#include "shell_objects.h"

namespace zipstandin {
namespace {

// CLSID_Shell, the shell automation object this DLL stands in for.
constexpr CLSID kClsidShell = {0x13709620, 0xC279, 0x11CE, {0xA4, 0x9E, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

LONG g_moduleReferences = 0;

class ShellClassFactory final : public IClassFactory {
 public:
  ShellClassFactory() { AddModuleReference(); }
  ShellClassFactory(const ShellClassFactory&) = delete;
  ShellClassFactory& operator=(const ShellClassFactory&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }

  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return CreateShellObject(iid, object);
  }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      AddModuleReference();
    } else {
      ReleaseModuleReference();
    }
    return S_OK;
  }

 private:
  ~ShellClassFactory() { ReleaseModuleReference(); }

  LONG references_ = 1;
};

}  // namespace

void AddModuleReference() { InterlockedIncrement(&g_moduleReferences); }
void ReleaseModuleReference() { InterlockedDecrement(&g_moduleReferences); }

}  // namespace zipstandin

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (clsid != zipstandin::kClsidShell) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) zipstandin::ShellClassFactory;
  if (!factory) return E_OUTOFMEMORY;
  const HRESULT hr = factory->QueryInterface(iid, object);
  factory->Release();
  return hr;
}

STDAPI DllCanUnloadNow() {
  return InterlockedCompareExchange(&zipstandin::g_moduleReferences, 0, 0) == 0 ? S_OK : S_FALSE;
}

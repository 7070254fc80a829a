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

class ShellClassFactory final : public ComObject<IClassFactory, false> {
 public:
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

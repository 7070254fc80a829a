#include <windows.h>
#include <unknwn.h>

#include <new>

#include "com_object.h"
#include "shell_objects.h"

namespace zipstandin {
namespace {

// CLSID_Shell, the shell automation object this DLL stands in for.
constexpr CLSID kClsidShell = {0x13709620, 0xC279, 0x11CE, {0xA4, 0x9E, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

class ShellClassFactory final : public ComObject<IClassFactory, false> {
 public:
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return CreateShellObject(iid, object);
  }

  // The module never unloads (DllCanUnloadNow), so there is nothing to lock.
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

}  // namespace

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

// Once loaded, the stand-in stays. Each unload of a DLL that links the i686 C++ runtime
// statically (its unwinder registers the DLL's frame tables) leaves two kernel handles behind in
// the process, and the tests' resource counts would take the handler's loss for the plug-in's.
STDAPI DllCanUnloadNow() { return S_FALSE; }

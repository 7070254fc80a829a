#include "attach/attach_command.h"

namespace dl {

HRESULT AttachClipboardImage(HWND) { return E_NOTIMPL; }

}  // namespace dl

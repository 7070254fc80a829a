#include "attach/attach_command.h"

namespace dl {

HRESULT AttachClipboardText(HWND) { return E_NOTIMPL; }

}  // namespace dl

#include "attach/attach_command.h"

namespace dl {

HRESULT AttachClipboardFiles(HWND) { return E_NOTIMPL; }

}  // namespace dl

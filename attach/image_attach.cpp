#include "attach/image_attach.h"

#include "attach/attach_command.h"
#include "common/hresult.h"
#include "common/texts.h"
#include "plugin/host_api.h"
#include "resources/resource.h"
#include "settings/settings_store.h"

#include <strsafe.h>

#include <cwchar>
#include <memory>
#include <new>
#include <string>
#include <utility>

namespace dl {

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

constexpr wchar_t kPngMimeType[] = L"image/png";

// The PNG we wrote into the host's folder, wherever it has been moved to; deleted on every
// road out, so that nothing of ours stays behind. One that cannot be deleted once attached stays
// for the host to clean, and the command still succeeds: the mail has the attachment.
class StagedFile {
public:
    StagedFile() = default;
    ~StagedFile()
    {
        if (!path_.empty()) DeleteFileA(path_.c_str());
    }
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    void assign(const char* path) { path_ = path; }
    const char* path() const noexcept { return path_.c_str(); }
    // MoveFileA never replaces: a file of that name in the host's folder may be the host's own.
    HRESULT moveTo(std::string path)
    {
        RETURN_IF_FAILED(HrFromBool(MoveFileA(path_.c_str(), path.c_str())));
        path_ = std::move(path);
        return S_OK;
    }

private:
    std::string path_;
};

// Reads the clipboard's bitmap and writes it as a PNG under a name from the host. The wait
// cursor lasts for exactly this; the clipboard is free again once the pixels are copied out, not
// held through the encoding.
HRESULT StageClipboardImage(HWND composeWindow, UniqueGpBitmap& bitmap, StagedFile& staged)
{
    const WaitCursor wait;
    ClipboardSession clipboard(composeWindow);
    if (!clipboard.isOpen()) return E_FAIL;
    const auto handle = static_cast<HBITMAP>(GetClipboardData(CF_BITMAP));
    if (!handle) return E_FAIL;
    RETURN_IF_FAILED(HrFromGdiplus(GdipCreateBitmapFromHBITMAP(handle, nullptr, bitmap.put())));
    clipboard.close();

    const char* stagedPath = Host().GetTempFileName("png");
    if (!stagedPath) return E_FAIL;
    staged.assign(stagedPath);
    return SaveImageAsPng(staged.path(), bitmap.get());
}

HRESULT ConfirmImage(HWND composeWindow, ImageAttachRequest& request)
{
    if (!ReadSetting(setting::kConfirmImage)) return S_OK;
    return RunConfirmDialog(composeWindow, IDD_IMAGE_CONFIRM, ImageConfirmDialogProc,
                            reinterpret_cast<LPARAM>(&request), text::kBusyImageOrText);
}


}  // namespace

int FindEncoderClsid(const wchar_t* mimeType, CLSID* clsid) noexcept
{
    UINT count = 0;
    UINT bytes = 0;
    GdipGetImageEncodersSize(&count, &bytes);
    if (bytes == 0) return -1;
    const std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[bytes]);
    if (!buffer) return -1;
    auto* encoders = reinterpret_cast<ImageCodecInfo*>(buffer.get());
    if (GdipGetImageEncoders(count, bytes, encoders) != Ok) return -1;
    for (UINT i = 0; i < count; ++i) {
        if (std::wcscmp(encoders[i].MimeType, mimeType) == 0) {
            *clsid = encoders[i].Clsid;
            return static_cast<int>(i);
        }
    }
    return -1;
}

HRESULT SaveImageAsPng(const char* path, GpImage* image) noexcept
{
    CLSID png{};
    if (FindEncoderClsid(kPngMimeType, &png) < 0) return E_FAIL;
    const GdiplusPath widePath(path);
    return HrFromGdiplus(GdipSaveImageToFile(image, widePath.get(), &png, nullptr));
}

HRESULT AttachClipboardImage(HWND composeWindow)
{
    // Declared first: every GDI+ object below is gone before GDI+ shuts down.
    const GdiplusSession gdiplus;
    UniqueGpBitmap bitmap;
    StagedFile staged;
    RETURN_IF_FAILED(StageClipboardImage(composeWindow, bitmap, staged));

    ImageAttachRequest request{staged.path(), bitmap.get(), {}};
    RETURN_IF_FAILED(StringCchCopyA(request.fileName, kFileNameBufferSize, text::kDefaultImageName));
    RETURN_IF_FAILED(ConfirmImage(composeWindow, request));

    std::string finalPath;
    RETURN_IF_FAILED(PathInHostTemp(request.fileName, finalPath));
    RETURN_IF_FAILED(staged.moveTo(std::move(finalPath)));
    // The host's result is not examined; the attached file is deleted on the way out either way.
    Host().CompAttachFile(composeWindow, staged.path(), nullptr);
    return S_OK;
}

}  // namespace dl

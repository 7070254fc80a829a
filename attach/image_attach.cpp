#include "attach/image_attach.h"

#include "attach/attach_command.h"
#include "attach/picture_blocks.h"
#include "attach/staging_file.h"
#include "common/file_retry.h"
#include "common/hresult.h"
#include "common/texts.h"
#include "host/host_api.h"
#include "resources/resource.h"
#include "settings/settings_store.h"

#include <strsafe.h>

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace dl {

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

constexpr wchar_t kPngMimeType[] = L"image/png";
// The registered format under which programs put a picture's PNG file beside its bitmap.
constexpr char kPngClipboardFormat[] = "PNG";

// The picture as taken from the clipboard, in our own memory, so that the clipboard is free again
// before anything is written.
struct ClipboardPicture {
    UniqueGpBitmap image;    // encoded when there is no PNG
    std::vector<BYTE> png;   // the copying program's own PNG file, staged as it is
};

// The copying program's own PNG, when its form holds: a damaged file is found here and not by
// the mail's recipient. Its pixels are decoded only where the dialog shows them.
HRESULT CopyOfferedPng(ClipboardPicture& picture)
{
    const GlobalLock block(GetClipboardData(RegisterClipboardFormatA(kPngClipboardFormat)));
    const auto* bytes = static_cast<const BYTE*>(block.data());
    const size_t length = PngFileLength(bytes, block.size());
    if (length == 0 || length > MAXDWORD) return E_FAIL;
    picture.png.assign(bytes, bytes + length);
    return S_OK;
}

// A 32-bit bitmap with its alpha channel, where the synthesized CF_BITMAP would lose it.
HRESULT CopyAlphaDib(UINT format, ClipboardPicture& picture)
{
    const GlobalLock block(GetClipboardData(format));
    const auto* bytes = static_cast<const BYTE*>(block.data());
    const std::optional<AlphaDib> dib = FindAlphaDib(bytes, block.size());
    if (!dib) return E_FAIL;
    UniqueGpBitmap image;
    RETURN_IF_FAILED(HrFromGdiplus(
        GdipCreateBitmapFromScan0(dib->width, dib->height, 0, PixelFormat32bppARGB, nullptr, image.put())));
    {
        const LockedBits pixels(image.get(), ImageLockModeWrite, PixelFormat32bppARGB);
        if (!pixels.locked()) return E_FAIL;
        const size_t rowBytes = static_cast<size_t>(dib->width) * 4;
        for (int y = 0; y < dib->height; ++y) std::memcpy(pixels.row(y), bytes + dib->RowOffset(y), rowBytes);
    }
    picture.image = std::move(image);
    return S_OK;
}

HRESULT CopyClipboardBitmap(ClipboardPicture& picture)
{
    const auto handle = static_cast<HBITMAP>(GetClipboardData(CF_BITMAP));
    if (!handle) return E_FAIL;
    return HrFromGdiplus(GdipCreateBitmapFromHBITMAP(handle, nullptr, picture.image.put()));
}

// The most faithful form the clipboard offers: the program's own PNG, then its DIB with alpha,
// then the bitmap. Only the DIB the program put is read: a conversion holds no alpha that its
// source lacks, and the system makes one by copying every pixel. The clipboard is open for the
// copying only.
HRESULT CopyClipboardPicture(HWND owner, ClipboardPicture& picture)
{
    const ClipboardSession clipboard(owner);
    if (!clipboard.isOpen()) return E_FAIL;
    if (SUCCEEDED(CopyOfferedPng(picture))) return S_OK;
    const UINT offered = clipboard.firstOffered({CF_BITMAP, CF_DIB, CF_DIBV5});
    if ((offered == CF_DIBV5 || offered == CF_DIB) && SUCCEEDED(CopyAlphaDib(offered, picture))) return S_OK;
    return CopyClipboardBitmap(picture);
}

// Takes the clipboard's picture and writes it as a PNG under a name from the host. The wait
// cursor lasts for exactly this.
HRESULT StageClipboardImage(HWND composeWindow, ClipboardPicture& picture, StagingFile& staged)
{
    const WaitCursor wait;
    RETURN_IF_FAILED(CopyClipboardPicture(composeWindow, picture));

    const char* stagedPath = Host().GetTempFileName("png");
    if (!stagedPath) return E_FAIL;
    return staged.makeAt(stagedPath, [&picture](const std::string& path) {
        if (picture.png.empty()) return SaveImageAsPng(path.c_str(), picture.image.get());
        return WriteStagingFile(path, picture.png.data(), static_cast<DWORD>(picture.png.size()));
    });
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

// The file is made new first: GDI+ writes its file over whatever is at the path, and so writes
// over nothing but ours. A scanner may hold the new file when GDI+ opens it again.
HRESULT SaveImageAsPng(const char* path, GpImage* image) noexcept
{
    CLSID png{};
    if (FindEncoderClsid(kPngMimeType, &png) < 0) return E_FAIL;
    UniqueFile made(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr));
    if (!made) return E_FAIL;
    made.reset();
    const GdiplusPath widePath(path);
    GpStatus status = Ok;
    RetryWhileScanned([&] { return (status = GdipSaveImageToFile(image, widePath.get(), &png, nullptr)) == Ok; });
    const HRESULT saved = HrFromGdiplus(status);
    if (FAILED(saved)) DeleteOwnFile(path);
    return saved;
}

HRESULT AttachClipboardImage(HWND composeWindow)
{
    // Declared first: every GDI+ object below is gone before GDI+ shuts down.
    const GdiplusSession gdiplus;
    ClipboardPicture picture;
    // Each deleted on every road out, so that nothing of ours stays behind.
    StagingFile staged;
    StagingFile attached;
    RETURN_IF_FAILED(StageClipboardImage(composeWindow, picture, staged));

    ImageAttachRequest request{staged.path().c_str(), {}};
    RETURN_IF_FAILED(StringCchCopyA(request.fileName, kFileNameBufferSize, text::kDefaultImageName));
    RETURN_IF_FAILED(ConfirmImage(composeWindow, request));

    // The staged PNG itself, renamed, is what the host attaches.
    RETURN_IF_FAILED(staged.moveInto(attached, request.fileName));
    // The host's result is not examined.
    Host().CompAttachFile(composeWindow, attached.path().c_str(), nullptr);
    return S_OK;
}

}  // namespace dl

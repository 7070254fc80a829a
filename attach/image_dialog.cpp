#include "attach/image_attach.h"

#include "attach/image_preview.h"
#include "attach/picture_blocks.h"
#include "resources/resource.h"
#include "settings/settings_store.h"

#include <optional>

namespace dl {

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

constexpr ARGB kOpaqueBlack = 0xFF000000;

// The request of the open dialog: messages after WM_INITDIALOG carry no parameter. The busy
// flag keeps this dialog to one instance.
ImageAttachRequest* g_request = nullptr;
// The staged PNG as the frame shows it, made when the dialog opens.
ImagePreview g_preview;

// BeginPaint and EndPaint of one window.
class WindowPaint {
public:
    explicit WindowPaint(HWND window) noexcept : window_(window), dc_(BeginPaint(window, &paint_)) {}
    ~WindowPaint() { EndPaint(window_, &paint_); }
    WindowPaint(const WindowPaint&) = delete;
    WindowPaint& operator=(const WindowPaint&) = delete;

    HDC dc() const noexcept { return dc_; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

void OnInitDialog(HWND dialog, ImageAttachRequest* request) noexcept
{
    g_request = request;
    BeginConfirmDialog(dialog, request->fileName);
    // When the label cannot be built, the template's text stays.
    char label[kImageSizeLabelSize];
    if (SUCCEEDED(FormatImageSizeLabel(request->stagedPath, label))) {
        SetDlgItemTextA(dialog, IDC_IMAGE_SIZE, label);
    }
    g_preview = LoadImagePreview(request->stagedPath, GetDlgItem(dialog, IDC_IMAGE_FRAME));
}

}  // namespace

HRESULT FormatImageSizeLabel(const char* stagedPath, char* label) noexcept
{
    // OPEN_EXISTING: only the size is wanted, and a vanished file is no reason to create one.
    const UniqueFile file(CreateFileA(stagedPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return E_FAIL;
    BYTE header[kPngHeaderSize];
    DWORD read = 0;
    if (!ReadFile(file.get(), header, sizeof(header), &read, nullptr)) return E_FAIL;
    const std::optional<PixelSize> size = PngPixelSize(header, read);
    if (!size) return E_FAIL;
    return FormatImageSizeText(size->width, size->height, GetFileSize(file.get(), nullptr), label, kImageSizeLabelSize);
}

ImagePreview LoadImagePreview(const char* stagedPath, HWND frame) noexcept
{
    // From the file, so that the user sees what will be attached. A failed load leaves 0 x 0.
    UniqueGpImage image;
    GdipLoadImageFromFile(GdiplusPath(stagedPath).get(), image.put());
    UINT width = 0;
    UINT height = 0;
    GdipGetImageWidth(image.get(), &width);
    GdipGetImageHeight(image.get(), &height);

    RECT bounds{};
    GetWindowRect(frame, &bounds);
    ImagePreview preview;
    preview.place = PlacePreview(width, height, bounds.right - bounds.left, bounds.bottom - bounds.top);
    if (preview.place.width <= 0 || preview.place.height <= 0) return preview;
    GdipCreateBitmapFromScan0(preview.place.width, preview.place.height, 0, PixelFormat32bppPARGB, nullptr,
                              preview.image.put());
    UniqueGpGraphics graphics;
    GdipGetImageGraphicsContext(preview.image.get(), graphics.put());
    GdipGraphicsClear(graphics.get(), kOpaqueBlack);
    GdipDrawImageRectI(graphics.get(), image.get(), 0, 0, preview.place.width, preview.place.height);
    return preview;
}

void PaintImagePreview(const ImagePreview& preview, HWND frame) noexcept
{
    const WindowPaint paint(frame);
    if (!paint.dc()) return;
    UniqueGpGraphics graphics;
    GdipCreateFromHDC(paint.dc(), graphics.put());
    GdipGraphicsClear(graphics.get(), kOpaqueBlack);
    const PreviewPlacement& place = preview.place;
    GdipDrawImageRectI(graphics.get(), preview.image.get(), place.x, place.y, place.width, place.height);
}

INT_PTR CALLBACK ImageConfirmDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(dialog, reinterpret_cast<ImageAttachRequest*>(lParam));
        break;
    case WM_PAINT:
        // Then on to the default processing, which paints the rest of the dialog.
        if (g_request) PaintImagePreview(g_preview, GetDlgItem(dialog, IDC_IMAGE_FRAME));
        break;
    case WM_DESTROY:
        g_request = nullptr;
        g_preview = ImagePreview{};
        break;
    default:
        if (g_request) HandleConfirmMessage(dialog, message, wParam, g_request->fileName, setting::kConfirmImage);
        break;
    }
    // Also for WM_INITDIALOG: the initial focus stays unset.
    return FALSE;
}

}  // namespace dl

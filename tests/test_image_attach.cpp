// The image path end to end: the clipboard's bitmap through the PNG file to the host's attach
// call, and its confirmation dialog driven by the robot.
#include "attach/image_attach.h"
#include "attach/image_preview.h"
#include "attach/picture_blocks.h"
#include "common/texts.h"
#include "tests/rig/plugin_fixture.h"
#include "tests/support/clipboard_blocks.h"
#include "tests/support/png_facts.h"
#include "tests/support/zip_reader.h"

#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

using namespace rig;
using namespace Gdiplus::DllExports;

namespace {

constexpr char kDialogCaption[] = "Orvel!ドロップラインプラグイン - 添付する画像を確認してください";
constexpr char kConfirmImage[] = "DLConfirmImage";
constexpr int kNameEdit = 1012, kFrame = 1021, kSizeLabel = 1022, kDoNotShow = 1029;
constexpr COLORREF kBlack = RGB(0, 0, 0);

// Pixels as COLORREF, row by row.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<COLORREF> pixels;
    COLORREF at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

COLORREF FromXrgb(DWORD value) { return RGB((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF); }

// Decodes image bytes with GDI+ (the caller holds a GdiplusSession); empty when they are no image.
Picture Decode(const std::string& bytes, const std::string& scratchFolder)
{
    const std::string path = scratchFolder + "decoded.img";
    Picture picture;
    if (!WriteBytes(path, bytes)) return picture;
    dl::UniqueGpBitmap bitmap;
    if (GdipCreateBitmapFromFile(dl::GdiplusPath(path.c_str()).get(), bitmap.put()) != Gdiplus::Ok) return picture;
    UINT width = 0, height = 0;
    GdipGetImageWidth(bitmap.get(), &width);
    GdipGetImageHeight(bitmap.get(), &height);
    picture.width = static_cast<int>(width);
    picture.height = static_cast<int>(height);
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            Gdiplus::ARGB argb = 0;
            GdipBitmapGetPixel(bitmap.get(), x, y, &argb);
            picture.pixels.push_back(FromXrgb(argb));
        }
    }
    return picture;
}

// Pixels as 0xAARRGGBB.
constexpr DWORD kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF, kYellow = 0xFFFFFF00, kClear = 0;
constexpr DWORD kNoAlpha = 0x00FFFFFF;

// A picture as programs copy a logo: the left half `top` above and `bottom` below (so that rows
// put upside down show), the right half `right`.
struct Logo {
    int width, height;
    DWORD top, bottom, right;
    DWORD At(int x, int y) const { return x >= width / 2 ? right : y < height / 2 ? top : bottom; }
};

// The logo as a CF_DIBV5 block as browsers write it, rows bottom-up.
std::string DibV5(const Logo& logo)
{
    const BITMAPV5HEADER header = AlphaDibHeader(logo.width, logo.height);
    std::string block(reinterpret_cast<const char*>(&header), sizeof(header));
    for (int y = logo.height - 1; y >= 0; --y) {
        for (int x = 0; x < logo.width; ++x) {
            const DWORD pixel = logo.At(x, y);
            block.append(reinterpret_cast<const char*>(&pixel), sizeof(pixel));
        }
    }
    return block;
}

// The image as GDI+ writes it as a PNG file (the caller holds a GdiplusSession).
std::string SavedAsPng(Gdiplus::GpImage* image, const std::string& folder)
{
    const std::string path = folder + "expected.png";
    DeleteFileA(path.c_str());  // the PNG is written new, never over a file
    std::string bytes;
    EXPECT_EQ(dl::SaveImageAsPng(path.c_str(), image), S_OK);
    EXPECT_TRUE(ReadBytes(path, bytes));
    return bytes;
}

std::string PngOf(const Logo& logo, const std::string& folder)
{
    std::vector<DWORD> pixels;
    for (int y = 0; y < logo.height; ++y) {
        for (int x = 0; x < logo.width; ++x) pixels.push_back(logo.At(x, y));
    }
    dl::UniqueGpBitmap bitmap;
    GdipCreateBitmapFromScan0(logo.width, logo.height, logo.width * 4, PixelFormat32bppARGB,
                              reinterpret_cast<BYTE*>(pixels.data()), bitmap.put());
    return SavedAsPng(bitmap.get(), folder);
}

// The PNG with one byte inside its image data changed and the CRC left as it was, as a copy
// damaged on its way has it.
std::string Damaged(std::string png)
{
    png[png.find("IDAT") + 6] ^= 0x10;
    return png;
}

// How the preview shows a pixel composited on the black frame (alpha is 0 or 255 here).
COLORREF OnBlack(DWORD argb) { return (argb >> 24) ? FromXrgb(argb) : kBlack; }

// Pixels of the w x h area at (left, top) that differ from the rig's pattern.
int PatternMismatches(const Picture& picture, int left, int top, int width, int height)
{
    int mismatches = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) mismatches += picture.at(left + x, top + y) != PatternColor(x, y);
    }
    return mismatches;
}

int BlackPixels(const Picture& picture, const RECT& area)
{
    int black = 0;
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) black += picture.at(x, y) == kBlack;
    }
    return black;
}

// The frame control as painted, read back from its own device context on the dialog's thread
// once every pending paint is done.
Picture GrabFrame(Robot& r, HWND dialog)
{
    Picture picture;
    r.OnUiThread([&] {
        UpdateWindow(dialog);
        HWND frame = GetDlgItem(dialog, kFrame);
        RECT client{};
        GetClientRect(frame, &client);
        picture.width = client.right;
        picture.height = client.bottom;
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), picture.width, -picture.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        HDC frameDc = GetDC(frame);
        HDC memory = CreateCompatibleDC(frameDc);
        HBITMAP dib = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ previous = SelectObject(memory, dib);
        BitBlt(memory, 0, 0, picture.width, picture.height, frameDc, 0, 0, SRCCOPY);
        GdiFlush();
        const auto* xrgb = static_cast<const DWORD*>(bits);
        for (int i = 0; i < picture.width * picture.height; ++i) picture.pixels.push_back(FromXrgb(xrgb[i]));
        SelectObject(memory, previous);
        DeleteObject(dib);
        DeleteDC(memory);
        ReleaseDC(frame, frameDc);
    });
    return picture;
}

class ImageAttachTest : public PluginTest {
protected:
    // The one attachment, decoded; fails the test when there is not exactly one.
    Picture AttachedPicture(const std::string& expectedName)
    {
        const auto attachments = host::Attachments();
        EXPECT_EQ(attachments.size(), 1u);
        if (attachments.size() != 1) return {};
        EXPECT_EQ(attachments[0].window, compose_);
        EXPECT_EQ(attachments[0].path, hostTemp_ + expectedName);
        EXPECT_TRUE(attachments[0].readable);
        EXPECT_EQ(attachments[0].bytes.substr(0, 8), "\x89PNG\r\n\x1A\n");
        return Decode(attachments[0].bytes, work_);
    }

    void ExpectPatternAttached(int width, int height, const std::string& name = dl::text::kDefaultImageName)
    {
        const Picture picture = AttachedPicture(name);
        ASSERT_EQ(picture.width, width);
        ASSERT_EQ(picture.height, height);
        EXPECT_EQ(PatternMismatches(picture, 0, 0, width, height), 0);
    }

    // Runs the command with dialog 106 expected; `script` gets the dialog and ends it. Waiting
    // for it to go keeps the robot's sweep from taking the closing dialog for an unexpected one.
    void RunWithDialog(const std::function<void(Robot&, HWND)>& script)
    {
        PressCtrlShiftV([&](Robot& r) {
            HWND dialog = r.WaitDialog(kDialogCaption);
            script(r, dialog);
            r.WaitGone(dialog);
        });
        ExpectRobotClean();
    }

    void ExpectBoxes(const std::vector<std::pair<HWND, std::string>>& expected, UINT icon)
    {
        const auto boxes = RecordedBoxes();
        ASSERT_EQ(boxes.size(), expected.size());
        for (size_t i = 0; i < boxes.size(); ++i) {
            EXPECT_EQ(boxes[i].owner, expected[i].first) << i;
            EXPECT_EQ(boxes[i].text, expected[i].second) << i;
            EXPECT_EQ(boxes[i].caption, dl::text::kPluginName) << i;
            EXPECT_EQ(boxes[i].type, MB_OK | icon) << i;
        }
    }

    void ExpectHostFolderEmpty() const { EXPECT_EQ(List(hostTemp_), std::vector<std::string>{}); }

    DWORD ConfirmSetting() const
    {
        DWORD value = 0xDEAD;
        ReadDword(kConfirmImage, value);
        return value;
    }

    dl::GdiplusSession gdiplus_;  // for decoding what was attached
};

TEST_F(ImageAttachTest, ConfirmationOffAttachesThePatternAsImage1PngAndLeavesNothing)
{
    WriteDword(kConfirmImage, 0);
    ASSERT_TRUE(PutBitmap(MakePatternBitmap(160, 120)));
    PressCtrlShiftV();
    ExpectRobotClean();
    ExpectPatternAttached(160, 120);
    EXPECT_TRUE(RecordedBoxes().empty());
    ExpectHostFolderEmpty();
}

TEST_F(ImageAttachTest, DibOnlyClipboardAttachesTheImage)
{
    WriteDword(kConfirmImage, 0);
    // A bottom-up 24-bit DIB: the system offers CF_BITMAP made from it.
    constexpr int kWidth = 50, kHeight = 30, kStride = (kWidth * 3 + 3) & ~3;
    std::string pixels(kStride * kHeight, '\0');
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const COLORREF c = PatternColor(x, y);
            char* p = &pixels[(kHeight - 1 - y) * kStride + x * 3];
            p[0] = static_cast<char>(GetBValue(c));
            p[1] = static_cast<char>(GetGValue(c));
            p[2] = static_cast<char>(GetRValue(c));
        }
    }
    const BITMAPINFOHEADER header{sizeof(BITMAPINFOHEADER), kWidth, kHeight, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    ASSERT_TRUE(PutDib(header, pixels.data(), pixels.size()));
    PressCtrlShiftV();
    ExpectRobotClean();
    ExpectPatternAttached(kWidth, kHeight);
    EXPECT_TRUE(RecordedBoxes().empty());
    ExpectHostFolderEmpty();
}

TEST_F(ImageAttachTest, DialogOffersImage1PngAndLabelsTheFileThatIsAttached)
{
    WriteDword(kConfirmImage, 2);  // any nonzero value asks; OK then stores 1
    ASSERT_TRUE(PutBitmap(MakePatternBitmap(160, 120)));
    std::string name, label;
    LRESULT limit = 0;
    bool checked = true;
    HWND owner = nullptr;
    RunWithDialog([&](Robot& r, HWND dialog) {
        name = r.Text(dialog, kNameEdit);
        label = r.Text(dialog, kSizeLabel);
        limit = r.Send(GetDlgItem(dialog, kNameEdit), EM_GETLIMITTEXT, 0, 0);
        checked = r.IsChecked(dialog, kDoNotShow);
        owner = GetWindow(dialog, GW_OWNER);
        r.Click(dialog, IDOK);
    });
    EXPECT_EQ(name, "Image1.png");
    EXPECT_EQ(limit, 259);
    EXPECT_FALSE(checked);
    EXPECT_EQ(owner, compose_);
    ExpectPatternAttached(160, 120);
    const auto attachments = host::Attachments();
    ASSERT_EQ(attachments.size(), 1u);
    const size_t bytes = attachments[0].bytes.size();
    ASSERT_TRUE(bytes >= 1024 && bytes < 1024 * 1024) << bytes;
    EXPECT_EQ(label, "160x120 [" + std::to_string(bytes / 1024) + "KB]");
    EXPECT_EQ(ConfirmSetting(), 1u);
    EXPECT_TRUE(RecordedBoxes().empty());
    ExpectHostFolderEmpty();
}

TEST_F(ImageAttachTest, InvalidNameKeepsTheDialogAndPhotoJpgGetsThePngData)
{
    ASSERT_TRUE(PutBitmap(MakePatternBitmap(64, 48)));
    HWND dialogSeen = nullptr;
    std::string refusal;
    bool stillOpen = false;
    RunWithDialog([&](Robot& r, HWND dialog) {
        dialogSeen = dialog;
        r.SetText(dialog, kNameEdit, "a|b.png");
        r.Click(dialog, IDOK);
        refusal = r.DismissMessageBox();
        stillOpen = IsWindowVisible(dialog) != FALSE;
        r.SetText(dialog, kNameEdit, "photo.jpg");
        r.Click(dialog, IDOK);
    });
    EXPECT_EQ(refusal, dl::text::kInvalidFileName);
    EXPECT_TRUE(stillOpen);
    ExpectBoxes({{dialogSeen, dl::text::kInvalidFileName}}, MB_ICONINFORMATION);
    ExpectPatternAttached(64, 48, "photo.jpg");
    ExpectHostFolderEmpty();
}

TEST_F(ImageAttachTest, PreviewIsCentredOnBlackUnscaledWhenSmallShrunkWhenWide)
{
    // Small: drawn pixel for pixel in the middle.
    ASSERT_TRUE(PutBitmap(MakePatternBitmap(120, 80)));
    Picture frame;
    RunWithDialog([&](Robot& r, HWND dialog) {
        frame = GrabFrame(r, dialog);
        r.Click(dialog, IDCANCEL);
    });
    ASSERT_GT(frame.width, 120);
    ASSERT_GT(frame.height, 80);
    const int left = (frame.width - 120) / 2, top = (frame.height - 80) / 2;
    EXPECT_EQ(PatternMismatches(frame, left, top, 120, 80), 0);
    const int blackAround = BlackPixels(frame, {0, 0, frame.width, frame.height}) -
                            BlackPixels(frame, {left, top, left + 120, top + 80});
    EXPECT_EQ(blackAround, frame.width * frame.height - 120 * 80);

    // Wide: full width, height in proportion, black bands above and below only.
    ASSERT_TRUE(PutBitmap(MakePatternBitmap(2000, 200)));
    RunWithDialog([&](Robot& r, HWND dialog) {
        frame = GrabFrame(r, dialog);
        r.Click(dialog, IDCANCEL);
    });
    // A tenth of the frame's width high; centred by that exact height, rounded down.
    const int height = frame.width / 10, y = (10 * frame.height - frame.width) / 20;
    ASSERT_GT(y, 10);
    const RECT above{0, 0, frame.width, y}, below{0, y + height, frame.width, frame.height};
    EXPECT_EQ(BlackPixels(frame, above), frame.width * y);
    EXPECT_EQ(BlackPixels(frame, below), frame.width * (frame.height - y - height));
    const RECT image{1, y + 1, frame.width - 1, y + height - 1};
    EXPECT_LT(BlackPixels(frame, image), (image.right - image.left) * (image.bottom - image.top) / 20);
}

TEST_F(ImageAttachTest, PicturesArriveAsCopiedWithTransparencyAndTheProgramsOwnPng)
{
    const UINT pngFormat = RegisterClipboardFormatA("PNG");
    const Logo logo{64, 64, kRed, kGreen, kClear};
    // Told apart from the bitmap beside it by its size and colours.
    const Logo offered{48, 40, kBlue, kYellow, kClear};
    const Logo opaque{64, 64, kRed, kGreen, kBlue};
    const Logo zeroAlpha{64, 64, kRed & kNoAlpha, kGreen & kNoAlpha, kBlue & kNoAlpha};
    const auto screenshot = [&] {
        return MakeScreenBitmap(64, 64, [&](int x, int y) { return FromXrgb(opaque.At(x, y)); });
    };
    const std::string offeredPng = PngOf(offered, work_);
    // PNG colour types: 2 is RGB, 6 RGB with alpha.
    struct Case {
        const char* clipboard;
        std::function<bool()> put;
        Logo attached;
        std::string bytes;  // when given, the attachment is exactly these
        char colourType;
        const char* label;  // these PNGs are all under 2 KB
    };
    const Case cases[] = {
        {"transparent CF_DIBV5", [&] { return PutBlocks({{CF_DIBV5, DibV5(logo)}}); }, logo, "", 6, "64x64 [1KB]"},
        {"the same with its PNG", [&] { return PutBlocks({{CF_DIBV5, DibV5(logo)}, {pngFormat, offeredPng}}); },
         offered, offeredPng, 6, "48x40 [1KB]"},
        {"the same with a damaged PNG",
         [&] { return PutBlocks({{CF_DIBV5, DibV5(logo)}, {pngFormat, Damaged(offeredPng)}}); }, logo, "", 6,
         "64x64 [1KB]"},
        {"32-bit CF_DIB, alpha 0 everywhere", [&] { return PutBlocks({{CF_DIB, DibV5(zeroAlpha)}}); }, opaque, "", 2,
         "64x64 [1KB]"},
        {"opaque screenshot", [&] { return PutBitmap(screenshot()); }, opaque, "", 2, "64x64 [1KB]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.clipboard);
        host::ClearAttachments();
        ASSERT_TRUE(c.put());
        std::string label;
        Picture frame;
        RunWithDialog([&](Robot& r, HWND dialog) {
            label = r.Text(dialog, kSizeLabel);
            frame = GrabFrame(r, dialog);
            r.Click(dialog, IDOK);
        });
        const auto attachments = host::Attachments();
        ASSERT_EQ(attachments.size(), 1u);
        const std::string& bytes = attachments[0].bytes;
        if (!c.bytes.empty()) { EXPECT_EQ(bytes, c.bytes) << "not the program's own PNG"; }
        ASSERT_GT(bytes.size(), 25u);
        EXPECT_EQ(bytes[25], c.colourType);
        const PngFacts png(bytes);
        ASSERT_TRUE(png.valid());
        const Logo& want = c.attached;
        ASSERT_EQ(png.width(), static_cast<UINT>(want.width));
        ASSERT_EQ(png.height(), static_cast<UINT>(want.height));
        ASSERT_GE(frame.width, want.width);
        ASSERT_GE(frame.height, want.height);
        const int left = (frame.width - want.width) / 2, top = (frame.height - want.height) / 2;
        int wrongPixels = 0, wrongPreview = 0;
        for (int y = 0; y < want.height; ++y) {
            for (int x = 0; x < want.width; ++x) {
                wrongPixels += png.argb(x, y) != want.At(x, y);
                wrongPreview += frame.at(left + x, top + y) != OnBlack(want.At(x, y));
            }
        }
        EXPECT_EQ(wrongPixels, 0);
        EXPECT_EQ(wrongPreview, 0);
        EXPECT_EQ(label, c.label);
        EXPECT_TRUE(RecordedBoxes().empty());
        ExpectHostFolderEmpty();
    }
}

// The helpers below the dialog, on files of known content.
class ImageFileTest : public ::testing::Test {
protected:
    void SetUp() override { folder_ = FreshFolder("image-files"); }
    dl::GdiplusSession gdiplus_;
    std::string folder_;
};

TEST_F(ImageFileTest, PngEncoderIsFoundByItsExactMimeTypeOnly)
{
    // GDI+'s built-in PNG encoder.
    constexpr CLSID kPngEncoder = {0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
    CLSID clsid{};
    EXPECT_GE(dl::FindEncoderClsid(L"image/png", &clsid), 0);
    EXPECT_TRUE(IsEqualCLSID(clsid, kPngEncoder));
    EXPECT_EQ(dl::FindEncoderClsid(L"image/PNG", &clsid), -1);
    EXPECT_EQ(dl::FindEncoderClsid(L"image/x-none", &clsid), -1);
}

TEST_F(ImageFileTest, SaveImageAsPngWritesAJapanesePathAndFailsWithoutAFolder)
{
    dl::UniqueGpBitmap bitmap;
    HBITMAP source = MakePatternBitmap(30, 20);
    ASSERT_EQ(GdipCreateBitmapFromHBITMAP(source, nullptr, bitmap.put()), Gdiplus::Ok);
    DeleteObject(source);
    const std::string path = folder_ + "画像ソ表.png";
    ASSERT_EQ(dl::SaveImageAsPng(path.c_str(), bitmap.get()), S_OK);
    std::string bytes;
    ASSERT_TRUE(ReadBytes(path, bytes));
    const Picture picture = Decode(bytes, folder_);
    ASSERT_EQ(picture.width, 30);
    EXPECT_EQ(PatternMismatches(picture, 0, 0, 30, 20), 0);

    const std::string nowhere = folder_ + "missing\\x.png";
    EXPECT_EQ(dl::SaveImageAsPng(nowhere.c_str(), bitmap.get()), E_FAIL);
    EXPECT_EQ(dl::SaveImageAsPng(path.c_str(), nullptr), E_FAIL);
}

TEST_F(ImageFileTest, SizeLabelTakesThePngsPixelsAndTheFilesBytes)
{
    dl::UniqueGpBitmap bitmap;
    ASSERT_EQ(GdipCreateBitmapFromScan0(1024, 768, 0, PixelFormat24bppRGB, nullptr, bitmap.put()), Gdiplus::Ok);
    const std::string png = SavedAsPng(bitmap.get(), folder_);
    char label[dl::kImageSizeLabelSize] = "unchanged";
    const std::string path = folder_ + "staged.png";
    for (const auto& [bytes, expected] : {std::pair<size_t, const char*>{150000, "1024x768 [146KB]"},
                                          {1310720, "1024x768 [1.3MB]"}}) {
        ASSERT_TRUE(WriteBytes(path, png + std::string(bytes - png.size(), '\0')));
        ASSERT_EQ(dl::FormatImageSizeLabel(path.c_str(), label), S_OK);
        EXPECT_STREQ(label, expected);
    }
    // No label for a file that is no PNG, nor for a vanished one, which is not created by asking.
    ASSERT_TRUE(WriteBytes(path, std::string(150000, 'x')));
    EXPECT_EQ(dl::FormatImageSizeLabel(path.c_str(), label), E_FAIL);
    const std::string gone = folder_ + "gone.png";
    EXPECT_EQ(dl::FormatImageSizeLabel(gone.c_str(), label), E_FAIL);
    EXPECT_FALSE(Exists(gone));
}

std::string BigEndian(uint32_t value) { return {char(value >> 24), char(value >> 16), char(value >> 8), char(value)}; }

// The clipboard's blocks as the image path reads them, whole or hostile: never past their end.
TEST(PictureBlocks, PngLengthEndsAtIendOfAFileWholeInFormOnly)
{
    const dl::GdiplusSession gdiplus;
    const std::string png = PngOf({8, 6, kRed, kGreen, kClear}, FreshFolder("picture-blocks"));
    ASSERT_GT(png.size(), 40u);
    const std::string iend = png.substr(png.size() - 12);
    // The header's byte `at` set to `value`, with its CRC made right.
    const auto header = [&](size_t at, char value) {
        std::string chunk = png.substr(12, 17);  // type and data
        chunk[4 + at] = value;
        return png.substr(0, 12) + chunk + BigEndian(dropline::test::Crc32(chunk)) + png.substr(33);
    };
    std::string hugeChunk = png.substr(0, 8) + "\xFF\xFF\xFF\xF0IHDR" + png.substr(16);
    const std::pair<std::string, size_t> cases[] = {
        {png, png.size()},
        {png + std::string(100, '\0'), png.size()},  // slack after IEND is not the file's
        {png.substr(0, png.size() - 1), 0},           // IEND cut short
        {png.substr(0, png.size() / 2), 0},
        {hugeChunk, 0},
        {"GIF89a" + png.substr(6), 0},
        {"", 0},
        {Damaged(png), 0},                             // the CRC finds it
        {png.substr(0, 8) + iend + png.substr(8), 0},  // IHDR not first
        {header(12, 1), png.size()},                   // interlaced: sane, and the CRC remade right
        {header(3, 0), 0},                             // 0 pixels wide
        {header(4, '\x80'), 0},                        // 2^31 high
        {header(8, 3), 0},                             // 3 bits a sample
        {png.substr(0, 33) + iend, 0},                 // no image data
    };
    for (const auto& [block, length] : cases) {
        EXPECT_EQ(dl::PngFileLength(reinterpret_cast<const BYTE*>(block.data()), block.size()), length) << block.size();
    }
}

TEST(PictureBlocks, AlphaDibOnlyWithARealAlphaInTheTopByteAndPixelsInsideTheBlock)
{
    const Logo logo{8, 6, kRed, kGreen, kClear};
    struct Case {
        const char* what;
        std::function<void(BITMAPV5HEADER&)> change;
        size_t cut;
        bool found;
    };
    const auto none = [](BITMAPV5HEADER&) {};
    const Case cases[] = {
        {"as browsers write it", none, 0, true},
        {"top-down", [](BITMAPV5HEADER& h) { h.bV5Height = -h.bV5Height; }, 0, true},
        {"BI_RGB with the alpha mask", [](BITMAPV5HEADER& h) { h.bV5Compression = BI_RGB; }, 0, true},
        {"one byte short", none, 1, false},
        {"no alpha mask", [](BITMAPV5HEADER& h) { h.bV5AlphaMask = 0; }, 0, false},
        {"header past the block", [](BITMAPV5HEADER& h) { h.bV5Size = 0x7FFFFFFF; }, 0, false},
        {"24 bits", [](BITMAPV5HEADER& h) { h.bV5BitCount = 24; }, 0, false},
        {"red and blue swapped", [](BITMAPV5HEADER& h) { std::swap(h.bV5RedMask, h.bV5BlueMask); }, 0, false},
        {"INT_MIN high, which has no positive", [](BITMAPV5HEADER& h) { h.bV5Height = INT_MIN; }, 0, false},
        {"largest size", [](BITMAPV5HEADER& h) { h.bV5Width = h.bV5Height = INT_MAX; }, 0, false},
        {"colour table past the pixels", [](BITMAPV5HEADER& h) { h.bV5ClrUsed = 0xFFFFFFFF; }, 0, false},
    };
    for (const Case& c : cases) {
        std::string block = DibV5(logo);
        BITMAPV5HEADER header{};
        std::memcpy(&header, block.data(), sizeof(header));
        c.change(header);
        block.replace(0, sizeof(header), reinterpret_cast<const char*>(&header), sizeof(header));
        block.resize(block.size() - c.cut);
        const auto dib = dl::FindAlphaDib(reinterpret_cast<const BYTE*>(block.data()), block.size());
        EXPECT_EQ(dib.has_value(), c.found) << c.what;
        if (!dib) continue;
        const bool bottomUp = header.bV5Height > 0;
        EXPECT_EQ(dib->width, 8) << c.what;
        EXPECT_EQ(dib->height, 6) << c.what;
        EXPECT_EQ(dib->RowOffset(0), sizeof(header) + (bottomUp ? 5 * 32 : 0)) << c.what;
    }
    // Alpha 0 everywhere is no transparency.
    const std::string opaque = DibV5({8, 6, kRed & kNoAlpha, kGreen & kNoAlpha, kBlue & kNoAlpha});
    EXPECT_FALSE(dl::FindAlphaDib(reinterpret_cast<const BYTE*>(opaque.data()), opaque.size()));
}

}  // namespace

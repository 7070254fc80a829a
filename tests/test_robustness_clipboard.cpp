// Bad and unusual clipboard contents, and a clipboard that changes under the command: each ends
// in the right message (or none), with nothing of ours left in the host's folder.
#include "attach/text_dialog.h"
#include "common/texts.h"
#include "tests/support/clipboard_blocks.h"
#include "tests/support/clipboard_race.h"
#include "tests/support/png_facts.h"
#include "tests/support/robustness.h"

using namespace rig;
namespace text = dl::text;

namespace {

// Formats of other programs: a sound, a spreadsheet, a web page and rich text. None is taken.
bool PutForeignFormats()
{
    return PutBlocks({{CF_RIFF, "RIFF\0\0\0\0WAVE"},
                      {CF_SYLK, "ID;P\r\nE\r\n"},
                      {RegisterClipboardFormatA("HTML Format"), "Version:0.9\r\n<b>bold</b>"},
                      {RegisterClipboardFormatA("Rich Text Format"), "{\\rtf1 text}"}});
}

std::string Bytes(const void* data, size_t size) { return std::string(static_cast<const char*>(data), size); }

// The pixel size from a PNG's header, without decoding the image.
bool PngHeaderSize(const std::string& png, UINT& width, UINT& height)
{
    if (png.size() < 24 || png.compare(12, 4, "IHDR") != 0) return false;
    const auto bigEndian = [&](size_t at) {
        UINT value = 0;
        for (size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<BYTE>(png[at + i]);
        return value;
    };
    width = bigEndian(16);
    height = bigEndian(20);
    return true;
}

// 1 bpp, black and white in a checkerboard of 8 x 8 squares.
HBITMAP MakeMonochromeBitmap(int width, int height)
{
    const int stride = ((width + 15) / 16) * 2;
    std::string bits(static_cast<size_t>(stride) * height, '\0');
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (((x / 8) + (y / 8)) % 2) bits[static_cast<size_t>(y) * stride + x / 8] |= static_cast<char>(0x80 >> (x % 8));
        }
    }
    return CreateBitmap(width, height, 1, 1, bits.data());
}

constexpr DWORD kOpaqueWhite = 0xFFFFFFFF, kOpaqueBlack = 0xFF000000;

// 32 bpp with an alpha channel that runs from transparent to opaque across the width.
HBITMAP MakeAlphaBitmap(int width, int height)
{
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    auto* pixels = static_cast<DWORD*>(bits);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) pixels[y * width + x] = (static_cast<DWORD>(x * 255 / width) << 24) | 0x00336699;
    }
    return bitmap;
}

TEST(TextPreviewTest, ShowsTheStartOfLongTextsInWholeCharacters)
{
    EXPECT_EQ(dl::TextPreviewLength("", 4), 0u);
    EXPECT_EQ(dl::TextPreviewLength("abc", 4), 3u);
    EXPECT_EQ(dl::TextPreviewLength("abcd", 4), 4u);
    EXPECT_EQ(dl::TextPreviewLength("abcdef", 4), 4u);
    // 表 is two bytes: one that would straddle the limit stays out whole.
    EXPECT_EQ(dl::TextPreviewLength("abc表", 4), 3u);
    EXPECT_EQ(dl::TextPreviewLength("ab表", 4), 4u);
    // A lead byte at the very end has no partner and counts alone.
    EXPECT_EQ(dl::TextPreviewLength("ab\x95", 4), 3u);
    EXPECT_EQ(dl::TextPreviewLength(std::string(100000, 'x').c_str()), dl::kTextPreviewLimit);
    // In UTF-16, a surrogate pair (😀) is one character.
    EXPECT_EQ(dl::TextPreviewLength(L"ab\U0001F600", 3), 2u);
    EXPECT_EQ(dl::TextPreviewLength(L"ab\U0001F600", 4), 4u);
}

using ClipboardRobustnessTest = RobustnessTest;

TEST_F(ClipboardRobustnessTest, NothingOrOnlyForeignFormatsGiveTheInformationMessage)
{
    const std::function<bool()> clipboards[] = {ClearClipboard, PutForeignFormats};
    for (const auto& put : clipboards) {
        ExpectNoGrowth([&] {
            ASSERT_TRUE(put());
            RunExpectingMessage(text::kNothingToAttach, MB_ICONINFORMATION);
            ExpectHostTemp();
        });
    }
}

ClipboardBlock LocaleBlock(LCID locale) { return {CF_LOCALE, Bytes(&locale, sizeof(locale))}; }

// Text as the program put it, in either order, whatever keyboard was active (CF_LOCALE): Unicode text
// in code page 932 if it holds it exactly, else whole in UTF-8 with a byte-order mark; ANSI text alone as it is.
TEST_F(ClipboardRobustnessTest, TextArrivesAsTheProgramPutIt)
{
    WriteDword("DLConfirmText", 1);
    const std::wstring japanese = L"日本語のテキスト", emoji = L"日本語 😀 𠮷";
    const ClipboardBlock unicode{CF_UNICODETEXT, Bytes(japanese.c_str(), 18)},
        emojiUnicode{CF_UNICODETEXT, Bytes(emoji.c_str(), 20)}, ansi{CF_TEXT, std::string("日本語のテキスト", 17)},
        emojiAnsi{CF_TEXT, std::string("日本語 ? ?", 11)};
    const std::string emojiFile = "\xEF\xBB\xBF\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xF0\x9F\x98\x80 \xF0\xA0\xAE\xB7";
    const struct {
        std::wstring text;
        std::string file;
        std::vector<ClipboardBlock> blocks = {};  // none: the text as Unicode text alone
    } cases[] = {
        {L"日本語のテキスト 山﨑様 ①\r\n", "日本語のテキスト 山﨑様 ①\r\n"},
        {L"𠮷野家の山﨑様 Müller ① 😀", "\xEF\xBB\xBF\xF0\xA0\xAE\xB7\xE9\x87\x8E\xE5\xAE\xB6\xE3\x81\xAE\xE5\xB1\xB1"
                                      "\xEF\xA8\x91\xE6\xA7\x98 M\xC3\xBCller \xE2\x91\xA0 \xF0\x9F\x98\x80"},
        {japanese, "日本語のテキスト", {unicode, LocaleBlock(0x0409)}},
        {japanese, "日本語のテキスト", {unicode, LocaleBlock(0x0804)}},
        {japanese, "日本語のテキスト", {unicode, LocaleBlock(0x0419)}},
        {japanese, "日本語のテキスト", {ansi, LocaleBlock(0x0409)}},
        {L"ｱｶ", "ｱｶ", {{CF_TEXT, std::string("ｱｶ", 3)}, LocaleBlock(0x0409)}},  // read in code page 1252, "±¶"
        {L"café", "\xEF\xBB\xBF" "caf\xC3\xA9", {{CF_UNICODETEXT, Bytes(L"café", 10)}, LocaleBlock(0x0409)}},
        {japanese, "日本語のテキスト", {ansi, unicode}},
        {japanese, "日本語のテキスト", {unicode, ansi}},
        {emoji, emojiFile, {emojiAnsi, emojiUnicode}},
        {emoji, emojiFile, {emojiUnicode, emojiAnsi}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(c.blocks.empty() ? PutUnicodeText(c.text) : PutBlocks(c.blocks));
        std::wstring preview;
        Run(InDialog(kTextCaption, [&](Robot& r, HWND dialog) { preview = r.WideText(dialog, 1013); }));
        EXPECT_EQ(preview, c.text);
        EXPECT_EQ(AttachedBytes(), c.file);
        ExpectOnlyBoxes({});
        ExpectHostTemp();
    }
}

TEST_F(ClipboardRobustnessTest, TextBlocksOfOneByteAndWithoutAnyNul)
{
    // Just the terminator: an empty text file, as the text says.
    ASSERT_TRUE(PutTextBlock(std::string(1, '\0')));
    ExpectNoGrowth([&] {
        Run();
        EXPECT_EQ(AttachedBytes(), "");
        ExpectOnlyBoxes({});
        ExpectHostTemp();
    });

    // No NUL anywhere: never a byte beyond the block (the system may end it early).
    ASSERT_TRUE(PutTextBlock("abcdefgh"));
    WriteDword("DLConfirmText", 1);
    std::string preview;
    Run(InDialog(kTextCaption, [&](Robot& r, HWND dialog) { preview = r.Text(dialog, 1013); }));
    const std::string attached = AttachedBytes();
    EXPECT_EQ(preview, attached);
    EXPECT_GE(attached.size(), 7u);
    EXPECT_EQ(std::string("abcdefgh").compare(0, attached.size(), attached), 0) << attached;
    ExpectOnlyBoxes({});
    ExpectHostTemp();
}

TEST_F(ClipboardRobustnessTest, FiftyMegabytesOfText)
{
    std::string big(50u << 20, 'x');
    for (size_t i = 99; i < big.size(); i += 100) big[i] = '\n';
    ASSERT_TRUE(PutText(big));

    Run();
    EXPECT_EQ(AttachedBytes(), big);
    ExpectOnlyBoxes({});
    ExpectHostTemp();

    // The dialog shows the start of the text; the file gets all of it.
    WriteDword("DLConfirmText", 1);
    LRESULT previewLength = 0;
    Run(InDialog(kTextCaption, [&](Robot& r, HWND dialog) {
        previewLength = r.Send(GetDlgItem(dialog, 1013), WM_GETTEXTLENGTH, 0, 0);
    }));
    EXPECT_EQ(previewLength, static_cast<LRESULT>(dl::kTextPreviewLimit));
    EXPECT_EQ(AttachedBytes(), big);
    ExpectOnlyBoxes({});
    ExpectHostTemp();
}

TEST_F(ClipboardRobustnessTest, SmallMonochromeAndAlphaBitmapsBecomePngs)
{
    WriteDword("DLConfirmImage", 1);
    ASSERT_TRUE(PutBitmap(MakePatternBitmap(1, 1)));
    ExpectNoGrowth([&] {
        Run(InDialog(kImageCaption, nullptr));
        const PngFacts png(AttachedBytes());
        ASSERT_TRUE(png.valid());
        EXPECT_EQ(png.width(), 1u);
        EXPECT_EQ(png.height(), 1u);
        EXPECT_EQ(png.argb(0, 0) & 0xFFFFFF, PatternColor(0, 0));
        ExpectOnlyBoxes({});
        ExpectHostTemp();
    });

    ASSERT_TRUE(PutBitmap(MakeMonochromeBitmap(37, 19)));
    Run(InDialog(kImageCaption, nullptr));
    {
        const PngFacts png(AttachedBytes());
        ASSERT_TRUE(png.valid());
        EXPECT_EQ(png.width(), 37u);
        EXPECT_EQ(png.height(), 19u);
        EXPECT_EQ(png.argb(0, 0), kOpaqueBlack);
        EXPECT_EQ(png.argb(8, 0), kOpaqueWhite);
        EXPECT_EQ(png.argb(36, 18), kOpaqueBlack);
    }

    // The colour comes through; the alpha of the clipboard's bitmap is not part of the image.
    ASSERT_TRUE(PutBitmap(MakeAlphaBitmap(64, 4)));
    Run(InDialog(kImageCaption, nullptr));
    {
        const PngFacts png(AttachedBytes());
        ASSERT_TRUE(png.valid());
        EXPECT_EQ(png.width(), 64u);
        EXPECT_EQ(png.argb(0, 0) & 0xFFFFFF, 0x336699u);
        EXPECT_EQ(png.argb(63, 3) & 0xFFFFFF, 0x336699u);
    }
    ExpectOnlyBoxes({});
    ExpectHostTemp();
}

TEST_F(ClipboardRobustnessTest, DeviceIndependentBitmapsWellFormedOrNot)
{
    // Only a version 5 bitmap with alpha: the system offers it as a bitmap, and it is attached.
    const BITMAPV5HEADER v5 = AlphaDibHeader(4, 4);
    ASSERT_TRUE(PutBlocks({{CF_DIBV5, Bytes(&v5, sizeof(v5)) + std::string(64, static_cast<char>(0x80))}}));
    Run();
    const PngFacts png(AttachedBytes());
    ASSERT_TRUE(png.valid());
    EXPECT_EQ(png.width(), 4u);
    ExpectOnlyBoxes({});
    ExpectHostTemp();

    // A header promising far more pixels than the block holds, and a block too short for any
    // header. Whatever bitmap the system makes of them (Wine 10 makes a 1x1 one of the short
    // block, Wine 8 none), the command attaches a whole PNG of it or tells the user, and leaves
    // nothing behind.
    const BITMAPINFOHEADER huge{sizeof(BITMAPINFOHEADER), 100000, 100000, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    for (const std::string& block : {Bytes(&huge, sizeof(huge)) + std::string(16, '\x7f'), std::string(8, '\x28')}) {
        ASSERT_TRUE(PutBlocks({{CF_DIB, block}}));
        Run([](Robot& r) { r.DismissMessageBoxIfShown(); });
        if (RecordedBoxes().empty()) {
            EXPECT_TRUE(PngFacts(AttachedBytes()).valid());
        } else {
            ExpectOnlyBoxes({{compose_, text::kAttachFailed, MB_ICONERROR}});
            EXPECT_TRUE(host::Attachments().empty());
        }
        ExpectHostTemp();
    }
}

TEST_F(ClipboardRobustnessTest, TenThousandByTenThousandBitmapAndItsDialog)
{
    ASSERT_TRUE(PutBitmap(MakeMonochromeBitmap(10000, 10000)));
    Run();
    UINT width = 0, height = 0;
    EXPECT_TRUE(PngHeaderSize(AttachedBytes(), width, height));
    EXPECT_EQ(width, 10000u);
    EXPECT_EQ(height, 10000u);
    ExpectOnlyBoxes({});
    ExpectHostTemp();

    // The dialog opens and repaints; on a busy machine, staging so large a picture takes a while.
    WriteDword("DLConfirmImage", 1);
    const auto repaint = [](Robot& r, HWND dialog) {
        r.OnUiThread([dialog] {
            InvalidateRect(dialog, nullptr, TRUE);
            UpdateWindow(dialog);
        });
        EXPECT_EQ(r.Text(dialog, 1022).rfind("10000x10000 [", 0), 0u);
    };
    Run(InDialog(kImageCaption, repaint, IDOK, 60000));
    EXPECT_FALSE(AttachedBytes().empty());
    ExpectOnlyBoxes({});
    ExpectHostTemp();
}

TEST_F(ClipboardRobustnessTest, ClipboardChangedBetweenTheFormatTestAndTheReadFails)
{
    ASSERT_TRUE(InstallClipboardRace(plugin_));
    const std::string file = File("a.txt");
    const auto before = Snapshot(work_);
    const struct {
        std::function<bool()> put;
        std::function<bool()> change;
    } races[] = {
        {[] { return PutBitmap(MakePatternBitmap(4, 4)); }, [] { return PutText("now text"); }},
        {[&] { return PutFiles({file}); }, [] { return PutText("now text"); }},
        {[] { return PutText("text"); }, [] { return PutBitmap(MakePatternBitmap(4, 4)); }},
        {[] { return PutText("text"); }, ClearClipboard},
    };
    for (const auto& race : races) {
        ASSERT_TRUE(race.put());
        ChangeClipboardBeforeNextOpen([&] { EXPECT_TRUE(race.change()); });
        RunExpectingMessage(text::kAttachFailed, MB_ICONERROR);
        ExpectHostTemp();
    }
    EXPECT_EQ(Snapshot(work_), before);
}

// Another program holding the clipboard for a moment (as clipboard managers do after every copy)
// is waited for in each path; one that keeps it gives the one message.
TEST_F(ClipboardRobustnessTest, ClipboardHeldOpenByAnotherProgram)
{
    ASSERT_TRUE(InstallClipboardRace(plugin_));
    const std::string file = File("a.txt");
    const std::function<bool()> clipboards[] = {
        [] { return PutBitmap(MakePatternBitmap(4, 4)); },
        [&] { return PutFiles({file}); },
        [] { return PutText("text"); },
    };
    for (const auto& put : clipboards) {
        ASSERT_TRUE(put());
        {
            const ClipboardHeldElsewhere held(true);
            ASSERT_TRUE(held.holding());
            Run();
            EXPECT_TRUE(held.released()) << "the plug-in never met the held clipboard";
            EXPECT_EQ(host::Attachments().size(), 1u);
            ExpectOnlyBoxes({});
        }
        const ClipboardHeldElsewhere held;
        ASSERT_TRUE(held.holding());
        RunExpectingMessage(text::kAttachFailed, MB_ICONERROR);
        ExpectHostTemp();
    }
}

}  // namespace

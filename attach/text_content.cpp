#include "attach/text_content.h"

#include "names/nearest_names.h"

#include <utility>

namespace dl {

namespace {

constexpr char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";

std::string Utf8WithByteOrderMark(const std::wstring& text)
{
    const int textLength = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), textLength, nullptr, 0, nullptr, nullptr);
    std::string bytes(kUtf8ByteOrderMark);
    const size_t markLength = bytes.size();
    bytes.resize(markLength + static_cast<size_t>(length));
    WideCharToMultiByte(CP_UTF8, 0, text.data(), textLength, &bytes[markLength], length, nullptr, nullptr);
    return bytes;
}

}  // namespace

TextFile ChooseTextFile(ClipboardTexts texts)
{
    TextFile file;
    if (!texts.hasUnicode || (texts.ansiFirst && WideFromAnsi(texts.ansi, texts.localeCodePage) == texts.unicode)) {
        file.bytes = std::move(texts.ansi);
    } else if (!ToExactAnsi(texts.unicode, file.bytes)) {
        file.bytes = Utf8WithByteOrderMark(texts.unicode);
        file.unicode = std::move(texts.unicode);
    }
    return file;
}

}  // namespace dl

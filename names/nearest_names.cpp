#include "names/nearest_names.h"

#include "names/file_name.h"

#include <windows.h>

#include <cstring>
#include <set>

namespace dl {

namespace {

int Length(const std::wstring& text) noexcept { return static_cast<int>(text.size()); }

// A UTF-16 unit gives at most two bytes in a double-byte code page.
std::string ToAnsi(const std::wstring& text, DWORD flags, BOOL* usedDefault)
{
    std::string ansi(text.size() * 2, '\0');
    if (text.empty()) return ansi;
    ansi.resize(static_cast<size_t>(WideCharToMultiByte(CP_ACP, flags, text.data(), Length(text), &ansi[0],
                                                        static_cast<int>(ansi.size()), nullptr, usedDefault)));
    return ansi;
}

// One character by its best fit, or '_'.
std::string NearestCharacter(wchar_t character)
{
    char bytes[2] = {};
    BOOL usedDefault = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, 0, &character, 1, bytes, sizeof(bytes), nullptr, &usedDefault);
    if (length == 0 || usedDefault) return "_";
    const auto single = static_cast<unsigned char>(bytes[0]);
    if (length == 1 && (single < 0x20 || std::strchr(kCharactersRefusedInFileNames, bytes[0]))) return "_";
    return std::string(bytes, static_cast<size_t>(length));
}

// Upper case by the system's own table, as the file system compares names.
std::wstring CaseKey(const std::string& name)
{
    std::wstring key = WideFromAnsi(name);
    if (!key.empty()) LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, key.c_str(), Length(key), &key[0], Length(key));
    return key;
}

// "name (n).ext"; a leading dot starts no extension (".profile (2)"), and folders have none.
std::string Numbered(const SiblingName& sibling, int number)
{
    const size_t dot = sibling.folder ? std::string::npos : sibling.name.rfind('.');
    const size_t end = (dot == std::string::npos || dot == 0) ? sibling.name.size() : dot;
    return sibling.name.substr(0, end) + " (" + std::to_string(number) + ")" + sibling.name.substr(end);
}

}  // namespace

bool ToExactAnsi(const std::wstring& text, std::string& ansi)
{
    BOOL usedDefault = FALSE;
    std::string converted = ToAnsi(text, WC_NO_BEST_FIT_CHARS, &usedDefault);
    if (usedDefault || (converted.empty() && !text.empty())) return false;
    ansi = std::move(converted);
    return true;
}

std::string BestFitAnsi(const std::wstring& text) { return ToAnsi(text, 0, nullptr); }

std::wstring WideFromAnsi(const std::string& text, UINT codePage)
{
    std::wstring wide(text.size(), L'\0');
    if (text.empty()) return wide;
    wide.resize(static_cast<size_t>(MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()),
                                                        &wide[0], Length(wide))));
    return wide;
}

std::string NearestName(const std::wstring& name)
{
    std::string nearest;
    for (size_t i = 0; i < name.size(); ++i) {
        // The code page holds nothing beyond the Basic Multilingual Plane: a pair is one '_'.
        if (i + 1 < name.size() && IS_SURROGATE_PAIR(name[i], name[i + 1])) {
            nearest += '_';
            ++i;
        } else {
            nearest += NearestCharacter(name[i]);
        }
    }
    if (!IsValidFileName(nearest.c_str())) nearest.insert(0, 1, '_');
    return nearest;
}

SiblingName NameInCodePage(const std::wstring& name, bool folder)
{
    SiblingName sibling{{}, false, folder};
    sibling.exact = ToExactAnsi(name, sibling.name);
    if (!sibling.exact) sibling.name = NearestName(name);
    return sibling;
}

std::vector<std::string> DistinctNames(const std::vector<SiblingName>& siblings)
{
    std::vector<std::string> names(siblings.size());
    std::set<std::wstring> taken;
    for (const bool exact : {true, false}) {
        for (size_t i = 0; i < siblings.size(); ++i) {
            if (siblings[i].exact != exact) continue;
            std::string name = siblings[i].name;
            for (int number = 2; !taken.insert(CaseKey(name)).second; ++number) name = Numbered(siblings[i], number);
            names[i] = std::move(name);
        }
    }
    return names;
}

}  // namespace dl

#include "common/fresh_folder.h"

#include "common/hresult.h"

#include <objbase.h>

namespace dl {

namespace {

constexpr int kGuidTextCapacity = 40;
constexpr size_t kShortNameLength = 8;
// A new GUID meets a taken name by chance alone, and twice in a row practically never.
constexpr int kNameTries = 4;

HRESULT NewName(FolderName kind, std::string& name)
{
    GUID id;
    RETURN_IF_FAILED(CoCreateGuid(&id));
    wchar_t text[kGuidTextCapacity];
    if (StringFromGUID2(id, text, kGuidTextCapacity) == 0) return E_FAIL;
    name.clear();
    for (const wchar_t* c = text; *c; ++c) name += static_cast<char>(*c);  // digits, letters, braces
    if (kind == FolderName::kShort) name = name.substr(1, kShortNameLength);
    return S_OK;
}

}  // namespace

HRESULT CreateFreshFolder(const std::string& parent, FolderName kind, std::string& folder)
{
    for (int tries = 0; tries < kNameTries; ++tries) {
        std::string name;
        RETURN_IF_FAILED(NewName(kind, name));
        const std::string path = parent + name;
        if (CreateDirectoryA(path.c_str(), nullptr)) {
            folder = path;
            return S_OK;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) return E_FAIL;
    }
    return E_FAIL;
}

}  // namespace dl

// Checks shared by the tests of the attach command: what the user was told and what the host got.
#pragma once

#include "tests/rig/plugin_fixture.h"

#include <string>
#include <vector>

namespace rig {

struct ExpectedBox {
    HWND owner;
    std::string text;
    UINT icon;
};

// Exactly these boxes were shown since the last ClearRecordedBoxes, in order: each with the
// plug-in's caption, an OK button only, and this owner, text and icon.
void ExpectOnlyBoxes(const std::vector<ExpectedBox>& expected);

// The host got exactly one file, for `compose`, staged as `fileName` in the host's temporary
// folder, holding exactly `bytes`; and the folder is empty again.
void ExpectOnlyAttachment(HWND compose, const std::string& tempFolder, const std::string& fileName,
                          const std::string& bytes);

}  // namespace rig

// The plug-in's one version. The version resource, the information record (text::kVersion), the
// package's name (CMakeLists.txt reads these two lines) and the guide's history all take it.
#pragma once

#define DROPLINE_VERSION_MAJOR 1
#define DROPLINE_VERSION_MINOR 1

#define DROPLINE_STRINGIZE_(x) #x
#define DROPLINE_STRINGIZE(x) DROPLINE_STRINGIZE_(x)
// "1.1" for the host; the version resource's texts carry four parts.
#define DROPLINE_VERSION_TEXT DROPLINE_STRINGIZE(DROPLINE_VERSION_MAJOR) "." DROPLINE_STRINGIZE(DROPLINE_VERSION_MINOR)
#define DROPLINE_FILE_VERSION_TEXT DROPLINE_VERSION_TEXT ".0.0"

// File versions: the chain of file versioners that read a version out of data files (fonts, colour
// profiles, character maps, scripts, converter tables), the operating system's version resource for
// everything else, and the comparison the file operations decide replacements with.
//
// Everything here lives in mw::versioning: the product checks have a compareVersions of their own that
// compares version texts, while this one compares two files.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace mw::versioning {

constexpr std::uint32_t kUnknownPart = 0xFFFFFFFFu;

// Four numbers compared in this order; kUnknownPart in any place means unknown.
struct FileVersion {
    std::uint32_t major = kUnknownPart;
    std::uint32_t minor = kUnknownPart;
    std::uint32_t build = kUnknownPart;
    std::uint32_t revision = kUnknownPart;
};

// The kind a versioner reports for the file it recognised.
enum FileKind : int {
    kindNone = 0,  // no versioner recognised the file
    kindColorProfile = 2,
    kindOTFFont = 3,
    kindPFBFont = 4,
    kindUnicodeMap = 5,
    kindICU = 6,
    kindFontDatabase = 7,
    kindCMap = 8,
    kindJSX = 9,
};

// A versioner recognises one kind of file by its name and the head of its content.
class VersionerABC {
  public:
    // True when the file at the Windows path is of this versioner's kind; `version` and `kind` are then
    // filled. Reads only a bounded head of the file.
    virtual bool getVersion(const std::wstring& path, FileVersion& version, int& kind) = 0;
    virtual ~VersionerABC() = default;
};

using VersionerFactory = std::unique_ptr<VersionerABC> (*)();
// The process-wide list, in the order the versioners are tried. Filled before main, read only after.
const std::vector<VersionerFactory>& versionerList();
void registerVersioner(VersionerFactory factory);

// A static object of this type appends a factory of T to the list.
template <class T>
struct Versioner {
    Versioner() {
        registerVersioner([]() -> std::unique_ptr<VersionerABC> { return std::make_unique<T>(); });
    }
};

// Outcomes of getFileVersion.
enum GetFileVersionStatus : int {
    versionRecognised = 0,
    versionError = 1,
    versionCannotOpen = 2,
    versionNotRecognised = 3,
    versionMissingArgument = 4,
};

// Tries the versioners in order on the file (path as UTF-8). versionRecognised with `version` and
// `kind` filled; versionNotRecognised; versionCannotOpen when the path is empty or the file cannot be
// opened exclusively; versionError when a versioner failed; versionMissingArgument for a null argument.
int getFileVersion(const char* utf8Path, FileVersion* version, int* kind);

// 1 when the file at `first` is older than `second` (or nothing better is known), 0 when both versions
// are equal, -1 when `first` is newer. Logs which versioner decided and the versions it read. When
// `firstKind` is given it receives the kind the versioners reported for `first` (kindNone if none).
int compareVersions(const std::wstring& first, const std::wstring& second, int* firstKind = nullptr);

// Outcomes of compareVersionNumbers.
enum CompareNumbersStatus : int { numbersCompared = 0, numbersError = 1, numbersUnknown = 4 };
// numbersUnknown (answer untouched) when a part of a or b is unknown; otherwise numbersCompared and
// `answer` = -1 when a < b, 1 when a > b, 0 when equal, part by part from major.
int compareVersionNumbers(const FileVersion& a, const FileVersion& b, int& answer);

// The fixed file version of the file's version resource as "major.minor.build.revision": 0, or -1 when
// it has none (text "0.0.0.0") or it cannot be read (text untouched).
int osFileVersionText(const std::wstring& path, std::wstring& text);

// "a.b.c.d" -> four numbers; at most 31 characters are read, a missing or non-numeric part is 0.
FileVersion parseVersionText(std::wstring_view text);

// The FileDescription of the file's version resource, in the user's default language, else in US
// English (1033). False when the file is missing or carries none.
bool fileDescription(const std::wstring& path, std::wstring& text);

}  // namespace mw::versioning

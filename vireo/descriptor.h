// The application descriptor: the default descriptor's text, and the parsed DescriptorDocument that the
// settings dialogs and packaging read and update before writing it back.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "vireo/settings_store.h"

namespace vireo {

// The runtime's application-descriptor namespace for version 1.0 (docs/formats.md).
inline constexpr wchar_t kDescriptorNamespace[] = L"http://ns.orvex.com/kite/application/1.0";

// `text` without the characters XML cannot hold (most control characters, unpaired surrogates): values
// are typed text, and one such character would make a whole file unwritable.
std::wstring xmlChars(std::wstring_view text);
// 1 to 212 characters, each one of a-z, A-Z, 0-9, "." or "-".
bool isValidApplicationId(std::wstring_view id);
// The id a default descriptor gets for an application file name when none is set.
std::wstring exampleApplicationId(std::wstring_view fileName);
// The default descriptor, one line, from the settings.
std::wstring defaultDescriptorText(SettingsStore& store);
// Writes it (UTF-8 with byte-order mark) over LMV folder + base name + "-app.xml". Always true.
bool writeDefaultDescriptor(SettingsStore& store);
bool writeDefaultDescriptor();

namespace descriptor {
constexpr int usable = 0;
constexpr int parseFailed = -1;
constexpr int noApplication = 1;
constexpr int applicationNotElement = 2;
constexpr int noNamespace = 3;
constexpr int preRelease = 5;
}  // namespace descriptor

// Parses `path` with a new parser, which becomes the current one; see descriptor:: for the results.
int validateDescriptor(std::wstring_view path);
// The same on a descriptor's bytes; `name` is remembered as its path when it is usable.
int validateDescriptorText(std::string_view bytes, std::wstring_view name);
// Validates the default descriptor (rewriting it once when it has a pre-release namespace); a failure
// shows string 8031 and is returned.
int checkDefaultDescriptor(SettingsStore& store);
// The same for the custom descriptor: 1 when none is chosen, 2 when its path is empty.
int checkCustomDescriptor(SettingsStore& store);
// Writes the current document to `path` (UTF-8, indented): 0, or -1.
int saveDescriptor(std::wstring_view path);
int saveDefaultDescriptor(SettingsStore& store);

// Element operations on the current document: -1 without a parser, 1 without a document, 2 when the
// element (or parent) is missing, 0 on success.
int readElementText(std::wstring_view name, char* buffer, std::size_t size = 256);  // ANSI, cut to fit
int readElementText(std::wstring_view name, std::wstring& text);                    // trimmed
int setInitialWindowText(std::wstring_view child, std::wstring_view value);
int setChildText(std::wstring_view parent, std::wstring_view child, std::wstring_view value);
int removeChild(std::wstring_view parent, std::wstring_view child);
int clearElementText(std::wstring_view name);

// The unit exchanged with the file-type dialog; 8-bit fields hold UTF-8, so names and icon paths in
// any script survive the trip.
struct FileTypeRecord {
    char name[128] = {};
    char extension[128] = {};
    wchar_t description[256] = {};
    wchar_t contentType[256] = {};
    char image128x128[256] = {};
    char image48x48[256] = {};
    char image32x32[256] = {};
    char image16x16[256] = {};
    unsigned char present = 0;  // 1: the entry stays (updated or added); else it is removed
    char previousName[128] = {};
};

// An 8-bit field of a record as text, and text into one (cut at a character boundary to fit).
std::wstring fieldText(const char* field, std::size_t capacity);
void setField(char* field, std::size_t capacity, std::wstring_view text);

// ";Doc(abc);Img(png);" for the current document's file types; `list` is emptied first.
int listFileTypes(std::wstring& list);
// The names of the file types, in document order (names may hold any character, ";" and "(" too).
int listFileTypeNames(std::vector<std::wstring>& names);
int readFileType(std::wstring_view name, FileTypeRecord& record);
int addFileType(const FileTypeRecord& record);
int updateFileType(const FileTypeRecord& record);
int removeFileType(std::wstring_view name);
// The application's icon texts (128, 48, 32, 16), then each file type's, skipping missing ones.
int collectIcons(std::vector<std::wstring>& icons);

// Packaging: the stored icons into the default descriptor's `icon` element, then saved.
int updateApplicationIcons(SettingsStore& store);

struct AdvancedSettings {
    std::wstring installFolder, programMenuFolder;
    std::wstring width, height, x, y;
    std::wstring minWidth, minHeight, maxWidth, maxHeight;
    bool maximizable = true, minimizable = true, resizable = true, visible = true, customUpdateUI = false;
};
// The advanced settings dialog's fields into the current document (not saved).
int updateAdvancedSettings(const AdvancedSettings& settings);

}  // namespace vireo

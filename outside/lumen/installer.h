// The tool's installer step: the program folder the extension expects, and the user's settings folder.
#pragma once
#include <filesystem>
#include <iosfwd>
#include <string>

namespace lumen {

inline constexpr wchar_t kDefaultHostFolder[] = L"C:\\Program Files\\Orvex\\Lumen TX4";
inline constexpr wchar_t kKiteProfileName[] = L"Orvex KITE 1.0";
inline constexpr wchar_t kKiteProfileFile[] = L"OrvexKITE1_0.xml";

// The user's configuration folder (lx.settingsURI), with a trailing "\".
std::wstring settingsFolder();
// The extensions' folder below a program folder.
std::wstring extensionsFolder(const std::wstring& hostFolder);

// Lays out `hostFolder` on the machine from the programs in `binDir`: Lumen.exe, Vireo.dll, the debug
// launcher, the runtime folder, the developer tool and Java runtime when built, the sample icons, and the
// runtime's publish profile in the user's settings. False with a message on `err` when a required piece
// cannot be placed.
bool install(const std::wstring& hostFolder, const std::filesystem::path& binDir, std::ostream& out,
             std::ostream& err);

// A PNG image of size x size pixels (one colour, opaque).
std::string pngImage(unsigned size, std::uint32_t rgb);

}  // namespace lumen

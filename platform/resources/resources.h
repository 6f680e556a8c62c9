// Executable resources. A program built by us carries a resource table after its own bytes:
// entries (type by name or number, id, language, data), a directory and a fixed trailer.
// Real Windows PE files are read from their resource section (version information only).
#pragma once
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/win.h"

namespace win {

// A resource type or name: a text ("CONFIG") or a number (16 for version information).
using ResourceId = std::variant<std::wstring, std::uint16_t>;
constexpr std::uint16_t kRtVersion = 16;
constexpr std::uint16_t kLangNeutral = 0;

struct ResourceEntry {
    ResourceId type;
    std::uint16_t id = 0;
    std::uint16_t language = kLangNeutral;
    std::vector<std::uint8_t> data;
};

class ResourceWriter {
  public:
    void add(ResourceId type, std::uint16_t id, std::uint16_t language, std::vector<std::uint8_t> data);
    // Writes `program`'s bytes (without any resource table it already carries) followed by the table
    // to `output`, executable. False with a message naming the path on failure.
    bool write(const std::filesystem::path& program, const std::filesystem::path& output,
               std::string& error) const;

  private:
    std::vector<ResourceEntry> entries_;
};

// A mapped module (HMODULE): the running program or any file carrying a resource table.
class Module {
  public:
    Module();
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    static const Module& self();  // the running program, mapped once
    bool open(const std::filesystem::path& hostFile);
    bool isOpen() const;
    const std::filesystem::path& path() const;

    // FindResource + LoadResource + LockResource: no language given prefers the language-neutral
    // entry, then the user's default language, then any. Empty span with 1813/1814/1815 when missing.
    // The data stays valid while the module is open; it is not copied.
    std::span<const std::uint8_t> find(const ResourceId& type, std::uint16_t id,
                                       std::optional<std::uint16_t> language = std::nullopt) const;
    std::vector<ResourceEntry> list() const;  // copies; for tools
    // The whole mapped file, program and table, as it was when opened; valid while the module is open.
    std::span<const std::uint8_t> image() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// Lets the pages of `bytes`, a part of a module's mapping, go from the process's memory; the next read
// of them comes from the file again. For data read once, such as a resource written out to a file.
void discardModulePages(std::span<const std::uint8_t> bytes);

struct VersionInfo {
    std::uint32_t fileVersionMS = 0;
    std::uint32_t fileVersionLS = 0;
    std::uint32_t productVersionMS = 0;
    std::uint32_t productVersionLS = 0;
};
// VS_FIXEDFILEINFO from a VS_VERSION_INFO block.
bool parseVersionInfo(std::span<const std::uint8_t> block, VersionInfo& info);
// A VS_VERSION_INFO block (with an empty StringFileInfo) for the given numbers.
std::vector<std::uint8_t> buildVersionInfo(const VersionInfo& info);
// GetFileVersionInfoW + VerQueryValueW("\\"): PE files and files with our resource table.
bool readFileVersion(const std::filesystem::path& hostFile, VersionInfo& info);
bool readFileVersion(std::wstring_view windowsPath, VersionInfo& info);

// Named values of a version block (StringFileInfo) for one translation.
struct VersionStrings {
    std::uint16_t language = 0x0409;
    std::uint16_t codePage = 1200;
    std::vector<std::pair<std::wstring, std::wstring>> values;  // e.g. {L"FileDescription", L"..."}
};
// A VS_VERSION_INFO block with these string tables and the matching \VarFileInfo\Translation list.
std::vector<std::uint8_t> buildVersionInfo(const VersionInfo& info,
                                           const std::vector<VersionStrings>& strings);
// GetFileVersionInfoW: the whole version block of a file (our table or a PE file); false with 1813
// when it has none, or the error of opening it.
bool readVersionBlock(const std::filesystem::path& hostFile, std::vector<std::uint8_t>& block);
bool readVersionBlock(std::wstring_view windowsPath, std::vector<std::uint8_t>& block);
// VerQueryValueW("\\VarFileInfo\\Translation"): (language, code page) pairs in order.
std::vector<std::pair<std::uint16_t, std::uint16_t>> versionTranslations(std::span<const std::uint8_t> block);
// VerQueryValueW("\\StringFileInfo\\<language><code page>\\<name>").
bool versionString(std::span<const std::uint8_t> block, std::uint16_t language, std::uint16_t codePage,
                   std::wstring_view name, std::wstring& value);

}  // namespace win

// Bracketed folder tokens at the start of manifest paths ("[ProgramFiles]\x", "[INSTALLDIR]\y") and
// the two-pass preparation of one manifest entry's paths.
#pragma once
#include <map>
#include <string>
#include <string_view>

namespace mw {

class PathTokenMap {
  public:
    // The twelve folder tokens of this machine, with their log block. Returns the log's status.
    int fillFolderTokens();
    // Inserts one token (brackets included); an existing entry for it is kept.
    void add(const std::wstring& token, const std::wstring& value);
    // The path with its leading token replaced; unchanged when it starts with no known token.
    std::wstring resolve(const std::wstring& path) const;
    const std::map<std::wstring, std::wstring>& entries() const { return map_; }

  private:
    std::map<std::wstring, std::wstring> map_;
};

// Per-entry preparation: folder tokens first, then "[INSTALLDIR]" (and "[installLanguage]" for
// registry data), each with a fresh map.
struct FileEntryPaths {
    std::wstring source;
    std::wstring target;
};
FileEntryPaths prepareFilePaths(const std::wstring& source, const std::wstring& target,
                                const std::wstring& installDir);
// One trailing backslash is removed before resolving.
std::wstring prepareDirectoryPath(const std::wstring& path, const std::wstring& installDir);
// Applies registryDataBackslash first, so "[INSTALLDIR]" alone becomes the install folder plus "\".
std::wstring prepareRegistryValue(const std::wstring& data, const std::wstring& installDir,
                                  const std::wstring& installLanguage);

// Inserts "\" after the first "]" when the data starts with a bracketed token, holds no "]\" and is
// not exactly "[installLanguage]".
std::wstring registryDataBackslash(const std::wstring& data);

}  // namespace mw

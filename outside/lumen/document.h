// A Lumen document (".lud"): its data store (keys and texts kept for extensions) and its publish profiles,
// each with the script settings that publishing uses. Stored as XML (docs/formats.md).
#pragma once
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace lumen {

struct PublishProfile {
    std::wstring name;
    std::wstring target = L"player";  // "KITE": publishing also calls the extension's "Publish"
    std::wstring mainClass;
    int exportFrame = 1;
    bool strictMode = true;
    bool warningsMode = true;
    bool autoDeclare = true;
    std::wstring dialect = L"LS3";
};

class Document {
  public:
    // A new document with the "Default" profile active.
    static Document create(std::wstring_view path);
    // False with a message when the file is missing or not a Lumen document.
    bool load(std::wstring_view path, std::wstring& error);
    bool save(std::wstring& error) const;

    const std::wstring& path() const { return path_; }
    // The movie file publishing writes: beside the document, with its base name.
    std::wstring moviePath(std::wstring_view suffix = {}) const;

    std::map<std::wstring, std::wstring>& data() { return data_; }

    PublishProfile& active();
    bool activate(std::wstring_view profileName);  // false when the document has no such profile
    // Adds the profile, or replaces the one of the same name.
    void addProfile(const PublishProfile& profile);

  private:
    std::wstring path_;
    std::map<std::wstring, std::wstring> data_;
    std::vector<PublishProfile> profiles_;
    std::size_t active_ = 0;
};

// A profile file (one <Profile> element); false with a message when it cannot be read.
bool loadProfileFile(std::wstring_view path, PublishProfile& profile, std::wstring& error);
// The profile as its <Profile> element's XML text.
std::string profileFileText(const PublishProfile& profile);

}  // namespace lumen

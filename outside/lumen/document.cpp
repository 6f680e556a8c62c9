#include "outside/lumen/document.h"

#include <cwchar>

#include "platform/text/text.h"
#include "platform/xmldom/xmldom.h"

namespace lumen {

namespace {

std::wstring boolText(bool b) {
    return b ? L"true" : L"false";
}

void readProfile(const win::xml::Node& node, PublishProfile& p) {
    p.name = node.attribute(L"name");
    if (node.hasAttribute(L"target")) p.target = node.attribute(L"target");
    p.mainClass = node.attribute(L"mainClass");
    if (node.hasAttribute(L"lsExportFrame"))
        p.exportFrame = static_cast<int>(std::wcstol(node.attribute(L"lsExportFrame").c_str(), nullptr, 10));
    if (node.hasAttribute(L"lsStrictMode")) p.strictMode = node.attribute(L"lsStrictMode") == L"true";
    if (node.hasAttribute(L"lsWarningsMode")) p.warningsMode = node.attribute(L"lsWarningsMode") == L"true";
    if (node.hasAttribute(L"lsAutoDeclare")) p.autoDeclare = node.attribute(L"lsAutoDeclare") == L"true";
    if (node.hasAttribute(L"lsDialect")) p.dialect = node.attribute(L"lsDialect");
}

void writeProfile(win::xml::Node node, const PublishProfile& p) {
    node.setAttribute(L"name", p.name);
    node.setAttribute(L"target", p.target);
    node.setAttribute(L"mainClass", p.mainClass);
    node.setAttribute(L"lsExportFrame", std::to_wstring(p.exportFrame));
    node.setAttribute(L"lsStrictMode", boolText(p.strictMode));
    node.setAttribute(L"lsWarningsMode", boolText(p.warningsMode));
    node.setAttribute(L"lsAutoDeclare", boolText(p.autoDeclare));
    node.setAttribute(L"lsDialect", p.dialect);
}

}  // namespace

Document Document::create(std::wstring_view path) {
    Document d;
    d.path_ = path;
    PublishProfile standard;
    standard.name = L"Default";
    d.profiles_.push_back(standard);
    return d;
}

bool Document::load(std::wstring_view path, std::wstring& error) {
    win::xml::Document xml;
    if (!xml.load(path)) {
        error = xml.error();
        return false;
    }
    auto root = xml.root();
    if (root.name() != L"LumenDocument") {
        error = std::wstring(path) + L": not a Lumen document";
        return false;
    }
    *this = Document();
    path_ = path;
    auto profiles = root.firstChild(L"PublishProfiles");
    for (const auto& node : profiles ? profiles.children() : std::vector<win::xml::Node>{}) {
        PublishProfile p;
        readProfile(node, p);
        profiles_.push_back(p);
    }
    if (profiles_.empty()) profiles_.push_back(Document::create(path).profiles_.front());
    if (profiles && !activate(profiles.attribute(L"active"))) active_ = 0;
    if (auto data = root.firstChild(L"DocumentData"))
        for (const auto& item : data.children()) data_[item.attribute(L"key")] = item.text();
    return true;
}

bool Document::save(std::wstring& error) const {
    win::xml::Document xml;
    xml.create(L"LumenDocument");
    auto profiles = xml.root().appendElement(L"PublishProfiles");
    profiles.setAttribute(L"active", profiles_[active_].name);
    for (const auto& p : profiles_) writeProfile(profiles.appendElement(L"Profile"), p);
    auto data = xml.root().appendElement(L"DocumentData");
    for (const auto& [key, value] : data_) {
        auto item = data.appendElement(L"Item", value);
        item.setAttribute(L"key", key);
        item.setAttribute(L"type", L"string");
    }
    if (!xml.save(path_, L"version=\"1.0\" encoding=\"UTF-16\"")) {
        error = xml.error();
        return false;
    }
    return true;
}

std::wstring Document::moviePath(std::wstring_view suffix) const {
    const auto slash = path_.find_last_of(L"\\/");
    const auto dot = path_.rfind(L'.');
    const std::wstring stem = dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)
                                  ? path_.substr(0, dot)
                                  : path_;
    return stem + std::wstring(suffix) + L".lmv";
}

PublishProfile& Document::active() {
    return profiles_[active_];
}

bool Document::activate(std::wstring_view profileName) {
    for (std::size_t i = 0; i < profiles_.size(); ++i) {
        if (profiles_[i].name == profileName) {
            active_ = i;
            return true;
        }
    }
    return false;
}

void Document::addProfile(const PublishProfile& profile) {
    for (auto& p : profiles_) {
        if (p.name == profile.name) {
            p = profile;
            return;
        }
    }
    profiles_.push_back(profile);
}

bool loadProfileFile(std::wstring_view path, PublishProfile& profile, std::wstring& error) {
    win::xml::Document xml;
    if (!xml.load(path)) {
        error = xml.error();
        return false;
    }
    if (xml.root().name() != L"Profile" || xml.root().attribute(L"name").empty()) {
        error = std::wstring(path) + L": not a publish profile";
        return false;
    }
    readProfile(xml.root(), profile);
    return true;
}

std::string profileFileText(const PublishProfile& profile) {
    win::xml::Document xml;
    xml.create(L"Profile");
    writeProfile(xml.root(), profile);
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n" + win::toUtf8(xml.toString());
}

}  // namespace lumen

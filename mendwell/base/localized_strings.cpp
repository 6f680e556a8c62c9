#include "mendwell/base/localized_strings.h"

#include <array>
#include <cstdio>
#include <utility>

#include "mendwell/base/dictionary_escapes.h"
#include "mendwell/base/dictionary_reader.h"
#include "mendwell/base/resource_writer.h"
#include "mendwell/base/workfolder.h"
#include "mendwell/base/zip_extractor.h"
#include "platform/fs/file.h"
#include "platform/resources/resources.h"
#include "platform/system/system.h"
#include "platform/text/text.h"

namespace mw {

namespace {

constexpr std::size_t kTextLimit = 1024;

constexpr std::array<std::pair<std::wstring_view, std::wstring_view>, 33> kLanguages{{
    {L"3801", L"ar_AE"}, {L"0402", L"bg_BG"}, {L"0405", L"cs_CZ"}, {L"0406", L"da_DK"}, {L"0407", L"de_DE"},
    {L"0408", L"el_GR"}, {L"0409", L"en_US"}, {L"0c0a", L"es_ES"}, {L"0425", L"et_EE"}, {L"040b", L"fi_FI"},
    {L"040c", L"fr_FR"}, {L"040d", L"he_IL"}, {L"041a", L"hr_HR"}, {L"040e", L"hu_HU"}, {L"0410", L"it_IT"},
    {L"0411", L"ja_JP"}, {L"0412", L"ko_KR"}, {L"0427", L"lt_LT"}, {L"0426", L"lv_LV"}, {L"0414", L"nb_NO"},
    {L"0413", L"nl_NL"}, {L"0415", L"pl_PL"}, {L"0416", L"pt_BR"}, {L"0418", L"ro_RO"}, {L"0419", L"ru_RU"},
    {L"041b", L"sk_SK"}, {L"0424", L"sl_SI"}, {L"041d", L"sv_SE"}, {L"041f", L"tr_TR"}, {L"0422", L"uk_UA"},
    {L"0804", L"zh_CN"}, {L"0404", L"zh_TW"}, {L"4009", L"en_US"},
}};

std::wstring hexLanguage(std::uint16_t id) {
    if (id == 0) return {};
    wchar_t text[8];
    std::swprintf(text, 8, L"%04x", static_cast<unsigned>(id));
    return text;
}

}  // namespace

std::wstring_view localeFolder(std::wstring_view languageId) {
    for (const auto& [id, folder] : kLanguages)
        if (id == languageId) return folder;
    return L"en_US";
}

std::wstring userLanguageId() {
    std::wstring id = hexLanguage(win::userDefaultLangId());
    if (id.empty()) id = hexLanguage(win::systemDefaultLangId());
    return id.empty() ? L"0409" : id;
}

std::wstring dictionaryPath() {
    const std::wstring folder = workPath(L"\\TVRLocalizedStrings");
    win::createDirectory(folder);
    const std::wstring archive = folder + L"\\TVRLocalizedStrings.zip";
    bool unpacked = false;
    if (writeResourceToFile(win::Module::self(), 100, L"TVRLOCALIZEDSTRINGS", archive) == 0) {
        TVRZipExtractor zip;
        unpacked = zip.open(archive) && zip.extractAll(folder, false) == 1;
        zip.close();
    }
    if (!unpacked) return {};
    return folder + L"\\TVRLocalization\\" + std::wstring(localeFolder(userLanguageId())) + L"\\TVR.vdct";
}

std::wstring lookupString(std::wstring_view key, const std::wstring& path) {
    if (path.empty()) return {};
    char request[kTextLimit];
    win::toUtf8(key, request, sizeof request);
    std::string bytes;
    if (!win::readFile(path, bytes)) return {};
    glossa::DictionaryReader dictionary;
    dictionary.read(bytes);

    std::string name;
    std::wstring fallback;
    glossa::splitContent(win::fromUtf8(request), name, fallback);
    std::wstring result;
    if (const std::wstring* value = dictionary.find(name))
        result = *value;
    else if (key.find(L'=') != std::wstring_view::npos)
        result = glossa::unescapeValue(fallback);
    if (result.size() > kTextLimit) result.resize(kTextLimit);
    return result;
}

std::wstring lookupString(std::wstring_view key) {
    return lookupString(key, dictionaryPath());
}

}  // namespace mw

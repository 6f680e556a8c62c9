// The dictionaries the patcher ships: every locale of the language table, each file clean, in its
// stored encoding, and holding every text the patcher shows.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "mendwell/base/dictionary_reader.h"
#include "platform/text/text.h"
#include "tests/support/testmachine.h"

namespace {

namespace fs = std::filesystem;

const char* const kKeys[] = {"alert/cancel",
                             "alert/finish",
                             "alert/next",
                             "alert/retry",
                             "heading/welcome",
                             "heading/installing",
                             "heading/rollback",
                             "heading/rollbackProgress",
                             "heading/installationSuccessful",
                             "heading/installationUnsuccessful",
                             "heading/applicationsInUse",
                             "heading/caption",
                             "info/message/patchClickNext",
                             "info/message/patchSuccessFinish",
                             "info/message/patchAlreadyApplied",
                             "error/message/userCancelPatch",
                             "error/message/patchNotAppliedReInstall",
                             "error/message/conflictingProcesses",
                             "info/CancelAskUser",
                             "info/ExtractingResources",
                             "error/message/patchNotApplied",
                             "error/message/patchLocateFailed",
                             "error/message/TargetNoSpace",
                             "error/message/SystemNoSpace",
                             "info/patching",
                             "info/stopingService",
                             "info/startingService",
                             "info/processingRegistry",
                             "error/message/NoAdmin",
                             "error/message/qud/conflictingProcesses"};

// The texts filled with the product name carry exactly one "%s" and no other conversion.
bool takesProductName(const std::string& key) {
    return key == "info/message/patchClickNext" || key == "info/message/patchSuccessFinish";
}

TEST(ShippedDictionaries, EveryLocaleHoldsEveryTextInItsEncoding) {
    const fs::path root = testing_support::sourceDir() / "mendwell/resources/TVRLocalization";
    const char* const locales[] = {"ar_AE", "bg_BG", "cs_CZ", "da_DK", "de_DE", "el_GR", "en_US", "es_ES",
                                   "et_EE", "fi_FI", "fr_FR", "he_IL", "hr_HR", "hu_HU", "it_IT", "ja_JP",
                                   "ko_KR", "lt_LT", "lv_LV", "nb_NO", "nl_NL", "pl_PL", "pt_BR", "ro_RO",
                                   "ru_RU", "sk_SK", "sl_SI", "sv_SE", "tr_TR", "uk_UA", "zh_CN", "zh_TW"};
    std::size_t upperCaseNames = 0;
    std::map<std::string, std::set<std::wstring>> distinct;  // key -> texts over all locales
    for (const char* locale : locales) {
        SCOPED_TRACE(locale);
        fs::path file;
        for (const auto& entry : fs::directory_iterator(root / locale))
            if (win::iequals(win::fromUtf8(entry.path().filename().string()), L"TVR.vdct"))
                file = entry.path();
        ASSERT_FALSE(file.empty());
        if (file.filename() == "TVR.VDCT") ++upperCaseNames;
        const std::string bytes = testing_support::readHostFile(file);
        EXPECT_EQ(bytes.substr(0, std::string(locale) == "bg_BG" ? 3 : 2),
                  std::string(locale) == "bg_BG" ? "\xEF\xBB\xBF" : "\xFF\xFE");

        glossa::DictionaryReader d;
        ASSERT_TRUE(d.read(bytes));
        EXPECT_TRUE(d.clean());
        for (const char* key : kKeys) {
            const std::wstring* value = d.find(std::string("/tvr/") + key);
            ASSERT_NE(value, nullptr) << key;
            EXPECT_FALSE(value->empty()) << key;
            EXPECT_EQ(value->find(L'\uFFFD'), std::wstring::npos) << key;
            const std::size_t percent = value->find(L'%');
            if (takesProductName(key)) {
                EXPECT_EQ(value->find(L"%s"), percent) << key;
                EXPECT_EQ(value->find(L'%', percent + 1), std::wstring::npos) << key;
            } else {
                EXPECT_EQ(percent, std::wstring::npos) << key;
            }
            distinct[key].insert(*value);
        }
    }
    EXPECT_EQ(upperCaseNames, 1u);
    // Translated, not copied: every sentence differs in (nearly) every language.
    EXPECT_GE(distinct["info/CancelAskUser"].size(), 31u);
    EXPECT_GE(distinct["error/message/patchNotAppliedReInstall"].size(), 31u);
}

TEST(ShippedDictionaries, EnglishCaption) {
    const fs::path file = testing_support::sourceDir() / "mendwell/resources/TVRLocalization/en_US/TVR.vdct";
    glossa::DictionaryReader d;
    d.read(testing_support::readHostFile(file));
    ASSERT_NE(d.find("/tvr/heading/caption"), nullptr);
    EXPECT_EQ(*d.find("/tvr/heading/caption"), L"Orvex Software Update");
}

}  // namespace

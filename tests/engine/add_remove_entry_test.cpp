// The product's Add/Remove Programs entry, written through the registry add operation and undone by the
// rollback from the undo entries that operation leaves.
#include <gtest/gtest.h>

#include <algorithm>

#include "mendwell/engine/add_remove_entry.h"
#include "mendwell/records/tally_session.h"
#include "platform/fs/file.h"
#include "platform/registry/registry.h"
#include "platform/text/text.h"
#include "tests/engine/operations_fixture.h"

namespace engine_test {
namespace {

constexpr const wchar_t* kUninstall =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{6D1F0A2C-5B7E-4E8A-9C3D-2F4B6A8E0C11}";

class AddRemoveEntry : public OperationsTest {
  protected:
    AddRemoveEntry() {
        EXPECT_TRUE(
            win::writeFile(mw::TallySession::libraryPath(),
                           testing_support::readHostFile(testing_support::binDir() / "orvex_tally.so")));
        auto run = testing_support::runProgram(
            testing_support::binDir() / "tally",
            {"add", "LTX4", "--installdir", "C:\\P", "--version", "9.0", "--product-code",
             win::toUtf8(std::wstring(kUninstall).substr(std::wstring(kUninstall).rfind(L'\\') + 1))});
        EXPECT_EQ(run.exitCode, 0) << run.output;
        config_.detectedProductCodes = {L"LTX4"};
    }

    static void makeKey(const std::wstring& path,
                        std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> values) {
        win::RegKey key;
        ASSERT_EQ(key.create(win::RegRoot::localMachine, path), 0);
        for (const auto& [name, text] : values) {
            std::string bytes = win::toUtf16le(text) + std::string(2, '\0');
            key.setValue(name, win::regtype::sz,
                         {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
        }
    }

    // The uninstall key's values as name=text, in enumeration order.
    static std::vector<std::wstring> values(const std::wstring& path = kUninstall) {
        std::vector<std::wstring> out;
        win::RegKey key;
        if (key.open(win::RegRoot::localMachine, path) != 0) return out;
        std::wstring name;
        win::DWORD type = 0;
        std::vector<std::uint8_t> data;
        for (win::DWORD i = 0; key.enumValue(i, name, type, data) == 0; ++i) {
            std::wstring text = win::fromUtf16le({reinterpret_cast<const char*>(data.data()), data.size()});
            out.push_back(name + L"=" + text.substr(0, text.find(L'\0')));
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    mw::PatcherConfigRecord config_;
};

TEST_F(AddRemoveEntry, WritesEachGivenTextToItsValueAndRollsBack) {
    makeKey(kUninstall, {{L"DisplayName", L"Lumen TX4"}, {L"DisplayVersion", L"9.0"}});
    const auto before = values();
    mw::AddRemoveRecord entry;
    entry.displayName = L"Lumen TX4 (9.0.3)";
    entry.displayVersion = L"9.0.3";
    entry.comment = L"Patched";
    entry.publisher = L"Orvex";
    entry.supportURL = L"https://support.orvex.example";
    entry.supportPhoneNumber = L"+1 555 0100";
    EXPECT_TRUE(mw::updateAddRemoveEntry(config_, entry));
    EXPECT_EQ(values(),
              (std::vector<std::wstring>{L"Comments=Patched", L"DisplayName=Lumen TX4 (9.0.3)",
                                         L"DisplayVersion=9.0.3", L"HelpTelephone=+1 555 0100",
                                         L"Publisher=Orvex", L"URLInfoAbout=https://support.orvex.example"}));
    rollBack();
    EXPECT_EQ(values(), before);
}

TEST_F(AddRemoveEntry, OnlyDisplayVersionWritesThatOneValue) {
    makeKey(kUninstall, {{L"DisplayName", L"Lumen TX4"}, {L"DisplayVersion", L"9.0"}});
    mw::AddRemoveRecord entry;
    entry.displayVersion = L"9.0.3";
    EXPECT_TRUE(mw::updateAddRemoveEntry(config_, entry));
    EXPECT_EQ(values(), (std::vector<std::wstring>{L"DisplayName=Lumen TX4", L"DisplayVersion=9.0.3"}));
    EXPECT_EQ(registryUndo().size(), 1u);
}

TEST_F(AddRemoveEntry, NoUninstallKeyOrProductCodeWritesNothing) {
    makeKey(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", {});
    mw::AddRemoveRecord entry;
    entry.displayName = L"Lumen TX4 (9.0.3)";
    EXPECT_TRUE(mw::updateAddRemoveEntry(config_, entry));  // the product's key is missing
    EXPECT_FALSE(win::RegKey().open(win::RegRoot::localMachine, kUninstall) == 0);
    // A product the database gives no installer code for: the Uninstall key itself is left alone.
    config_.detectedProductCodes = {L"UNKNOWN"};
    EXPECT_TRUE(mw::updateAddRemoveEntry(config_, entry));
    EXPECT_TRUE(values(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall").empty());
    EXPECT_TRUE(registryUndo().empty());
}

}  // namespace
}  // namespace engine_test

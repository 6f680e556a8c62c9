#include "tests/records/records_fixture.h"

#include "mendwell/base/patch_state.h"
#include "mendwell/records/tally_session.h"
#include "mendwell/base/patchlog.h"
#include "platform/fs/file.h"
#include "platform/text/text.h"

namespace records_test {

namespace {
constexpr const wchar_t* kLog = L"C:\\captured\\records.log";
}

RecordsTest::RecordsTest(const win::MachineProfile& profile)
    : machine_(std::make_unique<testing_support::TestMachine>(profile)) {
    win::createDirectory(L"C:\\captured");
    mw::PatchLog::instance().open(kLog, false, mw::logFormatText);
    mw::PatchLog::instance().setLevel(3);
    mw::patchGlobals() = mw::PatchGlobals{};
}

RecordsTest::~RecordsTest() {
    mw::PatchLog::instance().close();
    mw::PatchLog::instance().setLevel(0);
    tally_.free();
    mw::patchGlobals() = mw::PatchGlobals{};
}

void RecordsTest::installTally() {
    const std::wstring path = mw::TallySession::libraryPath();
    ASSERT_TRUE(
        win::writeFile(path, testing_support::readHostFile(testing_support::binDir() / "orvex_tally.so")));
    ASSERT_TRUE(tally_.load(path));
}

void RecordsTest::addProduct(const std::string& code, const std::string& installDir,
                             const std::string& version, const std::string& collection,
                             std::int64_t tsInstalled, std::int64_t tsModified, const std::string& language) {
    if (!tally_.isLoaded()) installTally();
    auto add = tally_.function<TallyAddProductFn>("tallyAddProduct");
    ASSERT_NE(add, nullptr);
    ASSERT_EQ(add(code.c_str(), installDir.c_str(), language.c_str(), nullptr, version.c_str(),
                  collection.c_str(), tsInstalled, tsModified),
              TALLY_OK);
}

void RecordsTest::setTallyValue(const std::string& code, const std::string& name, const std::string& value) {
    auto set = tally_.function<TallySetValueFn>("tallySetValue");
    ASSERT_NE(set, nullptr);
    ASSERT_EQ(set(code.c_str(), name.c_str(), value.c_str()), TALLY_OK);
}

std::vector<Logged> RecordsTest::log() {
    mw::PatchLog::instance().flush();
    return testing_support::parseTextLog(machine_->readFile(kLog));
}

bool RecordsTest::logged(const std::wstring& type, const std::wstring& message) {
    for (const Logged& l : log())
        if (l.type == type && l.message == message) return true;
    return false;
}

std::vector<std::wstring> RecordsTest::messages(const std::wstring& type) {
    std::vector<std::wstring> out;
    for (const Logged& l : log())
        if (l.type == type) out.push_back(l.message);
    return out;
}

mw::PatcherConfigRecord patchConfig(const std::vector<std::wstring>& codes) {
    mw::PatcherConfigRecord c;
    c.productName = L"Lumen TX4";
    c.productFamily = L"Lumen";
    c.patcherId = L"LTX4-903";
    c.comboPatch = L"false";
    c.oldVersion = L"9.0";
    c.newVersion = L"9.0.3";
    for (const std::wstring& code : codes) c.productCodes.push_back({code, L"", false});
    return c;
}

}  // namespace records_test

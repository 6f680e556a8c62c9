#include "tests/engine/operations_fixture.h"

#include "mendwell/engine/directory_operation.h"
#include "mendwell/engine/patch_controller.h"
#include "mendwell/base/patch_state.h"
#include "mendwell/engine/registry_operation.h"
#include "mendwell/records/rollback_manifest.h"
#include "mendwell/base/patchlog.h"
#include "platform/fs/file.h"

namespace engine_test {

namespace {
constexpr const wchar_t* kLog = L"C:\\captured\\engine.log";

std::wstring child(const win::xml::Node& entry, const wchar_t* name) {
    return entry.firstChild(name).text();
}
}  // namespace

OperationsTest::OperationsTest() : machine_(std::make_unique<testing_support::TestMachine>()) {
    win::createDirectory(L"C:\\captured");
    mw::PatchLog::instance().open(kLog, false, mw::logFormatText);
    mw::PatchLog::instance().setLevel(3);
    mw::patchGlobals() = mw::PatchGlobals{};
    mw::openRollbackManifest(L"C:\\captured\\RollbackManifest.xml");
}

OperationsTest::~OperationsTest() {
    mw::openRollbackManifest(L"");
    mw::PatchLog::instance().close();
    mw::PatchLog::instance().setLevel(0);
    mw::patchGlobals() = mw::PatchGlobals{};
}

std::vector<std::wstring> OperationsTest::messages(const std::wstring& type) {
    mw::PatchLog::instance().flush();
    return testing_support::messagesOf(testing_support::parseTextLog(machine_->readFile(kLog)), type);
}

bool OperationsTest::logged(const std::wstring& type, const std::wstring& message) {
    for (const std::wstring& m : messages(type))
        if (m == message) return true;
    return false;
}

std::vector<mw::DirectoryRecord> OperationsTest::directoryUndo() {
    std::vector<mw::DirectoryRecord> out;
    for (const win::xml::Node& e : mw::rollbackManifest()->directorySet().children())
        out.push_back({child(e, L"Operation"), child(e, L"DirectoryBase"), child(e, L"SubDirectoryTree")});
    return out;
}

std::vector<mw::RegistryRecord> OperationsTest::registryUndo() {
    std::vector<mw::RegistryRecord> out;
    for (const win::xml::Node& e : mw::rollbackManifest()->pdsSet().children()) {
        mw::RegistryRecord r;
        r.operation = child(e, L"Operation");
        r.root = child(e, L"Root");
        r.keyPath = child(e, L"KeyPath");
        r.keyName = child(e, L"KeyName");
        r.value = e.firstChild(L"Value").attribute(L"defValue");
        r.dataType = child(e, L"DataType");
        r.subtree = child(e, L"SubRegistryTree");
        r.rawType = child(e, L"RawType");
        r.rawData = child(e, L"RawData");
        out.push_back(r);
    }
    return out;
}

void OperationsTest::rollBack() {
    const auto directories = directoryUndo();
    const auto registry = registryUndo();
    mw::patchGlobals().rollbackMode = 1;
    for (const auto& d : directories) EXPECT_TRUE(mw::runDirectoryOperation(d)) << d.directoryBase;
    for (const auto& r : registry) {
        auto op = mw::makeRegistryOperation(r.operation);
        ASSERT_NE(op, nullptr);
        EXPECT_TRUE(op->execute(r)) << r.keyPath << L" " << r.keyName;
    }
    mw::patchGlobals().rollbackMode = 0;
}

}  // namespace engine_test

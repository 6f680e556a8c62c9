#include "tests/engine/engine_fixture.h"

#include <openssl/evp.h>

#include <filesystem>

#include "mendwell/base/patch_state.h"
#include "mendwell/base/patchlog.h"
#include "mendwell/base/workfolder.h"
#include "platform/fs/file.h"

namespace engine_test {

namespace {
constexpr const wchar_t* kLog = L"C:\\captured\\engine.log";
}

EngineTest::EngineTest() {
    freshMachine();
}

void EngineTest::freshMachine() {
    mw::PatchLog::instance().close();
    machine_.reset();
    machine_ = std::make_unique<testing_support::TestMachine>();
    win::createDirectory(L"C:\\captured");
    mw::PatchLog::instance().open(kLog, false, mw::logFormatText);
    mw::PatchLog::instance().setLevel(3);
    mw::patchGlobals() = mw::PatchGlobals{};
    win::createDirectory(mw::workPath(L"\\StagingArea"));
    win::createDirectory(mw::workPath(L"\\BackUp"));
}

EngineTest::~EngineTest() {
    mw::PatchLog::instance().close();
    mw::PatchLog::instance().setLevel(0);
    mw::patchGlobals() = mw::PatchGlobals{};
}

void EngineTest::clearFiles() {
    std::filesystem::remove_all(machine_->host(L"C:\\P"));
    for (const wchar_t* folder : {L"\\StagingArea", L"\\BackUp"}) {
        std::filesystem::remove_all(machine_->host(mw::workPath(folder)));
        win::createDirectory(mw::workPath(folder));
    }
    mw::patchGlobals() = mw::PatchGlobals{};
}

void EngineTest::stage(const std::wstring& objectName, const std::string& bytes) {
    put(mw::workPath(L"\\StagingArea\\" + objectName), bytes);
}

void EngineTest::put(const std::wstring& path, const std::string& bytes, bool readOnly) {
    machine_->writeFile(path, bytes);
    if (readOnly) {
        ASSERT_TRUE(win::setFileAttributes(path, win::attr::readOnly));
    }
}

std::string EngineTest::read(const std::wstring& path) const {
    std::string bytes;
    return win::readFile(path, bytes) ? bytes : "<missing>";
}

bool EngineTest::readOnly(const std::wstring& path) const {
    const win::DWORD a = win::getFileAttributes(path);
    return a != win::attr::invalid && (a & win::attr::readOnly) != 0;
}

std::wstring EngineTest::backup(const std::wstring& objectName) const {
    return mw::workPath(L"\\BackUp\\" + objectName);
}

void EngineTest::setRollbackMode(int mode) {
    mw::patchGlobals().rollbackMode = mode;
}

std::vector<testing_support::LogLine> EngineTest::log() {
    mw::PatchLog::instance().flush();
    return testing_support::parseTextLog(machine_->readFile(kLog));
}

bool EngineTest::logged(const std::wstring& type, const std::wstring& message) {
    for (const auto& line : log()) {
        if (line.type == type && line.message == message) return true;
    }
    return false;
}

std::wstring md5Of(const std::string& bytes) {
    unsigned char digest[16];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
    std::wstring text;
    for (unsigned int i = 0; i < length; ++i) {
        text += L"0123456789abcdef"[digest[i] >> 4];
        text += L"0123456789abcdef"[digest[i] & 15];
    }
    return text;
}

}  // namespace engine_test

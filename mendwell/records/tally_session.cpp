#include "mendwell/records/tally_session.h"

#include <span>

#include "mendwell/base/patchlog.h"
#include "mendwell/base/workfolder.h"
#include "platform/fs/file.h"
#include "platform/fs/path.h"
#include "platform/text/text.h"

namespace mw {

namespace {

constexpr std::uint16_t kTallyResourceId = 100;
// Texts from the library are taken up to this many characters, as the conversion buffer allows.
constexpr std::size_t kMaxAnswer = 4096;

std::wstring answer(const char* text) {
    if (!text) return {};
    std::wstring w = win::fromUtf8(text);
    if (w.size() > kMaxAnswer) w.resize(kMaxAnswer);
    return w;
}

std::wstring wide(const char* ascii) {
    return win::fromUtf8(ascii);
}

// The id is handed to C code as a terminated string.
std::string terminated(std::string_view id) {
    return std::string(id.substr(0, id.find('\0')));
}

}  // namespace

std::string tallyId(std::wstring_view text) {
    char buffer[1024];
    win::toUtf8(text, buffer, sizeof buffer);
    return buffer;
}

std::wstring TallySession::libraryPath() {
    std::wstring folder = workPath(L"\\TALLY");
    win::createDirectory(folder);
    return folder + L"\\orvex_tally.dll";
}

TallySession::TallySession() : TallySession(win::Module::self()) {}

TallySession::TallySession(const win::Module& module) {
    open(module);
}

TallySession::~TallySession() {
    close();
}

void TallySession::open(const win::Module& module) {
    logInfo(L"Loading TALLY library.");
    std::wstring path = libraryPath();
    if (!win::pathExists(path)) {
        logInfo(L"Extracting the TALLY library at: %s", path);
        std::span<const std::uint8_t> data =
            module.find(win::ResourceId(std::wstring(L"TALLY")), kTallyResourceId);
        if (!data.empty())
            win::writeFile(path, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
    }
    if (!library_.load(path)) {
        logError(
            L"Unable to load the TALLY library. VC8 runtime DLLs might not be present on your system. "
            L"Please install VC8 runtime and try again.");
        return;
    }
    logCritical(L"Successfully loaded the TALLY library.");
    handle_ = nullptr;
    if (auto openSession = library_.function<TallyOpenSessionFn>("tallyOpenSession")) openSession(&handle_);
}

void TallySession::close() {
    if (!library_.isLoaded()) return;
    if (auto commit = library_.function<TallySessionCommitFn>("tallySessionCommit")) commit(handle_);
    if (auto closeSession = library_.function<TallyCloseSessionFn>("tallyCloseSession"))
        closeSession(handle_);
    handle_ = nullptr;
    logCritical(L"Successfully unloaded the TALLY library.");
    library_.free();
}

void* TallySession::function(const char* name) const {
    if (!library_.isLoaded()) {
        logCritical(L"Unable to load the TALLY library.");
        return nullptr;
    }
    void* fn = library_.symbol(name);
    if (!fn)
        logCritical(L"Unable to to load the function \"%s\" from TALLY library. Library may be corrupted.",
                    wide(name));
    return fn;
}

void TallySession::functionCalled(const char* name) const {
    logInfo(L"Successfully loaded the function \"%s\" from TALLY library.", wide(name));
}

std::wstring TallySession::payloadText(std::string_view payloadId, const char* name, bool& called, bool& ok) {
    called = false;
    ok = false;
    auto fn = reinterpret_cast<TallyGetPayloadDataFn>(function("tallyGetPayloadData"));
    if (!fn) return {};
    called = true;
    const char* value = nullptr;
    std::string id = terminated(payloadId);
    int rc = fn(handle_, id.c_str(), TALLY_CATEGORY_PROPERTIES, name, &value);
    functionCalled("tallyGetPayloadData");
    ok = rc == TALLY_OK && value;
    return ok ? answer(value) : std::wstring();
}

std::wstring TallySession::queryInstallDir(std::string_view payloadId) {
    logInfo(L"Querying INSTALLDIR from TALLY.");
    bool called = false;
    bool ok = false;
    std::wstring dir = payloadText(payloadId, "INSTALLDIR", called, ok);
    if (called && !ok) logCritical(L"TALLY unable to return InstallDir.");
    return win::removeBackslash(dir);
}

std::wstring TallySession::queryInstallLanguage(std::string_view payloadId) {
    logInfo(L"Querying installLanguage from TALLY.");
    bool called = false;
    bool ok = false;
    std::wstring language = payloadText(payloadId, "installLanguage", called, ok);
    if (called && !ok) logError(L"TALLY unable to return szInstallLanguage.");
    return win::removeBackslash(language);
}

std::wstring TallySession::queryProductCode(std::string_view payloadId) {
    bool called = false;
    bool ok = false;
    std::wstring code = payloadText(payloadId, "ProductCode", called, ok);
    if (ok)
        logInfo(L"Product Code obtained from TALLY: %s", code);
    else if (called)
        logInfo(L"Unable to retrieve the productCode from TALLY.");
    return code;
}

std::wstring TallySession::queryVersion(std::string_view payloadId) {
    auto fn = reinterpret_cast<TallyGetPayloadFn>(function("tallyGetPayload"));
    if (!fn) return {};
    TallyPayloadRecord record{};
    std::string id = terminated(payloadId);
    int rc = fn(handle_, id.c_str(), &record);
    functionCalled("tallyGetPayload");
    if (rc != TALLY_OK || !record.version) {
        logInfo(L"Unable to retrieve the version from TALLY.");
        return {};
    }
    std::wstring version = answer(record.version);
    logInfo(L"Version obtained from TALLY: %s", version);
    return version;
}

std::wstring TallySession::queryCollectionId(std::string_view payloadId) {
    logInfo(L"Querying collectionID for given payloadID from TALLY.");
    auto fn = reinterpret_cast<TallyGetPayloadCollectionsFn>(function("tallyGetPayloadCollections"));
    if (!fn) return {};
    const char* const* list = nullptr;
    std::string id = terminated(payloadId);
    int rc = fn(handle_, TALLY_RELATION_OWNING_COLLECTIONS, id.c_str(), &list);
    functionCalled("tallyGetPayloadCollections");
    if (rc != TALLY_OK || !list || !list[0]) {
        logInfo(L"Unable to retrieve the collectionID from TALLY.");
        return {};
    }
    std::wstring collection = answer(list[0]);
    logInfo(L"CollectionID obtained from TALLY: %s", collection);
    return collection;
}

std::optional<TallyTimestamps> TallySession::queryTimestamps(std::string_view collectionId) {
    logInfo(L"Querying the tsInstalled and tsModified from TALLY.");
    auto fn = reinterpret_cast<TallyGetCollectionFn>(function("tallyGetCollection"));
    if (!fn) return std::nullopt;
    TallyCollectionRecord record{};
    std::string id = terminated(collectionId);
    int rc = fn(handle_, id.c_str(), &record);
    functionCalled("tallyGetCollection");
    if (rc != TALLY_OK) {
        logInfo(L"Unable to retrieve the tsInstalled and tsModified from TALLY.");
        return std::nullopt;
    }
    logInfo(L"tsInstalled obtained from TALLY: %d", record.tsInstalled);
    logInfo(L"tsModified obtained from TALLY: %d", record.tsModified);
    return TallyTimestamps{record.tsInstalled, record.tsModified};
}

}  // namespace mw

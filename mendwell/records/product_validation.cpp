#include "mendwell/records/product_validation.h"

#include <array>
#include <cstdint>
#include <limits>

#include "mendwell/base/patch_state.h"
#include "mendwell/records/patch_history.h"
#include "mendwell/records/tally_session.h"
#include "mendwell/base/patchlog.h"
#include "platform/fs/path.h"
#include "platform/system/system.h"
#include "platform/text/format.h"

namespace mw {

namespace {

constexpr std::uint64_t kSaturated = std::numeric_limits<std::uint64_t>::max() / 2048;

// Leading decimal digits of a text after any blanks, as the C runtime reads a number; anything else
// reads as 0.
std::uint64_t leadingNumber(std::wstring_view text) {
    const std::size_t start = text.find_first_not_of(L" \t\r\n\v\f");
    text.remove_prefix(start == std::wstring_view::npos ? text.size() : start);
    std::uint64_t v = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') break;
        v = v >= kSaturated ? kSaturated : v * 10 + static_cast<std::uint64_t>(c - L'0');
    }
    return v;
}

std::array<std::uint64_t, 4> versionParts(std::wstring_view version) {
    std::array<std::uint64_t, 4> parts{};
    std::size_t start = 0;
    for (std::size_t i = 0; i < parts.size() && start <= version.size(); ++i) {
        std::size_t dot = version.find(L'.', start);
        parts[i] = leadingNumber(
            version.substr(start, dot == std::wstring_view::npos ? std::wstring_view::npos : dot - start));
        if (dot == std::wstring_view::npos) break;
        start = dot + 1;
    }
    return parts;
}

// Checked the way the product's own tools check it: by entering the folder, then going back.
bool folderExists(const std::wstring& folder) {
    std::wstring previous = win::currentDirectory();
    if (previous.empty()) return false;
    if (!win::setCurrentDirectory(folder)) return false;
    win::setCurrentDirectory(previous);
    return true;
}

// "C:\Program Files\X" -> "C:\": the text up to and including the first backslash.
std::wstring driveRoot(const std::wstring& path) {
    std::size_t slash = path.find(L'\\');
    return slash == std::wstring::npos ? path : path.substr(0, slash + 1);
}

std::uint64_t freeBytesOn(const std::wstring& root) {
    std::uint64_t free = 0;
    if (!win::diskFreeSpace(root, free)) return 0;
    return free;
}

}  // namespace

int compareVersions(std::wstring_view a, std::wstring_view b) {
    auto pa = versionParts(a);
    auto pb = versionParts(b);
    for (std::size_t i = 0; i < pa.size(); ++i) {
        if (pa[i] > pb[i]) return 1;
        if (pa[i] < pb[i]) return -1;
    }
    return 0;
}

std::wstring detectedProductCode(const PatcherConfigRecord& config) {
    return config.detectedProductCodes.empty() ? std::wstring() : config.detectedProductCodes.front();
}

int locateProduct(PatcherConfigRecord& config, std::wstring& installDir) {
    installDir.clear();
    bool answered = false;
    {
        TallySession session;
        for (ProductCodeEntry& entry : config.productCodes) {
            std::wstring dir = session.queryInstallDir(tallyId(entry.code));
            if (dir.empty()) continue;
            entry.installDir = dir;
            answered = true;
        }
    }
    if (!answered) return productNotFound;
    for (ProductCodeEntry& entry : config.productCodes) {
        if (entry.installDir.empty() || !folderExists(entry.installDir)) continue;
        entry.selected = true;
        bool known = false;
        for (const std::wstring& code : config.detectedProductCodes) known = known || code == entry.code;
        if (!known) config.detectedProductCodes.push_back(entry.code);
        installDir = entry.installDir;
        return productFound;
    }
    return productNotFound;
}

bool isKnownInstallDir(const PatcherConfigRecord& config, const std::wstring& folder) {
    // A lookup that fails answers "", which must not vouch for an empty folder.
    if (folder.empty()) return false;
    TallySession session;
    for (const std::wstring& code : config.detectedProductCodes) {
        if (session.queryInstallDir(tallyId(code)) == folder) return true;
    }
    return false;
}

bool validateHistory(const PatcherConfigRecord& config, bool changeNothing) {
    const std::wstring code = detectedProductCode(config);
    logInfo(L"Patcher is validating the <Orvexcode>.patch file.");
    PatchHistoryFile history(code);
    history.load();
    const std::wstring historyInstalled = history.tsInstalled();
    const std::wstring historyVersion = history.latestValue(L"NewVersion");
    logInfo(L"Installed Timestamp as read from <Orvexcode>.patch file: %s", historyInstalled);

    std::wstring tallyInstalled;
    {
        TallySession session;
        std::wstring collection = session.queryCollectionId(tallyId(code));
        if (!collection.empty()) {
            if (auto ts = session.queryTimestamps(tallyId(collection))) {
                tallyInstalled = win::format(L"%d", ts->tsInstalled);
                logInfo(L"Installed Timestamp as read from TALLY.db file: %s", tallyInstalled);
            }
        }
    }

    if (historyInstalled != tallyInstalled) {
        if (history.isDamaged()) {
            // Not deleted: what it still holds is kept aside when the history is next written.
            logInfo(
                L"Timestamps from <Orvexcode>.patch and TALLY do not match. The damaged <OrvexCode>.patch "
                L"file will be kept as %s.bad and a new file will be created.",
                PatchHistoryFile::pathFor(code));
            return true;
        }
        logInfo(
            L"Timestamps from <Orvexcode>.patch and TALLY do not match. It means product was un-installed "
            L"after applying the patch. <OrvexCode>.patch will be deleted and new file wil be created.");
        if (history.isLoaded() && !changeNothing) history.remove();
        return true;
    }
    logInfo(
        L"Timestamp from <Orvexcode>.patch and TALLY match, so now versions in <Orvexcode>.patch and "
        L"TALLY.db will be compared.");
    if (compareVersions(config.newVersion, historyVersion) < 0) {
        // Refused as an already updated product, with its reason, in every mode.
        logInfo(L"The <OrvexCode>.patch file shows version %s, newer than the version %s this patch brings.",
                historyVersion, config.newVersion);
        patchGlobals().validationReason = reasonAlreadyUpdated;
        patchGlobals().qudUserMessage = L"$$$/tvr/info/message/patchAlreadyApplied";
        return false;
    }
    // The latest entry is this very patch: applying it again would find every file already changed.
    if (history.isLoaded() && !config.patcherId.empty() && history.latestPatcherId() == config.patcherId) {
        patchGlobals().validationReason = reasonAlreadyUpdated;
        patchGlobals().qudUserMessage = L"$$$/tvr/info/message/patchAlreadyApplied";
        return false;
    }
    logInfo(
        L"Timestamp match and version numbers also match. So the product is valid for applying the patch.");
    return true;
}

bool validateVersion(const PatcherConfigRecord& config, const std::wstring& installDir) {
    const bool combo = config.comboPatch == L"true";
    logInfo(combo ? L"Combo Patching = true" : L"Combo Patching = false");

    logInfo(L"Patcher is validating the product on target machine against the <OrvexCode>.patch file");
    std::wstring historyVersion;
    for (const std::wstring& code : config.detectedProductCodes) {
        PatchHistoryFile history(code);
        if (!history.load()) continue;
        historyVersion = history.latestValue(L"NewVersion");
        logInfo(L"New Version as read from <OrvexCode>.patch file: %s", historyVersion);
        logInfo(L"Old Version as read from <OrvexCode>.patch file: %s", history.latestValue(L"OldVersion"));
    }
    std::wstring installed = historyVersion;
    if (installed.empty()) {
        TallySession session;
        installed = session.queryVersion(tallyId(detectedProductCode(config)));
    }
    logInfo(L"Version of the product as installed on the target machine: %s", installed);
    logInfo(L"Old Version as read from config.xml file: %s", config.oldVersion);
    logInfo(L"New Version as read from config.xml file: %s", config.newVersion);

    int refusal = reasonNone;
    if (!combo) {
        if (compareVersions(installed, config.oldVersion) != 0 &&
            compareVersions(installed, config.newVersion) != 0)
            refusal = reasonWrongVersion;
    } else if (compareVersions(config.oldVersion, installed) == 1) {
        refusal = reasonWrongVersion;
    } else if (compareVersions(installed, config.newVersion) == 1) {
        refusal = reasonAlreadyUpdated;
    }
    if (refusal != reasonNone) {
        logInfo(L"Patcher is unable to match the version numbers.");
        patchGlobals().validationReason = refusal;
        return false;
    }

    logInfo(L"Patcher has successfully matched the two version numbers.");
    logInfo(L"Patcher will now check for space requirements.");
    bool space = checkDiskSpace(config, installDir);
    logInfo(space ? L"Patcher has successfully satisfied the space requirements."
                  : L"Patcher fails to satisfy the space requirements.");
    return space;
}

bool checkDiskSpace(const PatcherConfigRecord& config, const std::wstring& installDir) {
    if (!config.targetSpaceKb.empty()) {
        std::uint64_t required = leadingNumber(config.targetSpaceKb) * 1024;
        std::uint64_t free = freeBytesOn(driveRoot(installDir));
        logInfo(L"space on target disk: %llu", free);
        logInfo(L"space on target disk from config XML: %llu", required);
        if (!(required < free)) {
            logError(L"Low Disk space in target. Patcher will now quit.");
            patchGlobals().validationReason = reasonTargetNoSpace;
            return false;
        }
        logInfo(L"Target Disk space is available on the target machine.");
    }
    if (!config.systemSpaceKb.empty()) {
        std::uint64_t required = leadingNumber(config.systemSpaceKb) * 1024;
        std::uint64_t free = freeBytesOn(driveRoot(win::systemDirectory()));
        logInfo(L"space on system disk: %llu", free);
        logInfo(L"space on system disk from config XML: %llu", required);
        if (!(required < free)) {
            logError(L"Low Disk space in System. Patcher will now quit.");
            patchGlobals().validationReason = reasonSystemNoSpace;
            return false;
        }
        logInfo(L"System Disk space is available on the target machine.");
    }
    return true;
}

}  // namespace mw

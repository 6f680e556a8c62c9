// Locating the product and the history, version and space checks.
#include <gtest/gtest.h>

#include <algorithm>
#include "mendwell/base/patch_state.h"
#include "mendwell/records/patch_history.h"
#include "mendwell/records/product_validation.h"

#include "platform/fs/file.h"
#include "platform/fs/path.h"
#include "platform/text/text.h"
#include "tests/records/records_fixture.h"

namespace {

using records_test::patchConfig;
using records_test::RecordsTest;

class Validation : public RecordsTest {
  protected:
    explicit Validation(const win::MachineProfile& p = {}) : RecordsTest(p) {}
    void makeFolder(const std::wstring& path) { std::filesystem::create_directories(machine_->host(path)); }
    int reason() const { return mw::patchGlobals().validationReason; }
    // A config whose product LTX4 is already located.
    mw::PatcherConfigRecord located(const std::wstring& oldVersion, const std::wstring& newVersion,
                                    const std::wstring& combo) {
        mw::PatcherConfigRecord c = patchConfig({L"LTX4"});
        c.detectedProductCodes = {L"LTX4"};
        c.oldVersion = oldVersion;
        c.newVersion = newVersion;
        c.comboPatch = combo;
        return c;
    }
    void writeHistory(const std::string& xml) {
        makeFolder(L"C:\\Program Files\\Common Files\\Orvex\\Installers");
        machine_->writeFile(mw::PatchHistoryFile::pathFor(L"LTX4"), xml);
    }
};

TEST(CompareVersions, PartByPartAsNumbers) {
    EXPECT_EQ(mw::compareVersions(L"9.0", L"9.0.0.0"), 0);
    EXPECT_EQ(mw::compareVersions(L"9.0.0.0", L"9.0"), 0);
    EXPECT_EQ(mw::compareVersions(L"9.0.1", L"9.0"), 1);
    EXPECT_EQ(mw::compareVersions(L"8.5", L"9.0"), -1);
    EXPECT_EQ(mw::compareVersions(L"10.0", L"9.9.9.9"), 1);  // numbers, not text
    EXPECT_EQ(mw::compareVersions(L"9.0.0.12", L"9.0.0.9"), 1);
    EXPECT_EQ(mw::compareVersions(L"", L"0.0.0.0"), 0);
    EXPECT_EQ(mw::compareVersions(L"1.2.3.4.9", L"1.2.3.4"), 0);  // a fifth part is not read
    EXPECT_EQ(mw::compareVersions(L"99999999999999999999999.1", L"1.1"), 1);
    EXPECT_EQ(mw::compareVersions(L" 9.0", L"9.0"), 0);  // leading blanks are skipped, as the C runtime does
    EXPECT_EQ(mw::compareVersions(L"9.\t1", L"9.1"), 0);
}

TEST_F(Validation, SecondCodeChosenWhenFirstFolderIsMissing) {
    addProduct("CODE-A", "C:\\Program Files\\Gone\\", "9.0");
    addProduct("CODE-B", "C:\\Program Files\\Orvex\\Lumen TX4\\", "9.0");
    makeFolder(L"C:\\Program Files\\Orvex\\Lumen TX4");
    mw::PatcherConfigRecord c = patchConfig({L"CODE-A", L"CODE-B", L"CODE-C"});
    std::wstring cwd = win::currentDirectory();

    std::wstring dir;
    EXPECT_EQ(mw::locateProduct(c, dir), mw::productFound);
    EXPECT_EQ(dir, L"C:\\Program Files\\Orvex\\Lumen TX4");
    EXPECT_EQ(c.detectedProductCodes, std::vector<std::wstring>{L"CODE-B"});
    EXPECT_FALSE(c.productCodes[0].selected);
    EXPECT_TRUE(c.productCodes[1].selected);
    EXPECT_EQ(c.productCodes[0].installDir, L"C:\\Program Files\\Gone");
    EXPECT_EQ(c.productCodes[2].installDir, L"");
    EXPECT_EQ(win::currentDirectory(), cwd);  // the existence test leaves the current directory alone

    EXPECT_TRUE(mw::isKnownInstallDir(c, L"C:\\Program Files\\Orvex\\Lumen TX4"));
    EXPECT_FALSE(mw::isKnownInstallDir(c, L"C:\\program files\\orvex\\lumen tx4"));  // exact text only
    EXPECT_FALSE(mw::isKnownInstallDir(c, L"C:\\Program Files\\Gone"));              // not a detected code
    c.detectedProductCodes.push_back(L"CODE-C");  // unknown to the database: its answer is empty
    EXPECT_FALSE(mw::isKnownInstallDir(c, L""));
}

TEST_F(Validation, NotFoundWhenNoFolderExistsOrNoDatabase) {
    mw::PatcherConfigRecord c = patchConfig({L"CODE-A"});
    std::wstring dir = L"stale";
    installTally();
    EXPECT_EQ(mw::locateProduct(c, dir), mw::productNotFound);  // no database file at all
    EXPECT_EQ(dir, L"");
    EXPECT_TRUE(logged(L"CRITICALINFO", L"TALLY unable to return InstallDir."));

    addProduct("CODE-A", "C:\\Program Files\\Gone", "9.0");
    EXPECT_EQ(mw::locateProduct(c, dir), mw::productNotFound);
    EXPECT_TRUE(c.detectedProductCodes.empty());

    machine_->writeFile(L"C:\\Program Files\\Gone", "a file, not a folder");
    EXPECT_EQ(mw::locateProduct(c, dir), mw::productNotFound);
}

TEST_F(Validation, VersionRulesWithAndWithoutCombo) {
    addProduct("LTX4", "C:\\P", "9.0.1");
    struct Case {
        const wchar_t* combo;
        const char* installed;
        bool fits;
        int reason;
    };
    const Case cases[] = {
        {L"true", "9.0.1", true, 0},  {L"true", "8.5", false, 4},     {L"true", "9.0.4", false, 6},
        {L"true", "9.0", true, 0},    {L"true", "9.0.3", true, 0},    {L"True", "9.0.1", false, 4},
        {L"false", "9.0.3", true, 0}, {L"false", "9.0.0.0", true, 0}, {L"", "9.0.2", false, 4},
    };
    for (const Case& k : cases) {
        setTallyValue("LTX4", "version", k.installed);
        mw::patchGlobals().validationReason = 0;
        SCOPED_TRACE(std::string("installed ") + k.installed);
        EXPECT_EQ(mw::validateVersion(located(L"9.0", L"9.0.3", k.combo), L"C:\\P"), k.fits);
        EXPECT_EQ(reason(), k.reason);
    }
    auto info = messages(L"INFO");
    EXPECT_EQ(std::count(info.begin(), info.end(), L"Combo Patching = true"), 5);
    EXPECT_EQ(std::count(info.begin(), info.end(), L"Combo Patching = false"), 4);
    EXPECT_EQ(std::count(info.begin(), info.end(), L"Patcher is unable to match the version numbers."), 4);
    EXPECT_EQ(
        std::count(info.begin(), info.end(), L"Patcher has successfully satisfied the space requirements."),
        5);
    EXPECT_TRUE(logged(L"INFO", L"Version of the product as installed on the target machine: 8.5"));
    EXPECT_TRUE(logged(L"INFO", L"Old Version as read from config.xml file: 9.0"));
    EXPECT_TRUE(logged(L"INFO", L"New Version as read from config.xml file: 9.0.3"));
}

TEST_F(Validation, HistoryVersionOverridesTheDatabase) {
    addProduct("LTX4", "C:\\P", "9.0");
    writeHistory(
        "<TVRHistory tsInstalled='' tsModified=''><Patcher SequenceID='1' PatcherID='p'>"
        "<OldVersion>9.0</OldVersion><NewVersion>9.0.3</NewVersion></Patcher></TVRHistory>");
    EXPECT_TRUE(mw::validateVersion(located(L"9.0", L"9.0.3", L"false"), L"C:\\P"));
    EXPECT_TRUE(logged(L"INFO", L"New Version as read from <OrvexCode>.patch file: 9.0.3"));
    EXPECT_TRUE(logged(L"INFO", L"Old Version as read from <OrvexCode>.patch file: 9.0"));
    EXPECT_TRUE(logged(L"INFO", L"Version of the product as installed on the target machine: 9.0.3"));
    EXPECT_FALSE(logged(L"INFO", L"Version obtained from TALLY: 9.0"));
}

TEST_F(Validation, HistoryCheck) {
    addProduct("LTX4", "C:\\P", "9.0", "C7", 1700000000, 1700000001);
    mw::PatcherConfigRecord c = located(L"9.0", L"9.0.3", L"false");
    const std::wstring path = mw::PatchHistoryFile::pathFor(L"LTX4");

    // No history: the stamps differ from the database's, and patching may go on.
    EXPECT_TRUE(mw::validateHistory(c));
    EXPECT_TRUE(logged(L"INFO", L"Patcher is validating the <Orvexcode>.patch file."));
    EXPECT_TRUE(logged(L"INFO", L"Installed Timestamp as read from TALLY.db file: 1700000000"));

    // Same installation, history shows a newer version than this patch brings.
    writeHistory(
        "<TVRHistory tsInstalled='1700000000' tsModified='1'><Patcher SequenceID='1' PatcherID='p'>"
        "<NewVersion>9.0.4</NewVersion></Patcher></TVRHistory>");
    EXPECT_FALSE(mw::validateHistory(c));
    EXPECT_EQ(mw::patchGlobals().qudUserMessage, L"$$$/tvr/info/message/patchAlreadyApplied");
    // Refused as already updated, so that every mode says so.
    EXPECT_EQ(reason(), mw::reasonAlreadyUpdated);
    EXPECT_TRUE(logged(L"INFO",
                       L"The <OrvexCode>.patch file shows version 9.0.4, newer than the version "
                       L"9.0.3 this patch brings."));
    EXPECT_TRUE(machine_->exists(path));

    // Same installation, this patch or an older one recorded: fine.
    writeHistory(
        "<TVRHistory tsInstalled='1700000000' tsModified='1'><Patcher SequenceID='1' PatcherID='p'>"
        "<NewVersion>9.0.3</NewVersion></Patcher></TVRHistory>");
    EXPECT_TRUE(mw::validateHistory(c));
    EXPECT_TRUE(logged(L"INFO",
                       L"Timestamp match and version numbers also match. So the product is valid for "
                       L"applying the patch."));

    // Reinstalled since: the old history goes.
    writeHistory(
        "<TVRHistory tsInstalled='1600000000' tsModified='1'><Patcher SequenceID='1' PatcherID='p'>"
        "<NewVersion>9.0.4</NewVersion></Patcher></TVRHistory>");
    EXPECT_TRUE(mw::validateHistory(c));
    EXPECT_FALSE(machine_->exists(path));
    EXPECT_TRUE(logged(L"INFO",
                       L"Timestamps from <Orvexcode>.patch and TALLY do not match. It means product was "
                       L"un-installed after applying the patch. <OrvexCode>.patch will be deleted and new "
                       L"file wil be created."));
}

TEST_F(Validation, DamagedHistoryCountsAsAbsentAndIsKept) {
    addProduct("LTX4", "C:\\P", "9.0.1", "C7", 1700000000, 1);
    writeHistory("<TVRHistory tsInstalled='1700000000'><Patcher");
    mw::PatcherConfigRecord c = located(L"9.0", L"9.0.3", L"true");
    EXPECT_TRUE(mw::validateHistory(c));
    const std::wstring path = mw::PatchHistoryFile::pathFor(L"LTX4");
    EXPECT_TRUE(machine_->exists(path));  // not deleted before the patch runs
    // The log says what happens to it.
    EXPECT_TRUE(logged(L"INFO",
                       L"Timestamps from <Orvexcode>.patch and TALLY do not match. The damaged "
                       L"<OrvexCode>.patch file will be kept as " +
                           path + L".bad and a new file will be created."));
    for (const std::wstring& line : messages(L"INFO"))
        EXPECT_EQ(line.find(L"will be deleted"), std::wstring::npos) << win::toUtf8(line);
    EXPECT_TRUE(mw::validateVersion(c, L"C:\\P"));
    EXPECT_TRUE(logged(L"INFO", L"Version obtained from TALLY: 9.0.1"));
}

TEST_F(Validation, NoHistoryAndNoCollectionStillPasses) {
    addProduct("LTX4", "C:\\P", "9.0");
    EXPECT_TRUE(mw::validateHistory(located(L"9.0", L"9.0.3", L"false")));
    EXPECT_TRUE(logged(L"INFO",
                       L"Timestamp from <Orvexcode>.patch and TALLY match, so now versions in "
                       L"<Orvexcode>.patch and TALLY.db will be compared."));
}

win::MachineProfile smallDisk() {
    win::MachineProfile p;
    p.freeBytes[L'C'] = 100 * 1024;
    return p;
}

class DiskSpace : public Validation {
  protected:
    DiskSpace() : Validation(smallDisk()) {}
};

TEST_F(DiskSpace, StrictComparisonOnTargetAndSystemDrives) {
    mw::PatcherConfigRecord c = located(L"9.0", L"9.0.3", L"false");
    c.targetSpaceKb = L"100";  // exactly what is free: not enough
    c.systemSpaceKb = L"1";    // would pass, but is only checked after the target check passed
    EXPECT_FALSE(mw::checkDiskSpace(c, L"C:\\P"));
    EXPECT_EQ(reason(), 10);
    EXPECT_TRUE(logged(L"INFO", L"space on target disk: 102400"));
    EXPECT_TRUE(logged(L"INFO", L"space on target disk from config XML: 102400"));
    EXPECT_TRUE(logged(L"ERROR", L"Low Disk space in target. Patcher will now quit."));
    EXPECT_FALSE(logged(L"INFO", L"space on system disk: 102400"));  // the system check is not made

    mw::patchGlobals().validationReason = 0;
    c.targetSpaceKb = L"99";
    c.systemSpaceKb = L"";
    EXPECT_TRUE(mw::checkDiskSpace(c, L"C:\\P"));
    EXPECT_TRUE(logged(L"INFO", L"Target Disk space is available on the target machine."));

    // No target requirement: the system drive is still checked.
    c.targetSpaceKb = L"";
    c.systemSpaceKb = L"100";
    EXPECT_FALSE(mw::checkDiskSpace(c, L"C:\\P"));
    EXPECT_EQ(reason(), 11);
    EXPECT_TRUE(logged(L"INFO", L"space on system disk: 102400"));
    EXPECT_TRUE(logged(L"ERROR", L"Low Disk space in System. Patcher will now quit."));
    c.systemSpaceKb = L"1";
    EXPECT_TRUE(mw::checkDiskSpace(c, L"C:\\P"));
    EXPECT_TRUE(logged(L"INFO", L"System Disk space is available on the target machine."));
}

win::MachineProfile bigDisk() {
    win::MachineProfile p;
    p.freeBytes[L'C'] = 3000000000ULL;
    return p;
}

// More than 2^31 bytes free is logged as the full number.
class BigDisk : public Validation {
  protected:
    BigDisk() : Validation(bigDisk()) {}
};

TEST_F(BigDisk, FreeSpaceIsLoggedInFull) {
    mw::PatcherConfigRecord c = located(L"9.0", L"9.0.3", L"false");
    c.targetSpaceKb = L"2900000";
    c.systemSpaceKb = L"1";
    EXPECT_TRUE(mw::checkDiskSpace(c, L"C:\\P"));
    EXPECT_TRUE(logged(L"INFO", L"space on target disk: 3000000000"));
    EXPECT_TRUE(logged(L"INFO", L"space on target disk from config XML: 2969600000"));
    EXPECT_TRUE(logged(L"INFO", L"space on system disk: 3000000000"));
}

TEST_F(DiskSpace, VersionCheckReportsTheSpaceOutcome) {
    addProduct("LTX4", "C:\\P", "9.0");
    mw::PatcherConfigRecord c = located(L"9.0", L"9.0.3", L"false");
    c.systemSpaceKb = L"5000";
    EXPECT_FALSE(mw::validateVersion(c, L"C:\\P"));
    EXPECT_EQ(reason(), 11);
    EXPECT_TRUE(logged(L"INFO", L"Patcher will now check for space requirements."));
    EXPECT_TRUE(logged(L"INFO", L"Patcher fails to satisfy the space requirements."));
}

}  // namespace

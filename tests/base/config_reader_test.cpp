// config.xml: extraction from the program's resources, the parse rules and the logged values.
#include <gtest/gtest.h>

#include <cwchar>

#include "mendwell/base/config_reader.h"
#include "mendwell/base/workfolder.h"
#include "tests/base/base_fixtures.h"
#include "tests/support/testmachine.h"

namespace {

using mw::PatcherConfigRecord;
using testing_support::TestMachine;

constexpr const wchar_t* kPath = L"C:\\cfg\\config.xml";

std::string document(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<PatcherConfig>" + body + "</PatcherConfig>";
}
const std::string kRequired =
    "<Name>Lumen TX4</Name><PatcherID>{1111-2222}</PatcherID><BuildNumber>417</BuildNumber>";

class ConfigParse : public ::testing::Test {
  protected:
    bool parse(const std::string& xml) {
        machine.writeFile(kPath, xml);
        record.productName = L"stale";
        return mw::parseConfigFile(kPath, record);
    }
    TestMachine machine;
    PatcherConfigRecord record;
};

TEST_F(ConfigParse, MinimalDocumentHasEmptyLists) {
    ASSERT_TRUE(parse(document(kRequired)));
    EXPECT_EQ(record.productName, L"Lumen TX4");
    EXPECT_EQ(record.patcherId, L"{1111-2222}");
    EXPECT_EQ(record.buildNumber, L"417");
    EXPECT_EQ(record.comboPatch, L"");
    EXPECT_TRUE(record.installDirRegistry.empty());
    EXPECT_TRUE(record.productCodes.empty());
    EXPECT_TRUE(record.aliases.empty());
    EXPECT_TRUE(record.appRunningPatterns.empty());
    EXPECT_TRUE(record.detectedProductCodes.empty());
}

TEST_F(ConfigParse, EachRequiredTopLevelValueIsRequired) {
    for (const char* missing : {"Name", "PatcherID", "BuildNumber"}) {
        std::string body = kRequired;
        const std::string open = std::string("<") + missing + ">";
        const std::string close = std::string("</") + missing + ">";
        body.erase(body.find(open), body.find(close) + close.size() - body.find(open));
        EXPECT_FALSE(parse(document(body))) << missing;
        EXPECT_EQ(record.productName, L"") << "the partial record is discarded";
    }
}

TEST_F(ConfigParse, FullDocument) {
    const std::string body =
        kRequired +
        "<PatchExecutableName>LumenUpdate.exe</PatchExecutableName><Version>1.0</Version>"
        "<ComboPatch>false</ComboPatch><Family>Studio</Family>"
        "<ProductData><QUD><AppID>LMN</AppID><Version>4.0</Version></QUD>"
        "<PDS><Win><Registry><HIVE>HKLM</HIVE><Path>SOFTWARE\\Orvex\\Lumen</Path><Key>InstallDir</Key></"
        "Registry>"
        "</Win></PDS>"
        "<OrvexCode><GUID>{A}</GUID><GUID>{B}</GUID><GUID>{C}</GUID></OrvexCode>"
        "<AliasList><Alias>Lumen</Alias><Alias>LTX</Alias></AliasList>"
        "<PathList><Path>[ProgramFiles]\\Orvex\\Lumen</Path></PathList>"
        "<OldVersion>4.0.0</OldVersion><NewVersion>4.0.1</NewVersion><AppDescriptorPath>x</AppDescriptorPath>"
        "</ProductData>"
        "<PrePatchValidation><AppRunningList><AppRunning>^lumen.*\\.exe$</AppRunning></AppRunningList>"
        "<SpaceRequirement><Target>20480</Target><System>1024</System></SpaceRequirement>"
        "<AppValidityCheck><KeyFilePathList><KeyFilePath>[INSTALLDIR]\\lumen.exe</KeyFilePath></"
        "KeyFilePathList>"
        "<MD5Check><Path>a</Path><MD5Value>1</MD5Value></MD5Check>"
        "<MD5Check><Path>b</Path><MD5Value>2</MD5Value></MD5Check>"
        "<OrvexCode>{V}</OrvexCode>"
        "<PDS><Win><Registry><HIVE>HKCU</HIVE><Path>P</Path><Key>K</Key></Registry></Win></PDS>"
        "</AppValidityCheck></PrePatchValidation>";
    ASSERT_TRUE(parse(document(body)));
    EXPECT_EQ(record.patchExecutableName, L"LumenUpdate.exe");
    EXPECT_EQ(record.patcherVersion, L"1.0");
    EXPECT_EQ(record.comboPatch, L"false");
    EXPECT_EQ(record.productFamily, L"Studio");
    EXPECT_EQ(record.qudAppId, L"LMN");
    EXPECT_EQ(record.qudVersion, L"4.0");
    ASSERT_EQ(record.installDirRegistry.size(), 1u);
    EXPECT_EQ(record.installDirRegistry[0].path, L"SOFTWARE\\Orvex\\Lumen");
    ASSERT_EQ(record.productCodes.size(), 3u);
    EXPECT_EQ(record.productCodes[0].code, L"{A}");
    EXPECT_EQ(record.productCodes[2].code, L"{C}");
    for (const auto& code : record.productCodes) {
        EXPECT_FALSE(code.selected);
        EXPECT_EQ(code.installDir, L"");
    }
    EXPECT_EQ(record.aliases, (std::vector<std::wstring>{L"Lumen", L"LTX"}));
    EXPECT_EQ(record.installPaths, std::vector<std::wstring>{L"[ProgramFiles]\\Orvex\\Lumen"});
    EXPECT_EQ(record.oldVersion, L"4.0.0");
    EXPECT_EQ(record.newVersion, L"4.0.1");
    EXPECT_EQ(record.appRunningPatterns, std::vector<std::wstring>{L"^lumen.*\\.exe$"});
    EXPECT_EQ(record.keyFilePaths, std::vector<std::wstring>{L"[INSTALLDIR]\\lumen.exe"});
    EXPECT_EQ(record.targetSpaceKb, L"20480");
    EXPECT_EQ(record.systemSpaceKb, L"1024");
    EXPECT_EQ(record.md5CheckPath, L"b");  // the last MD5Check wins
    EXPECT_EQ(record.md5CheckValue, L"2");
    EXPECT_EQ(record.validityProductCode, L"{V}");
    ASSERT_EQ(record.validityRegistry.size(), 1u);
    EXPECT_EQ(record.validityRegistry[0].hive, L"HKCU");
}

TEST_F(ConfigParse, IncompleteRegistryFailsOnlyWhileNothingWasCollected) {
    const std::string complete = "<Registry><HIVE>HKLM</HIVE><Path>P</Path><Key>K</Key></Registry>";
    const std::string noKey = "<Registry><HIVE>HKLM</HIVE><Path>Q</Path></Registry>";
    ASSERT_TRUE(parse(
        document(kRequired + "<ProductData><PDS><Win>" + complete + noKey + "</Win></PDS></ProductData>")));
    ASSERT_EQ(record.installDirRegistry.size(), 1u);
    EXPECT_EQ(record.installDirRegistry[0].path, L"P");

    EXPECT_FALSE(parse(
        document(kRequired + "<ProductData><PDS><Win>" + noKey + complete + "</Win></PDS></ProductData>")));
    EXPECT_TRUE(record.installDirRegistry.empty());

    const std::string validity = "<PrePatchValidation><AppValidityCheck><PDS><Win>" + noKey +
                                 "</Win></PDS></AppValidityCheck></PrePatchValidation>";
    EXPECT_FALSE(parse(document(kRequired + validity)));
}

TEST_F(ConfigParse, EmptyListsAndMissingChildrenFail) {
    EXPECT_FALSE(parse(document(kRequired + "<ProductData><OrvexCode/></ProductData>")));
    // A later empty OrvexCode is tolerated once codes were collected.
    EXPECT_TRUE(parse(document(
        kRequired + "<ProductData><OrvexCode><GUID>{A}</GUID></OrvexCode><OrvexCode/></ProductData>")));
    EXPECT_FALSE(parse(document(kRequired + "<ProductData><AliasList/></ProductData>")));
    EXPECT_FALSE(parse(document(kRequired + "<ProductData><PathList></PathList></ProductData>")));
    EXPECT_FALSE(parse(document(kRequired + "<PrePatchValidation><AppRunningList/></PrePatchValidation>")));
    EXPECT_FALSE(parse(document(kRequired + "<PrePatchValidation><AppValidityCheck><KeyFilePathList/>"
                                            "</AppValidityCheck></PrePatchValidation>")));
    EXPECT_FALSE(parse(document(kRequired + "<PrePatchValidation><AppValidityCheck><MD5Check><Path>a</Path>"
                                            "</MD5Check></AppValidityCheck></PrePatchValidation>")));
    EXPECT_FALSE(parse(document(kRequired + "<ProductData><QUD><Version>1</Version></QUD></ProductData>")));
    EXPECT_TRUE(parse(document(kRequired + "<ProductData><QUD><AppID>X</AppID></QUD></ProductData>")));
}

TEST_F(ConfigParse, DocumentThatIsNotWellFormedGivesAnEmptyRecordAndTrue) {
    EXPECT_TRUE(parse("<PatcherConfig><Name>x</Name>"));
    EXPECT_EQ(record.productName, L"");
    EXPECT_TRUE(parse("<OtherRoot>" + kRequired + "</OtherRoot>"));
    EXPECT_EQ(record.productName, L"");
}

// What is wrong is said in words the author can act on.
TEST_F(ConfigParse, ProblemNamesWhatIsWrong) {
    const struct {
        std::string xml;
        const wchar_t* problem;  // the start of it; "" for none
    } rows[] = {
        {document(kRequired), L""},
        {"<PatcherConfig><Name>x</Name>", L"config.xml does not read as XML: "},
        {"<OtherRoot>" + kRequired + "</OtherRoot>",
         L"the root element of config.xml is <OtherRoot>, not <PatcherConfig>"},
        {document("<Name>x</Name><BuildNumber>1</BuildNumber>"),
         L"config.xml: the required element <PatcherID> is missing"},
        {document(kRequired + "<ProductData><AliasList/></ProductData>"),
         L"config.xml: an element is incomplete"},
    };
    for (const auto& row : rows) {
        machine.writeFile(kPath, row.xml);
        std::wstring problem = L"stale";
        mw::parseConfigFile(kPath, record, &problem);
        EXPECT_EQ(problem.substr(0, std::wcslen(row.problem)), row.problem) << row.xml;
        EXPECT_EQ(problem.empty(), *row.problem == 0) << row.xml;
    }
}

class ConfigReaderTest : public ::testing::Test {
  protected:
    TestMachine machine;
    shell_test::ResourceModule module;
};

TEST_F(ConfigReaderTest, ExtractsTheLanguageNeutralResourceIntoTheWorkFolder) {
    module.add(L"CONFIG", 100, document(kRequired), 0);
    module.add(L"CONFIG", 100, document("<Name>English</Name>"), 1033);
    mw::ConfigReader reader(module.build());
    ASSERT_TRUE(reader.parsed());
    EXPECT_EQ(reader.path(), mw::workFolder() + L"\\config.xml");
    EXPECT_TRUE(machine.exists(reader.path()));
    PatcherConfigRecord out;
    reader.copyTo(out);
    EXPECT_EQ(out.productName, L"Lumen TX4");
}

TEST_F(ConfigReaderTest, MissingResourceOrFailedParseLeavesTheTargetUntouched) {
    module.add(L"MANIFEST", 100, "<Manifest/>");
    const win::Module& m = module.build();
    PatcherConfigRecord out;
    out.productName = L"keep";
    mw::ConfigReader missing(m);
    EXPECT_FALSE(missing.parsed());
    missing.copyTo(out);
    EXPECT_EQ(out.productName, L"keep");

    shell_test::ResourceModule broken;
    broken.add(L"CONFIG", 100, document("<Name>only a name</Name>"));
    mw::ConfigReader reader(broken.build());
    EXPECT_FALSE(reader.parsed());
    reader.copyTo(out);
    EXPECT_EQ(out.productName, L"keep");

    shell_test::CapturedLog log(machine);
    reader.logValues();
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(ConfigReaderTest, LogValuesWritesTheExactLines) {
    module.add(
        L"CONFIG", 100,
        document(kRequired + "<Family>Studio</Family><ProductData><QUD><AppID>LMN</AppID></QUD>"
                             "<PDS><Win><Registry><HIVE>HKLM</HIVE><Path>SOFTWARE\\O</Path><Key>Dir</Key>"
                             "</Registry></Win></PDS><NewVersion>4.0.1</NewVersion></ProductData>"));
    mw::ConfigReader reader(module.build());
    ASSERT_TRUE(reader.parsed());
    shell_test::CapturedLog log(machine);
    reader.logValues();
    const auto lines = log.lines();
    const std::vector<std::wstring> info = shell_test::messagesOf(lines, L"INFO");
    EXPECT_EQ(info, (std::vector<std::wstring>{
                        L"Product Name = Lumen TX4",
                        L"PatcherID = {1111-2222}",
                        L"TVR Build Number = 417",
                        L"Mandotory tag \"Combo Patch\" not defined in config.xml",
                        L"QUD AppID = LMN",
                        L"Product Family = Studio",
                        L"RegistryHive = HKLM",
                        L"RegistryPath = SOFTWARE\\O",
                        L"RegistryKey = Dir",
                        L"New Version = 4.0.1",
                    }));
    EXPECT_EQ(shell_test::messagesOf(lines, L"CRITICALINFO"),
              std::vector<std::wstring>{L"no orvex code mentioned in the config.xml"});
}

TEST_F(ConfigReaderTest, LoggedValuesOfAnEmptyRecordAndOfDetectedCodes) {
    shell_test::CapturedLog log(machine);
    PatcherConfigRecord r;
    mw::logConfigValues(r);
    r.productName = L"P";
    r.detectedProductCodes = {L"{X}", L"{Y}"};
    mw::logConfigValues(r);
    const auto info = shell_test::messagesOf(log.lines(), L"INFO");
    EXPECT_EQ(info, (std::vector<std::wstring>{
                        L"Mandotory tag \"ProductName\" not defined in config.xml",
                        L"Mandotory tag \"PatcherID\" not defined in config.xml",
                        L"Mandotory tag \"TVR Build Number\" not defined in config.xml",
                        L"Mandotory tag \"Combo Patch\" not defined in config.xml",
                        L"Product Name = P",
                        L"Mandotory tag \"PatcherID\" not defined in config.xml",
                        L"Mandotory tag \"TVR Build Number\" not defined in config.xml",
                        L"Mandotory tag \"Combo Patch\" not defined in config.xml",
                        L"Orvexcode: {X}",
                        L"Orvexcode: {Y}",
                    }));
}

}  // namespace

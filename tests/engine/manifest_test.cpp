// Reading manifest entries: language choice of file names and registry values, defaults, mandatory tags.
#include <gtest/gtest.h>

#include "mendwell/engine/manifest.h"

namespace {

mw::CFastXMLParser parsed(const std::string& xml) {
    mw::CFastXMLParser parser;
    EXPECT_TRUE(parser.parseBuffer(xml)) << xml;
    return parser;
}

struct FileCase {
    const char* name;
    const char* entry;  // inside <File>
    bool rollback;
    mw::FileEntryRead read;
    const wchar_t* destination;
    const wchar_t* rename;
};

TEST(ManifestReader, FileEntries) {
    const char* const op = "<Operation>add</Operation><ObjectName>7</ObjectName>";
    for (
        const FileCase& c : {
            FileCase{"trailing separator of dir removed once",
                     R"(<DestinationPath dir="[INSTALLDIR]\docs\" defName="readme.txt"/>)", false,
                     mw::FileEntryRead::ok, L"[INSTALLDIR]\\docs\\readme.txt", L""},
            FileCase{"forward slash too", R"(<DestinationPath dir="[INSTALLDIR]/docs/" defName="a.txt"/>)",
                     false, mw::FileEntryRead::ok, L"[INSTALLDIR]/docs\\a.txt", L""},
            FileCase{
                "name for the install language first",
                R"(<DestinationPath dir="C:\P" defName="en.txt"><FileName lang="fr_FR">x.txt</FileName><FileName lang="de_DE">de.txt</FileName><FileName lang="de_DE">second.txt</FileName></DestinationPath>)",
                false, mw::FileEntryRead::ok, L"C:\\P\\de.txt", L""},
            FileCase{
                "only another language",
                R"(<DestinationPath dir="C:\P"><FileName lang="fr_FR">x.txt</FileName></DestinationPath>)",
                false, mw::FileEntryRead::otherLanguage, L"", L""},
            FileCase{
                "rename path without a name for the language",
                R"(<DestinationPath dir="C:\P" defName="a"/><RenamePath dir="C:\P"><FileName lang="fr_FR">b</FileName></RenamePath>)",
                false, mw::FileEntryRead::otherLanguage, L"C:\\P\\a", L""},
            FileCase{"rollback takes the recorded text",
                     R"(<DestinationPath>C:\P\a.txt</DestinationPath><RenamePath>C:\P\b.txt</RenamePath>)",
                     true, mw::FileEntryRead::ok, L"C:\\P\\a.txt", L"C:\\P\\b.txt"},
        }) {
        SCOPED_TRACE(c.name);
        auto parser =
            parsed(std::string("<Manifest><FileSet><File>") + op + c.entry + "</File></FileSet></Manifest>");
        const auto files = parser.selectNodes(mw::kFileSetPath);
        ASSERT_EQ(files.size(), 1u);
        mw::FileRecord record;
        EXPECT_EQ(mw::readFileRecord(*files[0], L"de_DE", c.rollback, record), c.read);
        if (c.read == mw::FileEntryRead::ok) {
            EXPECT_EQ(record.destinationPath, c.destination);
            EXPECT_EQ(record.renamePath, c.rename);
        }
    }
}

TEST(ManifestReader, FileDefaultsAndMandatoryTags) {
    auto parser = parsed(R"(<Manifest><FileSet>
      <File><Operation>patch</Operation><ObjectName>3</ObjectName><DestinationPath dir="C:\P" defName="a.dll"/>
        <Checksum><BeforePatch>aa</BeforePatch><AfterPatch>bb</AfterPatch></Checksum></File>
      <File><Operation>add</Operation><DestinationPath dir="C:\P" defName="b"/></File>
      <File><ObjectName>1</ObjectName><DestinationPath dir="C:\P" defName="b"/></File>
      <File><Operation>add</Operation><ObjectName>1</ObjectName></File>
    </FileSet></Manifest>)");
    const auto files = parser.selectNodes(mw::kFileSetPath);
    ASSERT_EQ(files.size(), 4u);
    mw::FileRecord record;
    ASSERT_EQ(mw::readFileRecord(*files[0], L"mul", false, record), mw::FileEntryRead::ok);
    EXPECT_EQ(record.operation, L"patch");
    EXPECT_EQ(record.beforePatch, L"aa");
    EXPECT_EQ(record.afterPatch, L"bb");
    EXPECT_EQ(record.touch, L"false");
    EXPECT_EQ(record.ascii, L"true");
    EXPECT_EQ(record.defaultFileName, L"a.dll");
    for (int i = 1; i < 4; ++i) {
        EXPECT_FALSE(mw::hasMandatoryFileTags(*files[i]));
        EXPECT_EQ(mw::readFileRecord(*files[i], L"mul", false, record), mw::FileEntryRead::missingTags);
    }
}

TEST(ManifestReader, RegistryServiceAndAddRemoveEntries) {
    auto parser = parsed(R"(<Manifest>
      <PDSSet>
        <PDS><Operation>add</Operation><Root>HKLM</Root><KeyPath>SOFTWARE\O</KeyPath><KeyName>Dir</KeyName>
          <Value defValue="[INSTALLDIR]"><RegValue lang="de_DE">deutsch</RegValue></Value><DataType>REG_SZ</DataType></PDS>
        <PDS><Operation>add</Operation><KeyName>V</KeyName><Value defValue="[INSTALLDIR]"/></PDS>
        <PDS><Operation>remove</Operation><KeyName>V</KeyName><Value defValue="kept"><RegValue lang="de_DE">x</RegValue></Value>
          <SubRegistryTree>T</SubRegistryTree><RawType>1</RawType><RawData>4100</RawData></PDS>
      </PDSSet>
      <ServiceSet><Service><Operation>stop</Operation><ServiceName>Lic</ServiceName>
        <ArgumentList><Argument>-a</Argument><Argument>b c</Argument></ArgumentList></Service></ServiceSet>
      <AddRemoveInfo><DisplayName><Value>Lumen</Value></DisplayName><SupportURL><Value>u</Value></SupportURL></AddRemoveInfo>
    </Manifest>)");
    const auto pds = parser.selectNodes(mw::kPdsSetPath);
    ASSERT_EQ(pds.size(), 3u);
    EXPECT_EQ(mw::readRegistryRecord(*pds[0], L"de_DE").value, L"deutsch");
    EXPECT_EQ(mw::readRegistryRecord(*pds[1], L"de_DE").value, L"[INSTALLDIR]");
    const mw::RegistryRecord removed = mw::readRegistryRecord(*pds[2], L"de_DE");
    EXPECT_EQ(removed.value, L"kept");
    EXPECT_EQ(removed.subtree, L"T");
    EXPECT_EQ(removed.rawData, L"4100");

    const auto services = parser.selectNodes(mw::kServiceSetPath);
    ASSERT_EQ(services.size(), 1u);
    const mw::ServiceRecord service = mw::readServiceRecord(*services[0]);
    EXPECT_EQ(service.serviceName, L"Lic");
    EXPECT_EQ(service.arguments, (std::vector<std::wstring>{L"-a", L"b c"}));

    const auto info = parser.selectNodes(mw::kAddRemoveInfoPath);
    ASSERT_EQ(info.size(), 1u);
    const mw::AddRemoveRecord record = mw::readAddRemoveRecord(*info[0]);
    EXPECT_EQ(record.displayName, L"Lumen");
    EXPECT_EQ(record.supportURL, L"u");
    EXPECT_EQ(record.publisher, L"");
}

}  // namespace

namespace {

// A document that is no patch manifest is named as such; one the run reads fully is not.
TEST(ManifestShape, RootSetsAndEntriesByName) {
    const struct {
        const char* xml;
        bool sound;
    } rows[] = {
        {"<Manifest><FileSet><File/></FileSet><DirectorySet/><PDSSet><PDS/></PDSSet><ServiceSet/>"
         "<AddRemoveInfo><DisplayName/></AddRemoveInfo><BundleSet><Bundle/></BundleSet></Manifest>",
         true},
        {"<Manifest/>", true},
        {"<PatchManifest><FileSet><File/></FileSet></PatchManifest>", false},
        {"<manifest><FileSet><File/></FileSet></manifest>", false},
        {"<Manifest><Fileset><File/></Fileset></Manifest>", false},
        {"<Manifest><FileSet><Flie/></FileSet></Manifest>", false},
        {"<Manifest><PDSSet><Registry/></PDSSet></Manifest>", false},
    };
    for (const auto& row : rows) {
        mw::CFastXMLParser parser = parsed(row.xml);
        ASSERT_NE(parser.root(), nullptr) << row.xml;
        EXPECT_EQ(mw::manifestShapeProblem(*parser.root()).empty(), row.sound) << row.xml;
    }
}

}  // namespace

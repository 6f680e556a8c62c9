// The application descriptor: the default text as written to disk, parsing and validation, and the
// element, file-type and icon updates as they come out in the saved file.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "platform/xmldom/xmldom.h"
#include "tests/platform/system/env_guard.h"
#include "tests/support/testmachine.h"
#include "vireo/descriptor.h"
#include "vireo/settings_store.h"

namespace {

using testing_support::TestMachine;
using namespace vireo;

constexpr char kBom[] = "\xEF\xBB\xBF";
const std::string kNs = "http://ns.orvex.com/kite/application/1.0";

struct Movie {
    TestMachine machine;
    SettingsStore store;
    explicit Movie(const wchar_t* base = L"My Movie") {
        machine.writeFile(L"C:\\Movies\\keep", "");
        store.set(key::lmvFolder, L"C:/Movies/");
        store.set(key::lmvBaseName, base);
    }
    std::string written() {
        writeDefaultDescriptor(store);
        const std::string text =
            machine.readFile(L"C:\\Movies\\" + store.value(key::lmvBaseName) + L"-app.xml");
        EXPECT_EQ(text.substr(0, 3), kBom);
        return text.substr(3);
    }
    std::string element(const std::string& name) {
        const std::string text = written();
        const auto open = text.find("<" + name + ">");
        if (open == std::string::npos) return "(missing)";
        const auto start = open + name.size() + 2;
        return text.substr(start, text.find("</" + name + ">") - start);
    }
};

TEST(DefaultDescriptor, MyMovieWithNoSettings) {
    Movie movie;
    EXPECT_EQ(
        movie.written(),
        "<?xml version =\"1.0\" encoding=\"utf-8\" ?><application xmlns=\"" + kNs +
            "\"><id>com.orvex.example.My-Movie</id><version>1.0</version><filename>My Movie</filename>"
            "<description></description><name>My Movie</name><copyright></copyright><initialWindow>"
            "<content>My&#37;20Movie.lmv</content><systemChrome>standard</systemChrome><transparent>false"
            "</transparent><visible>true</visible></initialWindow><icon></icon><customUpdateUI>false"
            "</customUpdateUI><allowBrowserInvocation>false</allowBrowserInvocation></application>");
}

TEST(DefaultDescriptor, ApplicationIds) {
    const struct {
        const wchar_t* appId;
        std::wstring appName;
        const char* id;
    } rows[] = {
        {L"", L"", "com.orvex.example.My-Movie"},
        {L"", std::wstring(194, L'a'), nullptr},  // 18 + 194 = 212 characters: still valid
        {L"", std::wstring(195, L'a'), "com.orvex.example.changeme"},
        {L"", L"a+b", "com.orvex.example.changeme"},
        {L"my_app id", L"", "my-app-id"},
        {L"com.x.Ä", L"", "com.orvex.example.changeme"},
    };
    for (const auto& row : rows) {
        Movie movie;
        movie.store.set(key::appId, row.appId);
        movie.store.set(key::appName, row.appName);
        const std::string expected = row.id ? row.id : "com.orvex.example." + std::string(194, 'a');
        EXPECT_EQ(movie.element("id"), expected) << row.appId;
    }
}

TEST(DefaultDescriptor, WindowStyles) {
    const struct {
        const wchar_t* style;
        const char* chrome;
        const char* transparent;
    } rows[] = {{L"transparent", "none", "true"},
                {L"opaque", "none", "false"},
                {L"standard", "standard", "false"},
                {L"Opaque", "standard", "false"}};
    for (const auto& row : rows) {
        Movie movie;
        movie.store.set(key::windowType, row.style);
        EXPECT_EQ(movie.element("systemChrome"), row.chrome) << row.style;
        EXPECT_EQ(movie.element("transparent"), row.transparent) << row.style;
    }
}

TEST(DefaultDescriptor, IconsThatExistOnly) {
    Movie movie;
    movie.machine.writeFile(L"C:\\Art\\big.png", "png");
    movie.store.set(key::icon128, L"C:/Art/big.png");
    movie.store.set(key::icon48, L"none");
    movie.store.set(key::icon32, L"C:/Art/missing.png");
    EXPECT_EQ(movie.element("icon"), "<image128x128>/AppIconsForKITEPublish/big.png</image128x128>");
    movie.store.set(key::icon128, L"none");
    EXPECT_EQ(movie.element("icon"), "");
}

TEST(DefaultDescriptor, SettingsAreEscapedAndTheFileParses) {
    Movie movie(L"Tom & Jerry");
    movie.store.set(key::copyright, L"A < B & C");
    movie.store.set(key::programMenu, L"Orvex");
    EXPECT_EQ(movie.element("copyright"), "A &lt; B &amp; C");
    EXPECT_EQ(movie.element("content"), "Tom&#37;20&amp;&#37;20Jerry.lmv");
    EXPECT_EQ(movie.element("programMenuFolder"), "Orvex");
    EXPECT_EQ(validateDescriptor(L"C:\\Movies\\Tom & Jerry-app.xml"), descriptor::usable);
    std::wstring text;
    EXPECT_EQ(readElementText(L"copyright", text), 0);
    EXPECT_EQ(text, L"A < B & C");
}

TEST(DescriptorValidation, ResultCodes) {
    TestMachine machine;
    const std::pair<std::string, int> rows[] = {
        {"<application xmlns=\"" + kNs + "\"><id>x</id></application>", descriptor::usable},
        {"<application xmlns=\"" + kNs + "\"><id>x</id>", descriptor::parseFailed},
        {"<other/>", descriptor::noApplication},
        {"<application><id>x</id></application>", descriptor::noNamespace},
        {"<application xmlns=\"http://ns.orvex.com/kite/application/1.0.M6\"/>", descriptor::preRelease},
        {"<application xmlns=\"http://ns.orvex.com/kite/application/1.0.M5\"/>", descriptor::preRelease},
        // External entities are never fetched, and expansion is bounded.
        {"<!DOCTYPE application SYSTEM \"file:///etc/passwd\"><application xmlns=\"" + kNs + "\"/>",
         descriptor::parseFailed},
        {"<!DOCTYPE application [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
         "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">]>"
         "<application xmlns=\"" +
             kNs + "\">&d;&d;&d;</application>",
         descriptor::parseFailed},
    };
    for (const auto& [xml, code] : rows) {
        machine.writeFile(L"C:\\d.xml", xml);
        EXPECT_EQ(validateDescriptor(L"C:\\d.xml"), code) << xml;
    }
    EXPECT_EQ(validateDescriptor(L"C:\\missing.xml"), descriptor::parseFailed);
}

TEST(DescriptorChecks, PreReleaseDefaultIsRewrittenSilentlyAndFailuresAreShown) {
    Movie movie;
    testing_support::TempDir dir;
    const auto script = dir.path() / "ui.script";
    testing_support::writeHostFile(script, "");
    EnvGuard guard({"MENDWELL_UI_SCRIPT"});
    ::setenv("MENDWELL_UI_SCRIPT", script.c_str(), 1);

    movie.machine.writeFile(L"C:\\Movies\\My Movie-app.xml",
                            "<application xmlns=\"http://ns.orvex.com/kite/application/1.0.M6\"><id>old</id>"
                            "</application>");
    EXPECT_EQ(checkDefaultDescriptor(movie.store), descriptor::usable);
    const std::string rewritten = movie.machine.readFile(L"C:\\Movies\\My Movie-app.xml");
    EXPECT_NE(rewritten.find("<application xmlns=\"" + kNs + "\">"), std::string::npos);
    EXPECT_NE(rewritten.find("<id>com.orvex.example.My-Movie</id>"), std::string::npos);
    EXPECT_EQ(testing_support::readHostFile(script), "");

    // Writing the default descriptor anew makes the next check read it again, not the parse before.
    movie.store.set(key::appName, L"Renamed");
    writeDefaultDescriptor(movie.store);
    EXPECT_EQ(checkDefaultDescriptor(movie.store), descriptor::usable);
    std::wstring fileName;
    EXPECT_EQ(readElementText(L"filename", fileName), 0);
    EXPECT_EQ(fileName, L"Renamed");

    // A custom descriptor with a pre-release namespace stays as it is and fails.
    movie.machine.writeFile(L"C:\\Movies\\custom.xml", "<application xmlns=\"urn:x:1.0.M5\"/>");
    movie.store.set(key::useCustom, L"true");
    movie.store.set(key::customPath, L"C:\\Movies\\custom.xml");
    EXPECT_EQ(checkCustomDescriptor(movie.store), descriptor::preRelease);
    EXPECT_NE(testing_support::readHostFile(script).find("caption=<Orvex Lumen TX4>"), std::string::npos);
    movie.store.set(key::customPath, L"");
    EXPECT_EQ(checkCustomDescriptor(movie.store), 2);
    movie.store.set(key::useCustom, L"false");
    EXPECT_EQ(checkCustomDescriptor(movie.store), 1);
}

// Loads the saved file back for checks.
win::xml::Node savedRoot(win::xml::Document& doc, const wchar_t* path) {
    EXPECT_TRUE(doc.load(path)) << doc.error();
    return doc.root();
}

TEST(DescriptorUpdates, AdvancedSettings) {
    Movie movie;
    movie.written();
    ASSERT_EQ(validateDescriptor(L"C:\\Movies\\My Movie-app.xml"), 0);
    AdvancedSettings settings;
    settings.installFolder = L"Orvex\\App";
    settings.width = L"640px";
    settings.height = L" 480 ";
    settings.minWidth = L"200";
    settings.maxWidth = L"1024";
    settings.maxHeight = L"768";
    settings.resizable = false;
    settings.customUpdateUI = true;
    EXPECT_EQ(updateAdvancedSettings(settings), 0);
    ASSERT_EQ(saveDescriptor(L"C:\\Movies\\saved.xml"), 0);

    win::xml::Document doc;
    auto root = savedRoot(doc, L"C:\\Movies\\saved.xml");
    EXPECT_EQ(root.attribute(L"xmlns"), std::wstring(kDescriptorNamespace));
    EXPECT_EQ(root.firstChild(L"installFolder").text(), L"Orvex\\App");
    EXPECT_FALSE(root.firstChild(L"programMenuFolder"));
    auto window = root.firstChild(L"initialWindow");
    EXPECT_FALSE(window.firstChild(L"width"));
    EXPECT_EQ(window.firstChild(L"height").text(), L"480");
    EXPECT_FALSE(window.firstChild(L"minSize"));
    EXPECT_EQ(window.firstChild(L"maxSize").text(), L"1024 768");
    EXPECT_EQ(window.firstChild(L"resizable").text(), L"false");
    EXPECT_EQ(window.firstChild(L"visible").text(), L"true");
    EXPECT_EQ(root.firstChild(L"customUpdateUI").text(), L"true");
    // Elements made here belong to the descriptor's namespace, as the runtime reads them.
    EXPECT_EQ(movie.machine.readFile(L"C:\\Movies\\saved.xml").find("xmlns=\"\""), std::string::npos);
}

FileTypeRecord record(const char* name, const char* extension, const char* icon16 = "") {
    FileTypeRecord r;
    std::strcpy(r.name, name);
    std::strcpy(r.extension, extension);
    std::strcpy(r.image16x16, icon16);
    std::wcscpy(r.description, L"Описание");
    r.present = 1;
    return r;
}

TEST(DescriptorUpdates, FileTypesAndIcons) {
    Movie movie;
    movie.machine.writeFile(
        L"C:\\Movies\\My Movie-app.xml",
        "<application xmlns=\"" + kNs +
            "\"><icon><image16x16>a16.png</image16x16><image128x128>a128.png</image128x128>"
            "</icon><fileTypes/></application>");
    ASSERT_EQ(validateDescriptor(L"C:\\Movies\\My Movie-app.xml"), 0);
    EXPECT_EQ(addFileType(record("Doc", "abc", "d16.png")), 0);
    EXPECT_EQ(addFileType(record("Img", "png")), 0);
    std::wstring list = L"old";
    EXPECT_EQ(listFileTypes(list), 0);
    EXPECT_EQ(list, L";Doc(abc);Img(png);");

    FileTypeRecord read;
    EXPECT_EQ(readFileType(L"Doc", read), 0);
    EXPECT_STREQ(read.extension, "abc");
    EXPECT_STREQ(read.image16x16, "d16.png");
    EXPECT_EQ(std::wstring(read.description), L"Описание");
    EXPECT_EQ(readFileType(L"None", read), 2);

    std::vector<std::wstring> icons;
    EXPECT_EQ(collectIcons(icons), 0);
    EXPECT_EQ(icons, (std::vector<std::wstring>{L"a128.png", L"a16.png", L"d16.png"}));

    // Renamed through its previous name; the emptied icon field removes that icon.
    FileTypeRecord renamed = record("Text", "txt");
    std::strcpy(renamed.previousName, " Doc ");
    EXPECT_EQ(updateFileType(renamed), 0);
    EXPECT_EQ(removeFileType(L"Img"), 0);
    EXPECT_EQ(listFileTypes(list), 0);
    EXPECT_EQ(list, L";Text(txt);");
    EXPECT_EQ(readFileType(L"Text", read), 0);
    EXPECT_STREQ(read.image16x16, "");
    EXPECT_EQ(setChildText(L"nothere", L"x", L"y"), 2);
}

TEST(DescriptorUpdates, ApplicationIconsForPackaging) {
    Movie movie;
    movie.machine.writeFile(L"C:\\Movies\\Icons\\App128.PNG", "png");
    movie.machine.writeFile(L"C:\\Art\\a48.png", "png");
    movie.store.set(key::icon128, L"C:/Movies/Icons/App128.PNG");
    movie.store.set(key::icon48, L"C:/Art/a48.png");
    movie.store.set(key::icon16, L"none");
    movie.written();
    movie.store.set(key::icon48, L"C:\\Art\\a48.png");
    EXPECT_EQ(updateApplicationIcons(movie.store), 0);
    win::xml::Document doc;
    auto icon = savedRoot(doc, L"C:\\Movies\\My Movie-app.xml").firstChild(L"icon");
    EXPECT_EQ(icon.firstChild(L"image128x128").text(), L"icons/app128.png");
    EXPECT_EQ(icon.firstChild(L"image48x48").text(), L"AppIconsForKITEPublish/a48.png");
    EXPECT_FALSE(icon.firstChild(L"image16x16"));
}

}  // namespace

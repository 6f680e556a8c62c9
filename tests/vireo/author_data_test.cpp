// What the author wrote stays theirs, in the real authoring-tool host with its dialogs played by script:
// a descriptor that cannot be parsed is never overwritten, the identity typed in the settings follows
// the document, names in any script reach the package, and a descriptor edited through every dialog
// comes back the same.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/text/text.h"
#include "platform/xmldom/xmldom.h"
#include "tests/vireo/lumen_session.h"

namespace {

using namespace vireo_tests;

std::string escaped(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        if (c == L'&')
            out += L"&amp;";
        else if (c == L'<')
            out += L"&lt;";
        else if (c == L'>')
            out += L"&gt;";
        else
            out += c;
    }
    return win::toUtf8(out);
}

// Every element without element children, by its path of names, with its text.
std::multimap<std::wstring, std::wstring> leaves(const win::xml::Node& node, const std::wstring& path = L"") {
    std::multimap<std::wstring, std::wstring> out;
    const std::wstring here = path + L"/" + node.name();
    const auto children = node.children();
    if (children.empty()) out.emplace(here, node.text());
    for (const auto& child : children) out.merge(leaves(child, here));
    return out;
}

std::multimap<std::wstring, std::wstring> leavesOf(const std::string& bytes, TestMachine& machine) {
    machine.writeFile(L"C:\\check.xml", bytes);
    win::xml::Document doc;
    EXPECT_TRUE(doc.load(L"C:\\check.xml")) << doc.error() << "\n" << bytes;
    return doc.root() ? leaves(doc.root()) : std::multimap<std::wstring, std::wstring>{};
}

TEST_F(LumenDialogs, ADescriptorThatCannotBeParsedIsNeverOverwritten) {
    const std::string broken = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<application xmlns=\"" +
                               kNamespace +
                               "\">\n  <id>com.example.keep</id>\n  <version>1.0</version>\n"
                               "  <filename>Demo</filename>\n  <name>Keep & this</name>\n"
                               "  <initialWindow>\n    <content>Demo.lmv</content>\n  </initialWindow>\n"
                               "</application>\n";
    machine.writeFile(kDescriptor, broken);
    lumen({kDoc, "data", "lmv.folder.path", "C:/Movies/"});
    lumen({kDoc, "data", "lumen.lmv.basename", "Demo"});

    const Played settings = play("settings", "type 5016 C:\\Movies\\Out.kite\nclick 1\n");
    EXPECT_EQ(settings.run.exitCode, 0) << settings.run.output;
    EXPECT_EQ(descriptor(), broken);
    EXPECT_TRUE(has(settings.record, "text=<Не удалось выполнить синтаксический анализ файла дескриптора"))
        << settings.record;
    // The dialog says what it does not save; what lies outside the descriptor is saved.
    EXPECT_TRUE(has(settings.record, "Файл дескриптора приложения не будет изменен")) << settings.record;
    EXPECT_TRUE(has(settings.record, "enable 2011 0")) << settings.record;
    EXPECT_EQ(data()["com.kite.vesper.destination"], "C:/Movies/Out.kite");

    lumen({kDoc, "data", "com.kite.vesper.signing", "prepare"});
    const Played package = play("package", "");
    EXPECT_EQ(package.run.exitCode, 0);
    EXPECT_TRUE(has(package.boxes, "Не удалось выполнить синтаксический анализ")) << package.boxes;
    EXPECT_EQ(descriptor(), broken);
}

TEST_F(LumenDialogs, TheIdentityTypedInTheSettingsFollowsTheDocument) {
    const Played typed = play("settings",
                              "type 2009 Demo File\ntype 2011 Демо & <Co>\ntype 2014 com.example.kept\n"
                              "type 2013 2.5\ntype 2016 Описание\ntype 4010 © Orvex\nclick 1\n");
    ASSERT_EQ(typed.run.exitCode, 0) << typed.record;
    auto stored = data();
    EXPECT_EQ(stored["com.kite.vesper.appid"], "com.example.kept");
    EXPECT_EQ(stored["com.kite.vesper.shortname"], "Демо & <Co>");

    std::filesystem::create_directories(machine.host(L"C:\\Other"));
    std::filesystem::copy_file(machine.host(L"C:\\Movies\\Demo.lud"), machine.host(L"C:\\Other\\Demo.lud"));
    const Played moved = play("settings", "click 1\n", "C:\\Other\\Demo.lud");
    ASSERT_EQ(moved.run.exitCode, 0) << moved.record;
    const std::string copy = machine.readFile(L"C:\\Other\\Demo-app.xml");
    for (const char* field :
         {"<id>com.example.kept</id>", "<filename>Demo File</filename>", "<name>Демо &amp; &lt;Co&gt;</name>",
          "<version>2.5</version>", "<description>Описание</description>", "<copyright>© Orvex</copyright>"})
        EXPECT_TRUE(has(copy, field)) << field << "\n" << copy;
}

// A name typed in the settings becomes the package's file name, or is refused for what is wrong with
// it; packaging that stops before the tool still reports success to the tool.
TEST_F(LumenDialogs, PackageNamesInAnyScript) {
    std::filesystem::create_directories(machine.host(L"C:\\Other"));
    machine.writeFile(L"C:\\Other\\значок.png", machine.readFile(L"C:\\certs\\icon.png"));
    const std::string fileType =
        "click 5113\nclick 5117\ntype 5155 Doc\ntype 5156 doc\ntype 5163 C:\\Other\\значок.png\nclick 1\n"
        "click 1\n";
    struct Row {
        std::string name;  // typed as the application's name
        std::string extra;
        std::string destination;
        std::wstring package;  // the file made, or empty
        std::string box;
    };
    const Row rows[] = {
        {"Café", "", "", L"C:\\Movies\\Café.kitei", "Создан файл KITEI."},
        {"Фильм 電影", fileType, "", L"C:\\Movies\\Фильм 電影.kitei", "Создан файл KITEI."},
        {"a<b>:\"c", "", "", L"", "недопустимый в именах файлов"},
        {std::string(300, 'n'), "", "", L"", "длиннее"},
        {"Demo", "", "C:/Missing/x.kite", L"", "Не удалось выполнить запись в каталог назначения."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name.substr(0, 20));
        const Played settings = play("settings", row.extra + "type 2011 " + row.name + "\nclick 1\n");
        ASSERT_EQ(settings.run.exitCode, 0) << settings.record;
        lumen({kDoc, "erase", "com.kite.vesper.destination"});
        if (!row.destination.empty()) lumen({kDoc, "data", "com.kite.vesper.destination", row.destination});
        lumen({kDoc, "data", "com.kite.vesper.signing", "prepare"});
        const Played package = play("package", "");
        EXPECT_EQ(package.run.exitCode, 0) << package.boxes;
        EXPECT_TRUE(has(package.boxes, row.box)) << package.boxes;
        if (!row.package.empty()) {
            EXPECT_TRUE(machine.exists(row.package));
        }
        EXPECT_FALSE(has(package.boxes, "Не удалось выполнить запись") && row.destination.empty())
            << package.boxes;
    }
    EXPECT_TRUE(has(descriptor(), "<image128x128>FileTypeIconsForKITEPublish/значок.png</image128x128>"))
        << descriptor();
    EXPECT_TRUE(machine.exists(L"C:\\Movies\\FileTypeIconsForKITEPublish\\значок.png"));
}

// Certificates the tool did not make are never offered, and a long path hides no later one.
TEST_F(LumenDialogs, CertificateHistoryHoldsOnlyMadeFiles) {
    const std::wstring longPath = L"C:\\certs\\" + std::wstring(150, L'l') + L".p12";
    machine.writeFile(longPath, "a");
    machine.writeFile(L"C:\\certs\\b.p12", "b");
    const auto java = machine.host(std::wstring(kHost) + L"\\JVM\\bin\\java.exe");
    const std::string create =
        "click 5078\nclick 5083\ntype 5092 Orvex\ntype 5094 QA\ntype 5093 Orvex\ntype 5096 secret\n"
        "type 5097 secret\ntype 5099 C:\\certs\\new.p12\n";
    struct Row {
        const char* name;
        std::function<void()> setup;
        std::string script;
        std::vector<std::string> boxes, notBoxes, recorded, notRecorded;
    };
    const Row rows[] = {
        {"a tool that cannot start made nothing",
         [&] { std::filesystem::rename(java, java.string() + ".off"); },
         create + "click 1\nclose\nclose\n",
         {"Не удалось создать самозаверенный цифровой сертификат: "},
         {"Самозаверенный сертификат создан."},
         {},
         {"insert 5110"}},
        {"a refused creation with no earlier certificate adds no empty entry",
         [&] { std::filesystem::rename(java.string() + ".off", java); },
         create + "type 5095 USA\nclick 1\nclose\nclose\n",
         {"Не удалось создать самозаверенный цифровой сертификат: error"},
         {},
         {},
         {"insert 5110"}},
        {"a path of 150 characters in the history hides no later one",
         [&] {
             setPref(L"CertPath", L"file1", longPath);
             setPref(L"CertPath", L"file2", L"C:\\certs\\b.p12");
         },
         "click 5078\nclose\nclose\n",
         {},
         {},
         {"<" + win::toUtf8(longPath) + ">", "<C:\\certs\\b.p12>"},
         {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        row.setup();
        const Played p = play("settings", row.script);
        EXPECT_EQ(p.run.exitCode, 0);
        for (const auto& text : row.boxes) EXPECT_TRUE(has(p.boxes, text)) << text << "\n" << p.boxes;
        for (const auto& text : row.notBoxes) EXPECT_FALSE(has(p.boxes, text)) << text << "\n" << p.boxes;
        for (const auto& text : row.recorded) EXPECT_TRUE(has(p.record, text)) << text << "\n" << p.record;
        for (const auto& text : row.notRecorded)
            EXPECT_FALSE(has(p.record, text)) << text << "\n" << p.record;
        EXPECT_EQ(data().count("com.kite.vesper.certpath"), 0u);
        EXPECT_FALSE(machine.exists(L"C:\\certs\\new.p12"));
    }
}

// Markup, Cyrillic, CJK and a name of 5000 characters through every dialog, saved twice: the file stays
// well-formed (a control character typed is left out) and indented once, keeps every field, and the
// second save changes no byte.
TEST_F(LumenDialogs, ADescriptorEditedThroughEveryDialogComesBackTheSame) {
    std::wstring name;
    while (name.size() < 5000) name += L"Имя <&> 名前 ";
    name.resize(4999);
    name += L"終";
    std::filesystem::create_directories(machine.host(L"C:\\Movies\\icons"));
    machine.writeFile(L"C:\\Movies\\icons\\значок.png", machine.readFile(L"C:\\certs\\icon.png"));
    const std::string original =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<application xmlns=\"" + kNamespace +
        "\">\n"
        "  <id>com.example.roundtrip</id>\n  <version>2.0</version>\n  <filename>Фильм 電影</filename>\n"
        "  <description>Кино &lt;b&gt;жирно&lt;/b&gt; &amp; \"кавычки\"\nвторая строка 映画</description>\n"
        "  <name>" +
        escaped(name) +
        "</name>\n  <copyright>© Орвекс</copyright>\n"
        "  <initialWindow>\n    <content>Demo.lmv</content>\n    <systemChrome>none</systemChrome>\n"
        "    <transparent>false</transparent>\n    <visible>true</visible>\n    <width>640</width>\n"
        "    <height>480</height>\n    <minSize>200 100</minSize>\n  </initialWindow>\n"
        "  <installFolder>Орвекс/電影</installFolder>\n  <programMenuFolder>Орвекс</programMenuFolder>\n"
        "  <icon>\n    <image128x128>icons/значок.png</image128x128>\n  </icon>\n"
        "  <customUpdateUI>false</customUpdateUI>\n  <allowBrowserInvocation>false</allowBrowserInvocation>\n"
        "  <fileTypes>\n    <fileType>\n      <name>Doc.Kino</name>\n      <extension>kino</extension>\n"
        "      <description>Документ</description>\n      <contentType>application/x-kino</contentType>\n"
        "      <icon>\n        <image16x16>icons/значок.png</image16x16>\n      </icon>\n    </fileType>\n"
        "    <fileType>\n      <name>Картинка</name>\n      <extension>kart</extension>\n      "
        "<description>" +
        escaped(std::wstring(300, L'画')) +
        "</description>\n    </fileType>\n  </fileTypes>\n</application>\n";
    machine.writeFile(kDescriptor, original);

    const std::string edits =
        "type 4010 © Орвекс & 株式会社 <2026>\x01\nclick 5113\ntype 5139 Орвекс & Co 電影\nselect 5121 0\n"
        "click 5119\ntype 5157 Документ <кино> & 文書\nclick 1\nclick 1\nclick 4012\nclick 1\nclick 5078\n"
        "click 5080\nclick 1\nclick 1\n";
    const std::string unchanged =
        "click 5113\nselect 5121 0\nclick 5119\nclick 1\nclick 1\nclick 4012\nclick 1\nclick 5078\nclick 1\n"
        "click 1\n";
    const Played first = play("settings", edits);
    ASSERT_EQ(first.run.exitCode, 0) << first.record;
    EXPECT_FALSE(has(first.record, "box")) << first.record;
    const std::string once = descriptor();
    const Played second = play("settings", unchanged);
    ASSERT_EQ(second.run.exitCode, 0) << second.record;
    EXPECT_EQ(descriptor(), once);
    EXPECT_FALSE(has(once, "\n\n") || has(once, "\n \n") || has(once, "  \n")) << once;

    auto expected = leavesOf(original, machine);
    auto set = [&](const std::wstring& path, const std::wstring& text) {
        auto it = expected.find(path);
        ASSERT_NE(it, expected.end()) << win::toUtf8(path);
        it->second = text;
    };
    set(L"/application/copyright", L"© Орвекс & 株式会社 <2026>");
    set(L"/application/programMenuFolder", L"Орвекс & Co 電影");
    set(L"/application/fileTypes/fileType/description", L"Документ <кино> & 文書");
    const auto saved = leavesOf(once, machine);
    for (const auto& [path, text] : expected) {
        auto range = saved.equal_range(path);
        bool found = false;
        for (auto it = range.first; it != range.second; ++it) found = found || it->second == text;
        EXPECT_TRUE(found) << win::toUtf8(path) << " = " << win::toUtf8(text.substr(0, 80));
    }
}

}  // namespace

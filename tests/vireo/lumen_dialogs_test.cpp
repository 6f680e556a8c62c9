// The extension's dialogs in the real authoring-tool host, driven by dialog scripts: one document taken
// through the settings, advanced, file-type, icon, signature and certificate dialogs, then the
// introduction.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "tests/vireo/lumen_session.h"

namespace {

using namespace vireo_tests;
using testing_support::readHostFile;
using testing_support::writeHostFile;

TEST_F(LumenDialogs, OneDocumentThroughEveryDialog) {
    const std::string longId(213, 'a');
    struct Step {
        const char* name;
        const char* command;
        std::string script;
        std::map<std::string, std::size_t> recorded;  // text -> how often the dialogs' record holds it
        std::function<void(LumenDialogs&)> check;
    };
    const std::string badId =
        "text=<Недопустимый идентификатор приложения.\\n\\nИдентификатор приложения должен";
    const Step steps[] = {
        {"an id of 213 characters or with \"_\" is refused",
         "settings",
         "type 2014 " + longId + "\nclick 1\ntype 2014 my_app\nclick 1\nclose\n",
         {{badId, 2}, {"end 2", 1}},
         [](LumenDialogs& t) {
             EXPECT_NE(t.descriptor().find("<id>com.orvex.example.Demo</id>"), std::string::npos)
                 << t.descriptor();
         }},
        {"a valid id, window style and destination are applied",
         "settings",
         "type 2014 com.example.demo\nselect 4011 2\ntype 5016 C:\\Movies\\Pkg\nclick 1\n",
         {{"end 1", 1}},
         [](LumenDialogs& t) {
             const std::string d = t.descriptor();
             EXPECT_NE(d.find("<id>com.example.demo</id>"), std::string::npos) << d;
             EXPECT_NE(d.find("<systemChrome>none</systemChrome>"), std::string::npos) << d;
             EXPECT_NE(d.find("<transparent>true</transparent>"), std::string::npos) << d;
             auto data = t.data();
             EXPECT_EQ(data["com.kite.vesper.wintype"], "transparent");
             EXPECT_EQ(data["com.kite.vesper.destination"], "C:/Movies/Pkg");
         }},
        {"a minimum width without height is refused with 8070",
         "settings",
         "click 5113\ntype 5129 200\nclick 1\ntype 5130 100\nclick 1\nclick 1\n",
         {{"text=<Укажите минимальную ширину и высоту.>", 1}},
         [](LumenDialogs& t) {
             EXPECT_NE(t.descriptor().find("<minSize>200 100</minSize>"), std::string::npos);
         }},
        {"both minimum fields empty remove minSize",
         "settings",
         "click 5113\nawait text 5130 100\ntype 5129\ntype 5130\nclick 1\nclick 1\n",
         {{"box", 0}},
         [](LumenDialogs& t) {
             EXPECT_EQ(t.descriptor().find("minSize"), std::string::npos) << t.descriptor();
         }},
        {"file-type names and extensions are checked by their rules",
         "settings",
         "click 5113\nclick 5117\nclick 1\ntype 5155 1doc\ntype 5156 abc\nclick 1\ntype 5155 .doc\nclick 1\n"
         "type 5155 Doc\ntype 5156 a-b\nclick 1\ntype 5156 abc\nfile C:\\certs\\icon.png\nanswer ok\nclick "
         "5168\n"
         "click 1\nawait text 5121 Doc(abc)\nclick 1\nclick 1\n",
         {{"text=<Укажите имя и расширение типа файла.", 1},
          {"text=<Недопустимое имя типа файла.\\n\\n", 2},
          {"text=<Недопустимое расширение типа файла.\\n\\n", 1},
          {"text=<Значок типа файла необходимо скопировать", 1}},
         [](LumenDialogs& t) {
             EXPECT_NE(t.descriptor().find("<name>Doc</name>"), std::string::npos) << t.descriptor();
             EXPECT_NE(t.descriptor().find("<extension>abc</extension>"), std::string::npos);
             // An icon from outside the content root is copied under it first.
             EXPECT_NE(
                 t.descriptor().find("<image128x128>FileTypeIconsForKITEPublish/icon.png</image128x128>"),
                 std::string::npos);
             EXPECT_TRUE(t.machine.exists(L"C:\\Movies\\FileTypeIconsForKITEPublish\\icon.png"));
         }},
        {"lines 0 and 1 of the included files cannot be removed",
         "settings",
         "file C:\\Movies\\extra.txt\nclick 5018\nselect 5021 0\nclick 5019\nselect 5021 1\nclick 5019\n"
         "file C:\\Movies\\more.txt\nclick 5018\nselect 5021 2\nclick 5019\nclick 1\n",
         {{"remove 5021 0", 0}, {"remove 5021 1", 0}, {"remove 5021 2", 1}},
         [](LumenDialogs& t) {
             auto data = t.data();
             EXPECT_EQ(data["com.kite.vesper.included.count"], "1");
             EXPECT_EQ(data["com.kite.vesper.included.item0"], "C:/Movies/more.txt");
         }},
        {"an icon left empty is stored as none",
         "settings",
         "click 4012\nclick 5062\nclick 1\nclick 1\n",
         {{"image 5045 ", 1}},
         [](LumenDialogs& t) {
             auto data = t.data();
             EXPECT_EQ(data["com.kite.vesper.icon128path"], "none");
             EXPECT_EQ(data["com.kite.vesper.icon48path"], "C:/Orvex/Lumen/KIK/samples/icons/KITEApp_48.png");
         }},
        {"a self-signed certificate without its unit is refused with 8009, then made",
         "settings",
         "click 5078\nclick 5083\ntype 5092 Orvex Test\ntype 5093 Orvex\ntype 5096 secret\ntype 5097 secret\n"
         "type 5099 C:\\certs\\my.p12\nclick 1\ntype 5094 QA\nclick 1\nawait text 5110 my.p12\n"
         "type 5084 secret\nclick 1\nawait text 5076 Подписание\nclick 1\n",
         {{"text=<Все поля должны быть заполнены.>", 1}},
         [](LumenDialogs& t) {
             EXPECT_TRUE(t.machine.exists(L"C:\\certs\\my.p12"));
             EXPECT_NE(readHostFile(t.dir.path() / "boxes").find("text=<Самозаверенный сертификат создан.>"),
                       std::string::npos);
             auto data = t.data();
             EXPECT_EQ(data["com.kite.vesper.certpath"], "C:/certs/my.p12");
             EXPECT_EQ(data["com.kite.vesper.signing"], "sign");
             EXPECT_EQ(t.pref(L"Last Selected Cert"), L"C:/certs/my.p12");
         }},
        {"packaging asks for the signature (no password kept) and prepares a KITEI",
         "package",
         "await text 5110 my.p12\nclick 5080\nclick 1\n",
         {{"end 1", 1}},
         [](LumenDialogs& t) {
             EXPECT_NE(readHostFile(t.dir.path() / "boxes").find("text=<Создан файл KITEI.>"),
                       std::string::npos)
                 << readHostFile(t.dir.path() / "boxes");
             EXPECT_TRUE(t.machine.exists(L"C:\\Movies\\Pkg.kitei"));
         }},
        {"the introduction opens its link",
         "info",
         "shot {dir}/intro.png\nclick 5040\nclick 1\n",
         {{"open <https://help.orvex.com/lumen/tx4/ru/kite/index.html> 42", 1}, {"color 5040 FF800080", 1}},
         [](LumenDialogs& t) {
             EXPECT_EQ(t.pref(L"dontshowme"), L"0");
             // Drawn by Qt: only a drawn dialog saves its picture.
             const auto shot = t.dir.path() / "intro.png";
             EXPECT_EQ(std::filesystem::exists(shot) ? readHostFile(shot).substr(1, 3) : "", "PNG");
         }},
        {"\"Больше не показывать\" ticked",
         "info",
         "click 5035\nclick 1\n",
         {{"end 1", 1}},
         [](LumenDialogs& t) { EXPECT_EQ(t.pref(L"dontshowme"), L"1"); }},
        {"hides the next introduction", "info", "close\n", {{"end", 0}}, [](LumenDialogs&) {}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        std::string script = step.script;
        if (const auto at = script.find("{dir}"); at != std::string::npos)
            script.replace(at, 5, dir.path().string());
        writeHostFile(dir.path() / "script", script);
        writeHostFile(dir.path() / "record", "");
        writeHostFile(dir.path() / "boxes", "");
        const auto run = lumen({kDoc, step.command});
        EXPECT_EQ(run.exitCode, 0) << run.output;
        const std::string record = readHostFile(dir.path() / "record");
        for (const auto& [text, times] : step.recorded)
            EXPECT_EQ(count(record, text), times) << text << "\n" << record;
        step.check(*this);
    }
}

}  // namespace

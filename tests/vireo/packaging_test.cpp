// Packaging and signing against a host whose dialogs, descriptor and tool runs are scripted; the last
// cases run the real developer tool through CreateWinProcess.
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/fs/file.h"
#include "platform/process/process.h"
#include "platform/text/text.h"
#include "platform/ui/messagebox.h"
#include "tests/support/testmachine.h"
#include "vireo/create_win_process.h"
#include "vireo/packaging.h"

namespace {

using testing_support::TestMachine;
using namespace vireo;

struct Shown {
    std::wstring text;
    unsigned flags;
};

class ScriptedHost : public PackagingHost {
  public:
    std::map<std::wstring, std::wstring> settings;
    std::vector<Shown> shown;
    std::vector<std::wstring> commands;
    std::deque<std::pair<int, std::string>> results;  // exit code and output of each tool run
    std::deque<int> retryAnswers;
    std::vector<std::wstring> icons;
    int signatureDialogs = 0;
    int messageAnswer = win::idbutton::ok;
    bool realTool = false;  // run the commands with CreateWinProcess

    std::wstring setting(const std::wstring& key) override { return settings[key]; }
    void setSetting(const std::wstring& key, const std::wstring& value) override { settings[key] = value; }
    void eraseSetting(const std::wstring& key) override { settings.erase(key); }
    int messageBox(const std::wstring& text, unsigned flags) override {
        shown.push_back({text, flags});
        return messageAnswer;
    }
    bool digitalSignatureDialog() override {
        ++signatureDialogs;
        return false;
    }
    int timestampRetryDialog() override {
        const int answer = retryAnswers.empty() ? retry::cancel : retryAnswers.front();
        if (!retryAnswers.empty()) retryAnswers.pop_front();
        return answer;
    }
    int defaultDescriptorCheck() override { return 0; }
    int customDescriptorCheck() override { return 0; }
    bool descriptorName(std::wstring& name) override {
        name = L"My App";
        return true;
    }
    void updateDescriptorIcons() override {}
    std::vector<std::wstring> descriptorIcons() override { return icons; }
    int runCaptured(const std::wstring& commandLine, std::string& output, std::size_t limit) override {
        commands.push_back(commandLine);
        if (realTool) {
            std::vector<char> buffer(limit, '\0');
            const int code = CreateWinProcess(commandLine.c_str(), true, buffer.data(), buffer.size());
            output = buffer.data();
            return code;
        }
        if (results.empty()) return 0;
        auto [code, out] = results.front();
        results.pop_front();
        output = out;
        return code;
    }
    std::wstring tsa = L"http://tsa.example/rfc3161";
    std::wstring timestampAuthority() override { return tsa; }
};

class Packaging : public ::testing::Test {
  protected:
    void SetUp() override {
        machine.writeFile(L"C:\\Movies\\My Movie.lmv", "movie");
        host.settings = {{L"lmv.folder.path", L"C:/Movies/"},
                         {L"lumen.lmv.basename", L"My Movie"},
                         {L"lumen.tx4.path", L"C:/Lumen/"},
                         {L"com.kite.vesper.signing", L"sign"},
                         {L"com.kite.vesper.certpath", L"C:/certs/me.p12"},
                         {L"com.kite.vesper.certpwd", L"pw"},
                         {L"com.kite.vesper.timestamp", L"false"}};
    }
    std::vector<std::wstring> arguments(std::size_t run = 0) {
        return win::splitCommandLine(host.commands.at(run));
    }

    TestMachine machine;
    ScriptedHost host;
};

bool has(const std::wstring& text, const std::wstring& what) {
    return text.find(what) != std::wstring::npos;
}

TEST_F(Packaging, PrepareCommandAndItsSuccessMessage) {
    host.settings[L"com.kite.vesper.signing"] = L"prepare";
    EXPECT_EQ(packageApplication(host), 1);
    ASSERT_EQ(host.commands.size(), 1u);
    EXPECT_EQ(host.commands[0],
              L"\"C:/Lumen/JVM/bin/java.exe\" -jar \"C:/Lumen/KIK/lib/KDT.jar\"  -prepare \"C:/Movies/My "
              L"App.kitei\" "
              L"\"C:/Movies/My Movie-app.xml\" -C \"C:/Movies/\" \"My Movie.lmv\" ");
    ASSERT_EQ(host.shown.size(), 1u);
    EXPECT_EQ(host.shown[0].text, L"Создан файл KITEI.");
    EXPECT_EQ(host.shown[0].flags, win::mb::iconInformation);
}

TEST_F(Packaging, TimestampUnreachableRunsAgainWithoutItAndKeepsTheChoice) {
    host.settings[L"com.kite.vesper.timestamp"] = L"true";
    host.results = {{10, ""}, {10, ""}, {0, ""}};
    host.retryAnswers = {retry::again, retry::withoutTimestamp};
    EXPECT_EQ(packageApplication(host), 1);
    ASSERT_EQ(host.commands.size(), 3u);
    EXPECT_TRUE(has(host.commands[0], L" -tsa http://tsa.example/rfc3161 \""));
    EXPECT_EQ(host.commands[1], host.commands[0]);
    std::wstring without = host.commands[0];
    without.replace(without.find(L"-tsa http://tsa.example/rfc3161"), 31, L"-tsa none");
    EXPECT_EQ(host.commands[2], without);
    EXPECT_EQ(host.settings[L"com.kite.vesper.timestamp"], L"true");
    EXPECT_EQ(host.shown.back().text, L"Создан файл KITE.");
}

TEST_F(Packaging, Destinations) {
    machine.writeFile(L"C:\\out\\keep.txt", "");
    const struct {
        const wchar_t* stored;
        const wchar_t* normalised;  // stored back
        const wchar_t* packaged;    // on the command line; empty: no run
    } rows[] = {
        {L"C:\\out\\app.kitei", L"C:\\out\\app.kite", L"C:\\out\\app.kite"},
        // Without a dot the name is kept and the extension added (our choice); a dot in a folder is no
        // extension.
        {L"C:/out/app", L"C:/out/app.kite", L"C:/out/app.kite"},
        {L"C:/out.d/app", L"C:/out.d/app.kite", L""},
        {L"app.kitei", L"app.kite", L"C:/Movies/app.kite"},
        {L"C:\\missing\\app.kite", L"C:\\missing\\app.kite", L""},
    };
    for (const auto& row : rows) {
        host.commands.clear();
        host.shown.clear();
        host.settings[L"com.kite.vesper.destination"] = row.stored;
        host.settings[L"com.kite.vesper.certpwd"] = L"pw";
        const int result = packageApplication(host);
        EXPECT_EQ(host.settings[L"com.kite.vesper.destination"], row.normalised) << row.stored;
        if (*row.packaged) {
            EXPECT_EQ(result, 1);
            ASSERT_EQ(host.commands.size(), 1u) << row.stored;
            EXPECT_EQ(arguments()[12], row.packaged);
        } else {
            EXPECT_EQ(result, 0);
            EXPECT_TRUE(host.commands.empty()) << row.stored;
            ASSERT_EQ(host.shown.size(), 1u);
            EXPECT_EQ(
                host.shown[0].text,
                L"Ошибка при создании файла KITE.\n\nНе удалось выполнить запись в каталог назначения.");
        }
    }
}

TEST_F(Packaging, IconsOnceIncludedItemsAndTwelveMissing) {
    machine.writeFile(L"C:\\Movies\\sub\\data.txt", "d");
    machine.writeFile(L"C:\\Assets\\logo.png", "p");
    host.icons = {L"icons/a%20b.png", L"icons/16.png", L"icons/a%20b.png"};
    host.settings[L"com.kite.vesper.included.count"] = L"15";
    host.settings[L"com.kite.vesper.included.item0"] = L"C:/Movies/sub/data.txt";
    host.settings[L"com.kite.vesper.included.item1"] = L"C:\\Assets\\logo.png";
    for (int i = 2; i < 14; ++i)
        host.settings[L"com.kite.vesper.included.item" + std::to_wstring(i)] =
            L"C:/gone" + std::to_wstring(i);
    EXPECT_EQ(packageApplication(host), 1);
    const std::wstring& command = host.commands.at(0);
    EXPECT_TRUE(has(command, L"\"My Movie.lmv\" \"icons/a b.png\" \"icons/16.png\"  -C"));
    EXPECT_EQ(command.find(L"a b.png"), command.rfind(L"a b.png"));
    EXPECT_TRUE(has(command, L" -C \"C:/Movies/\" \"sub/data.txt\"  -C \"C:/Assets/\" \"logo.png\" "));
    std::wstring expected = L"Следующие файлы или папки не существуют.\n";
    for (int i = 2; i < 13; ++i) expected += L"C:/gone" + std::to_wstring(i) + L"\n";
    expected += L"\n...\nОтсутствующие файлы не будут включены в файл KITE. Продолжить?";
    EXPECT_EQ(host.shown.at(0).text, expected);
    EXPECT_EQ(host.shown.at(0).flags, win::mb::iconWarning | win::mb::okCancel);
    // Cancel stops before the tool.
    host.commands.clear();
    host.messageAnswer = win::idbutton::cancel;
    host.settings[L"com.kite.vesper.certpwd"] = L"pw";
    EXPECT_EQ(packageApplication(host), 0);
    EXPECT_TRUE(host.commands.empty());
}

TEST_F(Packaging, ToolResultsBecomeMessages) {
    const struct {
        int code;
        std::string output;
        std::wstring shown;  // after "Ошибка при создании файла KITE.\n\n"
    } rows[] = {
        {1, "C:/m/a-app.xml: error 105: application.id contains an invalid value",
         L"Атрибут или элемент содержит недопустимое значение в файле дескриптора "
         L"приложения.\n(application.id)"},
        {1, "error 100: at the first character", L"error 100: at the first character"},
        {4, "error: could not load keystore file (password may be incorrect)",
         L"Не удалось загрузить файл хранилища ключей (возможно, неверный пароль)"},
        {2, "no such file C:/m/x.png\r\nusage: kdt ...",
         L"Файл отсутствует или не может быть открыт.\n(C:/m/x.png)"},
        {2, "usage: kdt ...", L"Ошибка использования (неверные аргументы)."},
        {6, "anything", L"Не удалось выполнить запись в каталог назначения."},
        {0, "a warning", L"a warning"},
    };
    for (const auto& row : rows) {
        host.shown.clear();
        host.results = {{row.code, row.output}};
        host.settings[L"com.kite.vesper.certpwd"] = L"pw";
        EXPECT_EQ(packageApplication(host), 1);
        ASSERT_EQ(host.shown.size(), 1u) << row.output;
        EXPECT_EQ(host.shown[0].text, L"Ошибка при создании файла KITE.\n\n" + row.shown);
        EXPECT_EQ(host.shown[0].flags, win::mb::iconWarning);
    }
}

TEST_F(Packaging, PasswordErasedUnlessRememberedAndQuotesSurvive) {
    host.settings[L"com.kite.vesper.certpwd"] = L"a\"b\\";
    host.settings[L"com.kite.vesper.certpath"] = L"C:/my \"certs\"/me.p12";
    EXPECT_EQ(packageApplication(host), 1);
    EXPECT_EQ(arguments()[7], L"C:/my \"certs\"/me.p12");
    EXPECT_EQ(arguments()[9], L"a\"b\\");
    EXPECT_EQ(host.settings.count(L"com.kite.vesper.certpwd"), 0u);
    // Without a password the signature dialog comes first; Cancel there stops.
    EXPECT_EQ(packageApplication(host), 0);
    EXPECT_EQ(host.signatureDialogs, 1);
    host.settings[L"com.kite.vesper.certpwd"] = L"pw";
    host.settings[L"com.kite.vesper.rempwd"] = L"true";
    EXPECT_EQ(packageApplication(host), 1);
    EXPECT_EQ(host.settings[L"com.kite.vesper.certpwd"], L"pw");
}

// Silence from the tool is success only when it ran and the certificate file is there.
TEST_F(Packaging, SelfSignedCertificateNeedsARunAndItsFile) {
    machine.writeFile(L"C:\\certs\\made.p12", "p12");
    const struct {
        int code;
        std::string output;
        const wchar_t* file;
        int result;
        std::wstring shown;
    } rows[] = {
        {0, "", L"C:\\certs\\made.p12", 1, L"Самозаверенный сертификат создан."},
        {-1, "", L"C:\\certs\\made.p12", 0,
         L"Не удалось создать самозаверенный цифровой сертификат: не удалось запустить средство "
         L"разработчика."},
        {0, "", L"C:\\certs\\none.p12", 0,
         L"Не удалось создать самозаверенный цифровой сертификат: файл сертификата не создан: "
         L"C:\\certs\\none.p12"},
        {1, "error: no", L"C:\\certs\\made.p12", 0,
         L"Не удалось создать самозаверенный цифровой сертификат: error: no"},
    };
    for (const auto& row : rows) {
        host.shown.clear();
        host.results = {{row.code, row.output}};
        EXPECT_EQ(createSelfSignedCertificate(host, L" -cn \"a\"", row.file), row.result) << row.code;
        ASSERT_EQ(host.shown.size(), 1u);
        EXPECT_EQ(host.shown[0].text, row.shown);
    }
}

TEST(PackagingOutput, CutAtACharacterBoundary) {
    // 2047 bytes fit; the last character would straddle the end.
    const std::string output = std::string(2045, 'a') + "\xD0\xAF\xD0\xAF";
    EXPECT_EQ(packaging::outputText(output, 2048), std::wstring(2045, L'a') + L"\u042F");
    EXPECT_EQ(packaging::outputText(std::string(2046, 'a') + "\xE2\x82\xAC", 2048), std::wstring(2046, L'a'));
    EXPECT_EQ(packaging::outputText("ok", 2048), L"ok");
}

// The real developer tool: a certificate made by createSelfSignedCertificate signs a package; a wrong
// password is reported with 8046.
TEST_F(Packaging, WithTheRealTool) {
    const auto java = machine.host(L"C:\\Lumen\\JVM\\bin\\java.exe");
    std::filesystem::create_directories(java.parent_path());
    std::filesystem::copy_file(testing_support::binDir() / "kdt", java);
    std::filesystem::create_directories(machine.host(L"C:\\certs"));
    machine.writeFile(
        L"C:\\Movies\\My Movie-app.xml",
        "<?xml version=\"1.0\"?><application xmlns=\"http://ns.orvex.com/kite/application/1.0\">"
        "<id>com.orvex.example.My-Movie</id><version>1.0</version><filename>My Movie</filename>"
        "<initialWindow><content>My%20Movie.lmv</content></initialWindow></application>");
    host.realTool = true;
    EXPECT_EQ(createSelfSignedCertificate(host,
                                          L" -cn \"Dana\" -ou \"Apps\" -o \"Orvex\" -c \"US\" 1024-RSA "
                                          L"\"C:/certs/me.p12\" \"pw\"",
                                          L"C:/certs/me.p12"),
              1);
    ASSERT_EQ(host.shown.at(0).text, L"Самозаверенный сертификат создан.");
    host.shown.clear();
    EXPECT_EQ(packageApplication(host), 1);
    EXPECT_EQ(host.shown.at(0).text, L"Создан файл KITE.");
    EXPECT_TRUE(machine.exists(L"C:\\Movies\\My App.kite"));
    host.shown.clear();
    host.settings[L"com.kite.vesper.certpwd"] = L"wrong";
    EXPECT_EQ(packageApplication(host), 1);
    EXPECT_EQ(host.shown.at(0).text,
              L"Ошибка при создании файла KITE.\n\nНе удалось загрузить файл хранилища ключей (возможно, "
              L"неверный пароль)");
    host.shown.clear();
    EXPECT_EQ(
        createSelfSignedCertificate(
            host, L" -cn \"Dana\" -ou \"\" -o \"O\" -c \"USA\" 1024-RSA \"C:/c.p12\" \"pw\"", L"C:/c.p12"),
        0);
    EXPECT_EQ(host.shown.at(0).text.rfind(L"Не удалось создать самозаверенный цифровой сертификат: error", 0),
              0u);
}

}  // namespace

// The tool's callback, message by message, against streams the test owns.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "outside/quadrel/quadrel_api.h"
#include "patchtool/patch_callback.h"
#include "tests/support/testmachine.h"

namespace {

std::string g_console;

std::string contents(std::FILE* f) {
    std::fflush(f);
    std::string out;
    std::rewind(f);
    for (int c; (c = std::fgetc(f)) != EOF;) out.push_back(static_cast<char>(c));
    return out;
}

struct Streams {
    explicit Streams(const std::string& input, bool outIsConsole = false) {
        std::fputs(input.c_str(), in);
        std::rewind(in);
        patchtool::ToolStreams s{in, out, err, outIsConsole, [](const std::string& t) { g_console += t; }, nullptr};
        patchtool::setStreams(s);
        patchtool::clearUserStop();
        g_console.clear();
    }
    ~Streams() {
        std::fclose(in);
        std::fclose(out);
        std::fclose(err);
    }
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
};

std::string answer(void* a) { return a == nullptr ? "<null>" : static_cast<const char*>(a); }

TEST(PatchCallback, OutputMessages) {
    struct Row {
        int message;
        const char* text;
        bool outIsConsole;
        const char* out;
        const char* console;
    } rows[] = {
        {1, "50% %s%n patched\n", false, "50% %s%n patched\n", "50% %s%n patched\n"},
        {4, "done\n", true, "done\n", ""},
        {9, "info\n", false, "info\n", ""},
        {6, "ignored", false, "", ""},
        {99, "ignored", false, "", ""},
    };
    for (const Row& r : rows) {
        Streams s("", r.outIsConsole);
        EXPECT_EQ(answer(patchtool::patchCallback(r.message, const_cast<char*>(r.text))), "") << r.message;
        EXPECT_EQ(contents(s.out), r.out) << r.message;
        EXPECT_EQ(g_console, r.console) << r.message;
    }
    Streams s("");
    patchtool::patchCallback(26, nullptr);
    EXPECT_EQ(contents(s.out),
              "\nPatching complete.  It is necessary however for your computer to be\n"
              "  rebooted before all changes will take effect.\n");
}

TEST(PatchCallback, RenameRecordLetters) {
    struct Row {
        std::uint32_t f1, f2, f3;
        bool nullNew;
        const char* line;
    } rows[] = {
        {0, 1, 1, false, "C:\\a.tmp -> C:\\a.dll (SrB)\n"},
        {1, 0, 0, false, "C:\\a.tmp -> C:\\a.dll (sRb)\n"},
        {1, 1, 0, true, "C:\\a.tmp -> NULL (SRb)\n"},
    };
    for (const Row& r : rows) {
        Streams s("");
        quadrel::RenameRecord record{u"C:\\a.tmp", r.nullNew ? nullptr : u"C:\\a.dll", r.f1, r.f2, r.f3};
        patchtool::patchCallback(27, &record);
        EXPECT_EQ(contents(s.out), r.line);
    }
}

TEST(PatchCallback, PromptsAndAnswers) {
    testing_support::TestMachine machine;
    machine.writeFile(L"C:\\D\\x", "");
    const char* pair[] = {"a.dll", "C:\\P"};
    struct Row {
        int message;
        void* data;
        const char* input;
        const char* prompt;
        const char* answer;
        bool stops;
    } rows[] = {
        {13, nullptr, "C:\\D\nrest\n", "Press Enter to Quit ===> ", "C:\\D\\patch", false},
        {13, nullptr, "C:\\D\\\n", "Press Enter to Quit ===> ", "C:\\D\\patch", false},
        {13, nullptr, "C:\\elsewhere\\x.QDR\n", "Press Enter to Quit ===> ", "C:\\elsewhere\\x.QDR", false},
        {13, nullptr, "\n", "Could not find Patch File\n", "<null>", true},
        {13, nullptr, "", "Could not find Patch File\n", "<null>", true},
        {15, nullptr, "secret\n", "Enter Password: ", "secret", false},
        {15, nullptr, "\n", "Enter Password: ", "<null>", false},
        {19, pair, "Y\n", "Location for a.dll is C:\\P\nConfirm [Y/N]? ", "Y", false},
        {20, const_cast<char*>("a.dll"), "\n", "Enter directory for a.dll\n    (press Enter to use update directory):", "",
         false},
        {17, const_cast<char*>("Disk 2"), "", "\n      <<< Disk 2: - Press Any Key When Ready >>>\n\n", "", false},
    };
    for (const Row& r : rows) {
        Streams s(r.input, false);
        EXPECT_EQ(answer(patchtool::patchCallback(r.message, r.data)), r.answer) << r.message << " " << r.input;
        const std::string err = contents(s.err), out = contents(s.out);
        EXPECT_NE(err.find(r.prompt), std::string::npos) << err;
        EXPECT_NE(out.find(r.prompt), std::string::npos) << "prompts also go to a redirected output: " << out;
        EXPECT_EQ(patchtool::userStopped(), r.stops) << r.message << " " << r.input;
        EXPECT_EQ(out.find("\nPATCH Terminated by User\n") != std::string::npos, r.stops) << out;
    }
}

TEST(PatchCallback, StandardInputAsDifferenceData) {
    Streams s("0123456789");
    std::uint32_t length = 0;
    patchtool::patchCallback(23, &length);
    EXPECT_EQ(length, 10u);
    char buffer[4] = {};
    quadrel::StdinRead read{6, 3, buffer};
    patchtool::patchCallback(24, &read);
    EXPECT_STREQ(buffer, "678");
}

TEST(PatchCallback, ControlEventsStopAtTheNextCallback) {
    for (unsigned long event : {0ul, 1ul, 2ul, 5ul, 6ul}) {
        Streams s("", true);
        EXPECT_TRUE(patchtool::onConsoleEvent(event));
        EXPECT_EQ(patchtool::patchCallback(2, const_cast<char*>("10%\n")), nullptr);
        EXPECT_EQ(contents(s.out), "10%\n\nPATCH Terminated by User\n");
        EXPECT_EQ(contents(s.err), "");  // the console shows standard output already
    }
    patchtool::clearUserStop();
    EXPECT_FALSE(patchtool::onConsoleEvent(3));
    EXPECT_FALSE(patchtool::userStopped());
}

}  // namespace

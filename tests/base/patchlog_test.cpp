// The patch log's bytes on disk, its level filter and counter, and records from several threads.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <regex>
#include <set>
#include <thread>

#include "mendwell/base/patchlog.h"
#include "platform/fs/file.h"
#include "platform/text/text.h"
#include "tests/base/base_fixtures.h"
#include "tests/support/testmachine.h"

namespace {

using mw::PatchLog;
using testing_support::TestMachine;

std::string escaped(const std::string& literal) {
    static const std::regex special(R"re([.^$|()\[\]{}*+?\\])re");
    return std::regex_replace(literal, special, R"re(\$&)re");
}

constexpr const wchar_t* kLog = L"C:\\Logs\\Product 2.0.log";

class PatchLogTest : public ::testing::Test {
  protected:
    PatchLogTest() { std::filesystem::create_directories(machine.host(L"C:\\Logs")); }
    std::string bytes() const { return machine.readFile(kLog); }
    // The file decoded after its byte-order mark, as UTF-8 for regular expressions.
    std::string text() const {
        const std::string b = bytes();
        return win::toUtf8(win::fromUtf16le(std::string_view(b).substr(2)));
    }
    TestMachine machine;
};

TEST_F(PatchLogTest, TextLineHasTheExactColumns) {
    PatchLog log;
    ASSERT_TRUE(log.open(kLog, false, mw::logFormatText));
    log.setLevel(2);
    EXPECT_TRUE(log.write(mw::logTypeInfo, L"", L"patching starts."));
    log.close();

    const std::string b = bytes();
    ASSERT_GE(b.size(), 2u);
    EXPECT_EQ(b.substr(0, 2), "\xFF\xFE");
    // Every character is two bytes, little-endian: ASCII text has zero high bytes.
    ASSERT_EQ(b.size() % 2, 0u);
    for (std::size_t i = 3; i < b.size(); i += 2) ASSERT_EQ(b[i], '\0') << "at byte " << i;
    const std::regex line(R"re(\d\d/\d\d/\d\d  \d\d:\d\d:\d\d   INFO {14}patching starts\.\r\n)re");
    EXPECT_TRUE(std::regex_match(text(), line)) << text();
}

TEST_F(PatchLogTest, DateAndTimeAreTheLocalClock) {
    PatchLog log;
    ASSERT_TRUE(log.open(kLog, false, mw::logFormatText));
    log.setLevel(2);
    const std::time_t before = std::time(nullptr);
    log.write(mw::logTypeError, L"", L"x");
    const std::time_t after = std::time(nullptr);
    log.close();
    char expected[32];
    std::tm tm{};
    localtime_r(&before, &tm);
    std::strftime(expected, sizeof expected, "%m/%d/%y  %H:%M:%S", &tm);
    if (before == after) {
        EXPECT_EQ(text().substr(0, 18), expected);
    }
    EXPECT_EQ(text().substr(18), "   ERROR" + std::string(13, ' ') + "x\r\n");
}

TEST_F(PatchLogTest, SecondOpenAppendsWithoutASecondByteOrderMark) {
    {
        PatchLog log;
        ASSERT_TRUE(log.open(kLog, false, mw::logFormatText));
        log.setLevel(2);
        log.write(mw::logTypeInfo, L"", L"first run");
        log.close();
    }
    PatchLog log;
    ASSERT_TRUE(log.open(kLog, false, mw::logFormatText));
    log.setLevel(2);
    EXPECT_EQ(log.counter(), 0u);
    log.write(mw::logTypeInfo, L"", L"second run");
    log.close();

    const std::string b = bytes();
    EXPECT_EQ(b.find("\xFF\xFE", 2), std::string::npos);
    const auto lines = shell_test::parseTextLog(b);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].message, L"first run");
    EXPECT_EQ(lines[1].message, L"second run");
}

TEST_F(PatchLogTest, XmlRecordsAreWrittenUnescapedWithATwentyDigitId) {
    PatchLog log;
    ASSERT_TRUE(log.open(kLog, false, mw::logFormatXml));
    log.setLevel(2);
    log.write(mw::logTypeError, L"MyThreadProc", L"a < b & c");
    log.write(mw::logTypeCriticalInfo, L"", L"filtered");
    log.write(mw::logTypeWarning, L"", L"w");
    log.close();

    const std::string t = text();
    const std::string head =
        "<?xml version=\"1.0\" encoding=\"UTF-16\" standalone=\"no\" ?>\r\n<LogManifest>\r\n";
    ASSERT_EQ(t.compare(0, head.size(), head), 0) << t;
    const std::string unit =
        R"re(\t<LogUnit ID="(\d{10})(\d{10})" Type="( ERROR         | WARNING       )" )re"
        R"re(Date="\d\d/\d\d/\d\d" Time="\d\d:\d\d:\d\d:\d{3}" Sender="([A-Za-z]*)">\r\n)re"
        R"re(\t\t<message>([^\r]*)</message>\r\n\t</LogUnit>\r\n)re";
    const std::regex whole(escaped(head) + "(" + unit + ")(" + unit + ")</LogManifest>");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(t, m, whole)) << t;
    const long long now = std::time(nullptr);
    EXPECT_LE(std::abs(std::stoll(m[2]) - now), 5);
    EXPECT_EQ(m[3], "0000000001");
    EXPECT_EQ(m[5], "MyThreadProc");
    EXPECT_EQ(m[6], "a < b & c");
    // The filtered CRITICALINFO message took no number.
    EXPECT_EQ(m[9], "0000000002");
    EXPECT_EQ(m[10], " WARNING       ");
    EXPECT_EQ(m[12], "w");
}

TEST_F(PatchLogTest, LevelFiltersAndCounts) {
    PatchLog log;
    ASSERT_TRUE(log.open(kLog, false, mw::logFormatText));
    // Before any setting only errors pass.
    EXPECT_TRUE(log.write(mw::logTypeWarning, L"", L"dropped at level 0"));
    EXPECT_TRUE(log.write(mw::logTypeError, L"", L"error at level 0"));
    log.setLevel(2);
    EXPECT_TRUE(log.writef(mw::logTypeCriticalInfo, L"", L"new %s", std::wstring(L"pController")));
    EXPECT_EQ(log.counter(), 1u);
    log.writef(mw::logTypeInfo, L"", L"%s = %d", std::wstring(L"value"), 42);
    log.write(-1, L"", L"unknown type reads as INFO");
    log.setLevel(3);
    log.write(mw::logTypeCriticalInfo, L"", L"debug");
    log.write(mw::logTypeCriticalError, L"", L"never admitted");
    EXPECT_EQ(log.counter(), 4u);
    log.close();

    const auto lines = shell_test::parseTextLog(bytes());
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].type, L"ERROR");
    EXPECT_EQ(lines[1].message, L"value = 42");
    EXPECT_EQ(lines[2].type, L"INFO");
    EXPECT_EQ(lines[2].message, L"unknown type reads as INFO");
    EXPECT_EQ(lines[3].type, L"CRITICALINFO");
}

TEST_F(PatchLogTest, ClosedLogDropsAndFlushReachesDisk) {
    PatchLog log;
    log.setLevel(2);
    EXPECT_TRUE(log.write(mw::logTypeError, L"", L"before open"));
    EXPECT_FALSE(log.flush());
    EXPECT_FALSE(machine.exists(kLog));

    ASSERT_TRUE(log.open(kLog, false, mw::logFormatText));
    log.write(mw::logTypeInfo, L"", L"kept");
    EXPECT_TRUE(log.flush());
    EXPECT_EQ(log.status(), 0);
    EXPECT_EQ(shell_test::parseTextLog(bytes()).size(), 1u);
    log.write(mw::logTypeInfo, L"", L"after flush");
    log.close();
    EXPECT_TRUE(log.write(mw::logTypeError, L"", L"after close"));
    EXPECT_FALSE(log.flush());  // a closed log is not reopened

    const auto lines = shell_test::parseTextLog(bytes());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].message, L"after flush");
}

TEST_F(PatchLogTest, OpenFailures) {
    PatchLog log;
    EXPECT_FALSE(log.open(L"", false, mw::logFormatText));
    EXPECT_EQ(log.status(), -1);
    EXPECT_FALSE(log.open(L"C:\\No Such Folder\\x.log", false, mw::logFormatText));
    EXPECT_EQ(log.status(), -1);
    EXPECT_FALSE(log.isOpen());
    // The machine's files decide: a read-only log, or one another process holds without write sharing,
    // is not written.
    machine.writeFile(kLog, "kept");
    ASSERT_TRUE(win::setFileAttributes(kLog, win::attr::readOnly));
    EXPECT_FALSE(log.open(kLog, false, mw::logFormatText));
    ASSERT_TRUE(win::setFileAttributes(kLog, win::attr::normal));
    win::File holder;
    ASSERT_TRUE(holder.open(kLog, win::access::read, win::share::read, win::Disposition::openExisting));
    EXPECT_FALSE(log.open(kLog, false, mw::logFormatText));
    log.write(mw::logTypeError, L"", L"lost");
    EXPECT_EQ(bytes(), "kept");
}

// A log left empty (a run that ended before writing) gets its byte-order mark when next opened.
TEST_F(PatchLogTest, EmptyLogGetsItsByteOrderMark) {
    machine.writeFile(kLog, "");
    PatchLog log;
    ASSERT_TRUE(log.open(kLog, false, mw::logFormatText));
    log.write(mw::logTypeError, L"", L"first");
    log.close();
    EXPECT_EQ(bytes().substr(0, 2), "\xFF\xFE");
}

TEST_F(PatchLogTest, RecordsOfSeveralThreadsNeverInterleave) {
    PatchLog log;
    ASSERT_TRUE(log.open(kLog, false, mw::logFormatXml));
    log.setLevel(2);
    constexpr int kThreads = 4;
    constexpr int kEach = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&log, t] {
            const std::wstring body(200, static_cast<wchar_t>(L'a' + t));
            for (int i = 0; i < kEach; ++i) {
                log.write(mw::logTypeInfo, L"T" + std::to_wstring(t), body);
                if (i % 50 == 0) log.flush();
            }
        });
    }
    for (auto& th : threads) th.join();
    log.close();
    EXPECT_EQ(log.counter(), static_cast<std::uint32_t>(kThreads * kEach));

    const std::string t = text();
    const std::regex unit(
        R"re(\t<LogUnit ID="\d{10}(\d{10})" Type=" INFO          " Date="[^"]*" Time="[^"]*" )re"
        R"re(Sender="T(\d)">\r\n\t\t<message>([a-d])\3{199}</message>\r\n\t</LogUnit>\r\n)re");
    // Walk record by record so that any torn record stops the match.
    int count = 0;
    std::set<std::string> ids;
    std::smatch m;
    std::string::const_iterator cur = t.begin() + static_cast<long>(t.find("<LogManifest>\r\n") + 15);
    while (std::regex_search(cur, t.end(), m, unit, std::regex_constants::match_continuous)) {
        EXPECT_EQ(m[3].str()[0] - 'a', m[2].str()[0] - '0');
        ids.insert(m[1]);
        cur = m[0].second;
        ++count;
    }
    EXPECT_EQ(count, kThreads * kEach);
    EXPECT_EQ(ids.size(), static_cast<std::size_t>(kThreads * kEach));
    EXPECT_EQ(std::string(cur, t.end()), "</LogManifest>");
}

}  // namespace

// The wizard's fault handler ends the run even when the fault strikes while another thread holds the
// log: its lines still reach the log, after the lines the log had buffered.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <regex>
#include <thread>

#include "mendwell/app/startup.h"
#include "mendwell/base/patchlog.h"
#include "platform/text/text.h"
#include "tests/support/testmachine.h"

namespace {

constexpr const wchar_t* kLog = L"C:\\Logs\\Lumen 9.1.log";

// The child: standard output is a full pipe nobody reads, so an echoed record blocks its writer
// inside the log's lock; then the main thread faults.
[[noreturn]] void faultWhileTheLogIsHeld(int format) {
    mw::PatchLog& log = mw::PatchLog::instance();
    if (!log.open(kLog, true, format)) ::_exit(90);
    log.setLevel(2);
    log.write(mw::logTypeInfo, L"", L"buffered before the fault");
    mw::armFaultHandler();

    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0 || ::dup2(pipeEnds[1], STDOUT_FILENO) < 0) ::_exit(91);
    ::fcntl(STDOUT_FILENO, F_SETFL, O_NONBLOCK);
    const char filler[4096] = {};
    while (::write(STDOUT_FILENO, filler, sizeof filler) > 0) {
    }
    ::fcntl(STDOUT_FILENO, F_SETFL, 0);

    std::thread([&log] { log.write(mw::logTypeInfo, L"", L"stuck in its echo"); }).detach();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    // The lock is held when another reader cannot get through it.
    std::atomic<bool> through{false};
    std::thread([&] {
        (void)log.isOpen();
        through = true;
    }).detach();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    if (through) ::_exit(92);

    // Through a volatile pointer, so an optimising build cannot see (and refuse) the bad address.
    volatile int* volatile bad = reinterpret_cast<volatile int*>(std::uintptr_t{16});
    *bad = 1;
    ::_exit(93);
}

TEST(FaultHandler, AFaultWhileTheLogIsHeldEndsTheRunAndReachesTheLog) {
    for (const int format : {mw::logFormatText, mw::logFormatXml}) {
        SCOPED_TRACE(format);
        testing_support::TestMachine machine;
        std::filesystem::create_directories(machine.host(L"C:\\Logs"));
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) faultWhileTheLogIsHeld(format);

        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (::waitpid(child, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(child, SIGKILL);
                ::waitpid(child, &status, 0);
                FAIL() << "the fault handler hung";
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), 2);

        const std::string bytes = machine.readFile(kLog);
        ASSERT_GE(bytes.size(), 2u);
        const std::string text = win::toUtf8(win::fromUtf16le(std::string_view(bytes).substr(2)));
        const std::string fault = "Returned error code = Exception Code = 3221225477";
        std::smatch m;
        if (format == mw::logFormatText) {
            const std::regex order(R"re(   INFO {14}buffered before the fault\r\n)re"
                                   R"re((\d\d/\d\d/\d\d  \d\d:\d\d:\d\d)   ERROR {13})re" +
                                   fault +
                                   R"re(\r\n[^\r]*   INFO {14}patching ends\.\r\n[^\r]*  \*{84}\r\n$)re");
            ASSERT_TRUE(std::regex_search(text, m, order)) << text;
            // The stamp is the local clock's, computed in the handler by arithmetic alone.
            std::tm stamp{};
            ASSERT_NE(::strptime(m[1].str().c_str(), "%m/%d/%y  %H:%M:%S", &stamp), nullptr);
            stamp.tm_isdst = -1;
            EXPECT_LE(std::abs(std::difftime(std::mktime(&stamp), std::time(nullptr))), 30.0) << m[1];
        } else {
            const std::regex order(
                R"re(<message>buffered before the fault</message>[\s\S]*)re"
                R"re(<LogUnit ID="\d{20}" Type=" ERROR {9}" Date="\d\d/\d\d/\d\d" )re"
                R"re(Time="\d\d:\d\d:\d\d:\d{3}" Sender="">\r\n\t\t<message>)re" +
                fault +
                R"re(</message>[\s\S]*<message>patching ends\.</message>[\s\S]*</LogUnit>\r\n</LogManifest>$)re");
            EXPECT_TRUE(std::regex_search(text, order)) << text;
        }
        EXPECT_EQ(text.find("stuck in its echo"), std::string::npos) << text;
    }
}

}  // namespace

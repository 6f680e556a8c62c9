#include <gtest/gtest.h>

#include "platform/process/process.h"
#include "platform/system/mutex.h"
#include "tests/support/testmachine.h"

namespace {

using testing_support::TestMachine;

const wchar_t* kName = L"Mendwell-{A4B940A7-E84E-4d5e-A076-032F00217215}";

TEST(NamedMutex, OneHolderAtATimeWithinAProcess) {
    TestMachine machine;
    win::NamedMutex first, second, other;
    bool exists = true;
    ASSERT_TRUE(first.create(kName, exists));
    EXPECT_FALSE(exists);
    EXPECT_TRUE(first.held());
    EXPECT_FALSE(second.create(kName, exists));
    EXPECT_TRUE(exists);
    EXPECT_EQ(win::lastError(), 183u);
    EXPECT_FALSE(second.held());
    // Names are distinct even when they differ only by case or by characters a file name cannot hold.
    EXPECT_TRUE(other.create(L"mendwell-{a4b940a7-e84e-4d5e-a076-032f00217215}", exists));
    win::NamedMutex slash1, slash2;
    EXPECT_TRUE(slash1.create(L"Global\\x/y", exists));
    EXPECT_TRUE(slash2.create(L"Global_x_y", exists));
    first.release();
    EXPECT_TRUE(second.create(kName, exists));
    EXPECT_FALSE(exists);
}

std::unique_ptr<win::ChildProcess> holdInChild(const std::wstring& seconds) {
    auto child = std::make_unique<win::ChildProcess>();
    win::ChildOptions options;
    options.captureOutput = true;
    EXPECT_TRUE(
        child->startHost(testing_support::binDir() / "mw_probe", {L"mutex", kName, seconds}, options));
    return child;
}

TEST(NamedMutex, SharedAcrossProcessesAndFreedWhenTheHolderDies) {
    TestMachine machine;
    auto holder = holdInChild(L"60");
    for (int i = 0; i < 1000 && holder->output().empty(); ++i) holder->wait(20);
    ASSERT_EQ(holder->output(), "held\n");

    win::NamedMutex here;
    bool exists = false;
    EXPECT_FALSE(here.create(kName, exists));
    EXPECT_TRUE(exists);
    auto second = holdInChild(L"0");
    ASSERT_TRUE(second->wait(20000));
    EXPECT_EQ(second->output(), "busy\n");

    ASSERT_TRUE(holder->kill());  // SIGKILL: the holder never releases it itself
    EXPECT_TRUE(here.create(kName, exists));
    EXPECT_FALSE(exists);
    here.release();
    auto third = holdInChild(L"0");
    ASSERT_TRUE(third->wait(20000));
    EXPECT_EQ(third->output(), "held\n");
}

}  // namespace

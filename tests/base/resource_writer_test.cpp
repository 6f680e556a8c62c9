// A resource written out a chunk at a time: every byte arrives, across chunk and page boundaries, and the
// module still reads the same after the written pages were let go.
#include <gtest/gtest.h>

#include <random>

#include "mendwell/base/resource_writer.h"
#include "platform/resources/resources.h"
#include "tests/support/testmachine.h"

namespace {

using testing_support::TempDir;
using testing_support::TestMachine;
using testing_support::writeHostFile;

TEST(ResourceWriter, LargeResourceArrivesWholeAndStaysReadable) {
    TestMachine machine;
    TempDir dir;
    writeHostFile(dir.path() / "prog", "\x7f" "ELF program");
    // Two chunks and an odd tail, none of them on a page boundary.
    std::vector<std::uint8_t> payload((9u << 20) + 4097);
    std::mt19937 rng(27);
    for (std::uint8_t& b : payload) b = static_cast<std::uint8_t>(rng());
    win::ResourceWriter writer;
    writer.add(std::wstring(L"PATCHFILES"), 100, 0, payload);
    writer.add(std::wstring(L"MANIFEST"), 100, 0, {'<', 'M', '/', '>'});
    std::string error;
    ASSERT_TRUE(writer.write(dir.path() / "prog", dir.path() / "out", error)) << error;
    win::Module module;
    ASSERT_TRUE(module.open(dir.path() / "out"));

    const std::string expected(payload.begin(), payload.end());
    ASSERT_EQ(mw::writeResourceToFile(module, 100, L"PATCHFILES", L"C:\\payload.zip"), 0);
    EXPECT_TRUE(machine.readFile(L"C:\\payload.zip") == expected);
    const std::span<const std::uint8_t> again = module.find(std::wstring(L"PATCHFILES"), 100);
    EXPECT_TRUE(std::string(again.begin(), again.end()) == expected);
    ASSERT_EQ(mw::writeResourceToFile(module, 100, L"MANIFEST", L"C:\\manifest.xml"), 0);
    EXPECT_EQ(machine.readFile(L"C:\\manifest.xml"), "<M/>");
    EXPECT_EQ(mw::writeResourceToFile(module, 101, L"MANIFEST", L"C:\\none.xml"), -1);
}

}  // namespace

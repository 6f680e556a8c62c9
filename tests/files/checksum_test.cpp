#include <gtest/gtest.h>

#include <fstream>

#include "mendwell/files/checksum.h"
#include "platform/fs/file.h"
#include "tests/support/testmachine.h"

namespace {

using testing_support::TestMachine;

// The digest md5sum (coreutils) reports for a host file, upper-cased.
std::string md5sumOf(const std::filesystem::path& file) {
    auto run = testing_support::runProgram("/usr/bin/md5sum", {file.string()});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    std::string digest = run.output.substr(0, 32);
    for (char& c : digest) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return digest;
}

TEST(Md5Text, KnownDigests) {
    TestMachine machine;
    struct Row {
        std::string content;
        const char* digest;  // RFC 1321's test suite
    };
    const Row rows[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {std::string(1000000, 'a'), "7707D6AE4E027C70EEA2A935C2296F21"},  // exactly one buffer
    };
    for (const Row& row : rows) {
        machine.writeFile(L"C:\\data\\f.bin", row.content);
        EXPECT_EQ(mw::md5Text(L"C:\\data\\f.bin"), row.digest) << row.content.size() << " bytes";
    }
}

TEST(Md5Text, SeveralBuffersAgreeWithMd5sum) {
    TestMachine machine;
    std::string bytes(2500001, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
    machine.writeFile(L"C:\\data\\big.bin", bytes);
    EXPECT_EQ(mw::md5Text(L"C:\\data\\big.bin"), md5sumOf(machine.host(L"C:\\data\\big.bin")));
}

TEST(Md5Text, UnreadableFileHasNoDigest) {
    TestMachine machine;
    EXPECT_EQ(mw::md5Text(L"C:\\data\\missing.bin"), "");
    machine.writeFile(L"C:\\data\\held.bin", "x");
    win::File holder;
    ASSERT_TRUE(holder.open(L"C:\\data\\held.bin", win::access::write, win::share::none,
                            win::Disposition::openExisting));
    EXPECT_EQ(mw::md5Text(L"C:\\data\\held.bin"), "");  // sharing violation
}

// A signed 32-bit size count reads 2 GiB + 5 as negative and hashes nothing: the digest must cover all.
// The expected digest is md5sum's for 2^31 zero bytes and "tail!", so the file is read once only.
TEST(Md5Text, FileOfTwoGibibytesAndMoreIsHashedToItsEnd) {
    TestMachine machine;
    machine.writeFile(L"C:\\data\\huge.bin", "");
    const auto host = machine.host(L"C:\\data\\huge.bin");
    {
        std::ofstream out(host, std::ios::binary);
        out.seekp(std::streamoff{1} << 31);
        out.write("tail!", 5);
    }
    EXPECT_EQ(mw::md5Text(L"C:\\data\\huge.bin"), "79A54AB0E7DA8B6370802BD7CFEF13F2");
}

}  // namespace

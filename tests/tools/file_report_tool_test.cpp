// mendwell-build inspect, run as a program on host files and on files of a fresh machine.
#include <gtest/gtest.h>

#include "platform/resources/resources.h"
#include "tests/support/testmachine.h"

namespace {

using testing_support::TempDir;
using testing_support::TestMachine;

std::string md5sumOf(const std::filesystem::path& file) {
    std::string digest = testing_support::runProgram("/usr/bin/md5sum", {file.string()}).output.substr(0, 32);
    for (char& c : digest) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return digest;
}

TEST(InspectTool, ShowsWhatThePatcherSeesOfEachFile) {
    TestMachine machine;
    TempDir dir;
    const auto font = dir.path() / "Tandem.pfb";
    testing_support::writeHostFile(font, "%!PS-AdobeFont-1.0\n/version (1.2) readonly def\n");
    machine.writeFile(L"C:\\P\\tx4.dll", "MZ program");
    win::ResourceWriter writer;
    const win::VersionStrings strings{0x0409, 1200, {{L"FileDescription", L"Tandem TX4 core"}}};
    writer.add(win::kRtVersion, 1, 0x409, win::buildVersionInfo({(2u << 16) | 5, 1, 0, 0}, {strings}));
    std::string error;
    ASSERT_TRUE(writer.write(machine.host(L"C:\\P\\tx4.dll"), machine.host(L"C:\\P\\tx4.dll"), error));

    auto run = testing_support::runProgram(testing_support::binDir() / "mendwell-build",
                                           {"inspect", font.string(), "C:\\P\\tx4.dll"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.output, font.string() + "\n  MD5:             " + md5sumOf(font) +
                              "\n  versioner:       PFBFontVersioner (kind 4), version 1.2.0.0\n"
                              "C:\\P\\tx4.dll\n  MD5:             " +
                              md5sumOf(machine.host(L"C:\\P\\tx4.dll")) +
                              "\n  versioner:       none\n  OS file version: 2.5.0.1\n"
                              "  FileDescription: Tandem TX4 core\n");

    run = testing_support::runProgram(testing_support::binDir() / "mendwell-build",
                                      {"inspect", (dir.path() / "missing.pfb").string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("cannot be read"), std::string::npos);
}

}  // namespace

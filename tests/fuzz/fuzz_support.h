// Shared by the fuzz targets: a machine folder of their own for the whole run, and a check that stops
// the run with a message when a property of the code under test does not hold.
#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace fuzz {

// Creates a fresh machine in a temporary folder on first use and makes it the process's machine;
// it is removed when the run ends normally.
const std::filesystem::path& machineRoot();

// Windows path -> host path on the fuzz machine (for fixtures the targets prepare).
std::filesystem::path host(std::wstring_view windowsPath);

// Writes a file through the host, creating its folders.
void writeHostFile(const std::filesystem::path& path, std::string_view bytes);

// The input as UTF-16 code units (an odd last byte is dropped): every wide string is reachable.
std::wstring wideFrom(const std::uint8_t* data, std::size_t size);

[[noreturn]] void fail(const char* what, const std::string& detail);

}  // namespace fuzz

#define FUZZ_CHECK(condition, detail)                         \
    do {                                                      \
        if (!(condition)) ::fuzz::fail(#condition, (detail)); \
    } while (0)

#include "tests/fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>

#include "platform/fs/path.h"
#include "platform/machine/machine.h"
#include "platform/text/text.h"

namespace fuzz {

namespace {

struct ScratchMachine {
    std::filesystem::path root;
    ScratchMachine() {
        std::error_code ec;
        const auto base = std::filesystem::temp_directory_path(ec);
        std::string pattern = ((ec ? std::filesystem::path("/tmp") : base) / "mendwell-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) fail("mkdtemp", pattern);
        root = pattern;
        std::string error;
        if (!win::Machine::create(root / "machine", win::MachineProfile{}, error) ||
            !win::Machine::select(root / "machine", error))
            fail("machine", error);
        root /= "machine";
    }
    ~ScratchMachine() {
        std::error_code ec;
        std::filesystem::remove_all(root.parent_path(), ec);
    }
};

}  // namespace

const std::filesystem::path& machineRoot() {
    static ScratchMachine machine;
    return machine.root;
}

std::filesystem::path host(std::wstring_view windowsPath) {
    machineRoot();
    std::filesystem::path out;
    if (!win::hostPath(windowsPath, out)) fail("hostPath", win::toUtf8(windowsPath));
    return out;
}

void writeHostFile(const std::filesystem::path& path, std::string_view bytes) {
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) fail("write", path.string());
}

std::wstring wideFrom(const std::uint8_t* data, std::size_t size) {
    std::wstring out;
    out.reserve(size / 2);
    for (std::size_t i = 0; i + 1 < size; i += 2)
        out += static_cast<wchar_t>(data[i] | (static_cast<unsigned>(data[i + 1]) << 8));
    return out;
}

void fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "fuzz check failed: %s\n  %s\n", what, detail.c_str());
    std::abort();
}

}  // namespace fuzz

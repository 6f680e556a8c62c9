// .reg import: any text is read or refused with a line number, and what is read writes back to a file
// that reads the same.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/text/text.h"
#include "tests/fuzz/fuzz_support.h"
#include "tools/machine/regfile.h"

using mw::machinetool::RegFile;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RegFile file;
    std::wstring error;
    if (!mw::machinetool::parseRegFile(std::string_view(reinterpret_cast<const char*>(data), size), file,
                                       error)) {
        FUZZ_CHECK(error.rfind(L"line ", 0) == 0, win::toUtf8(error));
        return 0;
    }
    const std::string written = mw::machinetool::formatRegFile(file);
    RegFile back;
    FUZZ_CHECK(mw::machinetool::parseRegFile(written, back, error), win::toUtf8(error));
    FUZZ_CHECK(back.keys.size() == file.keys.size(), "same keys");
    for (std::size_t k = 0; k < file.keys.size(); ++k) {
        const auto& a = file.keys[k];
        const auto& b = back.keys[k];
        FUZZ_CHECK(a.root == b.root && a.path == b.path && a.remove == b.remove &&
                       a.values.size() == b.values.size(),
                   win::toUtf8(a.path));
        for (std::size_t v = 0; v < a.values.size(); ++v) {
            FUZZ_CHECK(a.values[v].name == b.values[v].name && a.values[v].remove == b.values[v].remove &&
                           a.values[v].type == b.values[v].type && a.values[v].data == b.values[v].data,
                       win::toUtf8(a.values[v].name));
        }
    }
    return 0;
}

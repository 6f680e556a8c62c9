// Command lines split by Windows rules, and arguments quoted so that they split back unchanged.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/process/process.h"
#include "platform/text/text.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring text = fuzz::wideFrom(data, size);
    const std::vector<std::wstring> args = win::splitCommandLine(text);
    // The program name has rules of its own; the arguments after it must survive quoting.
    std::wstring rebuilt = L"program.exe";
    for (std::size_t i = 1; i < args.size(); ++i) rebuilt += L" " + win::quoteArgument(args[i]);
    const std::vector<std::wstring> back = win::splitCommandLine(rebuilt);
    FUZZ_CHECK(!back.empty() && back[0] == L"program.exe", win::toUtf8(rebuilt));
    FUZZ_CHECK(back.size() == std::max<std::size_t>(args.size(), 1), win::toUtf8(rebuilt));
    for (std::size_t i = 1; i < args.size(); ++i) FUZZ_CHECK(back[i] == args[i], win::toUtf8(rebuilt));
    return 0;
}

// The wide formatter: the formats the code uses (and others) with data arguments of every kind.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/text/format.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const wchar_t* const kFormats[] = {L"%s",
                                              L"%d",
                                              L"%u",
                                              L"%llu",
                                              L"%I64u",
                                              L"%x",
                                              L"%08X",
                                              L"%-10s",
                                              L"%.3s",
                                              L"%c",
                                              L"%%",
                                              L"Zip entry \"%s\" could not be written (error %u).",
                                              L"space on target disk: %llu",
                                              L"Return code: %d",
                                              L"%010ld %03u %+d % d %#x %hd %lu %lld",
                                              L"%s %s %s %s"};
    FuzzedDataProvider in(data, size);
    std::wstring format;
    if (in.ConsumeBool()) {
        format = kFormats[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kFormats) - 1)];
    } else {
        // A format of the fuzzer's own, with widths and precisions kept to what a literal would hold.
        const std::string text = in.ConsumeRandomLengthString(64);
        std::size_t digits = 0;
        for (char c : text) {
            digits = (c >= '0' && c <= '9') ? digits + 1 : 0;
            if (digits > 3) return 0;
            format += static_cast<wchar_t>(static_cast<unsigned char>(c));
        }
    }
    std::vector<std::wstring> strings;
    std::vector<win::FormatArg> args;
    strings.reserve(8);
    while (args.size() < 8 && in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange<int>(0, 4)) {
            case 0: {
                const std::string s = in.ConsumeRandomLengthString(128);
                strings.emplace_back(s.begin(), s.end());
                args.emplace_back(strings.back());
                break;
            }
            case 1:
                args.emplace_back(in.ConsumeIntegral<int>());
                break;
            case 2:
                args.emplace_back(in.ConsumeIntegral<long long>());
                break;
            case 3:
                args.emplace_back(in.ConsumeIntegral<unsigned long long>());
                break;
            default:
                args.emplace_back(static_cast<wchar_t>(in.ConsumeIntegral<std::uint16_t>()));
                break;
        }
    }
    win::formatArgs(format, args);
    return 0;
}

// A patch history file read from the machine: the latest entry, its values and the time stamps.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "mendwell/records/patch_history.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::filesystem::path file = fuzz::host(mw::PatchHistoryFile::pathFor(L"FUZZ"));
    fuzz::writeHostFile(file, std::string_view(reinterpret_cast<const char*>(data), size));
    mw::PatchHistoryFile history(L"FUZZ");
    const bool loaded = history.load();
    FUZZ_CHECK(loaded != history.isDamaged(), "an existing file is either read or damaged");
    history.entryCount();
    history.latestValue(L"NewVersion");
    history.latestValue(L"OldVersion");
    history.latestPatcherId();
    history.tsInstalled();
    history.tsModified();
    return 0;
}

// The undo journal of a patcher that died, as the next patcher's recovery reads it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "mendwell/records/rollback_manifest.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::wstring journal = L"C:\\Temp\\RollbackManifest.xml.journal";
    fuzz::writeHostFile(fuzz::host(journal), std::string_view(reinterpret_cast<const char*>(data), size));
    mw::JournalReplay replay;
    if (!mw::readJournal(journal, replay)) return 0;
    std::size_t entries = 0;
    for (const win::xml::Node& set : replay.manifest.root().children()) entries += set.children().size();
    FUZZ_CHECK(entries == static_cast<std::size_t>(replay.entries), "every entry read is in a set");
    FUZZ_CHECK(replay.manifest.save(L"C:\\Temp\\RollbackManifest.xml", mw::kRecordXmlDeclaration),
               "what is read can be saved for the rollback run");
    return 0;
}

// The signature resource a patcher carries: any bytes are refused or read; what is read writes back to
// the same bytes, and checking a table that carries it never reads outside the file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mendwell/files/patcher_signature.h"
#include "platform/resources/table_format.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> input(data, data + size);
    mw::PatcherSignature s;
    std::string why;
    if (mw::readSignatureResource(input, s, why)) {
        FUZZ_CHECK(mw::signatureResource(s) == input, "a signature resource writes back unchanged");
        FUZZ_CHECK(mw::keyFingerprint(s.publicKey).size() == 64, "a fingerprint is 64 digits");
        mw::signatureHolds(s);
    } else {
        FUZZ_CHECK(!why.empty(), "a refusal says why");
    }

    // The same bytes as the signature of a small patcher.
    const std::vector<std::uint8_t> program(64, 0x90);
    std::vector<win::ResourceEntry> entries{{std::wstring(L"CONFIG"), 100, 0, {'<', 'x', '/', '>'}},
                                            {std::wstring(mw::kSignatureType), mw::kSignatureId, 0, input}};
    std::vector<std::uint8_t> file = program;
    const std::vector<std::uint8_t> table = win::rsrc::buildTable(program.size(), entries);
    file.insert(file.end(), table.begin(), table.end());
    const mw::PatcherSignatureCheck check = mw::checkPatcherFile(file);
    FUZZ_CHECK(check.status != mw::PatcherSignatureCheck::notSigned, "a signature resource is seen");
    FUZZ_CHECK(check.status == mw::PatcherSignatureCheck::damaged || check.proven.size() == 2,
               "a holding signature vouches for the program and the configuration");
    mw::judgePatcher(check, mw::SignerPolicy{});
    return 0;
}

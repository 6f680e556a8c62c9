// A patcher's signature checked against its file: every region altered, the signature resource damaged
// or taken from another patcher, and the verdict under the machine's policy.
#include <openssl/evp.h>

#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "mendwell/files/patcher_signature.h"
#include "platform/resources/table_format.h"
#include "platform/text/text.h"

namespace {

using mw::PatcherSignatureCheck;
using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

std::vector<win::ResourceEntry> resources(const std::string& manifest = "<Manifest/>") {
    return {
        {std::wstring(L"CONFIG"), 100, 0, bytesOf("<PatcherConfig/>")},
        {std::wstring(L"MANIFEST"), 100, 0, bytesOf(manifest)},
        {std::wstring(L"PATCHFILES"), 100, 0, bytesOf(std::string(5000, 'z'))},
        {std::wstring(L"QUADRELFILES"), 200, 0, bytesOf("engine")},
        {std::wstring(L"CONFIG"), 100, 1033, bytesOf("<PatcherConfig>en</PatcherConfig>")},
        {win::kRtVersion, 1, 0, bytesOf("version block")},
    };
}

Bytes withTable(const Bytes& program, const std::vector<win::ResourceEntry>& entries) {
    Bytes file = program;
    const Bytes table = win::rsrc::buildTable(program.size(), entries);
    file.insert(file.end(), table.begin(), table.end());
    return file;
}

// A deterministic test key from a seed byte.
std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> testKey(std::uint8_t seed) {
    const Bytes raw(32, seed);
    return {EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, raw.data(), raw.size()), EVP_PKEY_free};
}

mw::PatcherSignature signatureFor(const Bytes& file, std::uint8_t seed, const std::string& signer) {
    auto key = testKey(seed);
    mw::PatcherSignature s;
    s.signer = signer;
    std::size_t size = 32;
    s.publicKey.resize(size);
    EVP_PKEY_get_raw_public_key(key.get(), s.publicKey.data(), &size);
    EXPECT_TRUE(mw::digestPatcherRegions(file, s.regions));
    const Bytes statement = mw::signatureStatement(s);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    size = 64;
    s.signature.resize(size);
    EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get());
    EVP_DigestSign(ctx.get(), s.signature.data(), &size, statement.data(), statement.size());
    return s;
}

// Signs as mendwell-build does: the table as written, then the signature appended as the last entry.
struct SignedPatcher {
    Bytes program = bytesOf(std::string(3000, 'p') + "the program");
    std::vector<win::ResourceEntry> entries;
    Bytes signature;
    Bytes file;

    explicit SignedPatcher(std::uint8_t seed = 7, const std::string& manifest = "<Manifest/>") {
        entries = resources(manifest);
        signature = mw::signatureResource(signatureFor(withTable(program, entries), seed, "Orvex Release"));
        rebuild();
    }
    void rebuild() {
        auto all = entries;
        all.push_back({std::wstring(mw::kSignatureType), mw::kSignatureId, 0, signature});
        file = withTable(program, all);
    }
};

std::string problems(const PatcherSignatureCheck& c) {
    std::string out;
    for (const auto& p : c.problems) out += win::toUtf8(p) + "\n";
    return out;
}

TEST(PatcherSignature, SignedFileHoldsAndVouchesForEveryResource) {
    SignedPatcher p;
    const PatcherSignatureCheck c = mw::checkPatcherFile(p.file);
    EXPECT_EQ(c.status, PatcherSignatureCheck::holds) << problems(c);
    EXPECT_EQ(c.signer, "Orvex Release");
    EXPECT_EQ(c.fingerprint.size(), 64u);
    EXPECT_EQ(c.proven.size(), p.entries.size() + 1);  // the program and each resource
    EXPECT_TRUE(c.proves(std::wstring(L"manifest"), 100));
    EXPECT_FALSE(c.proves(std::wstring(L"MANIFEST"), 200));
    EXPECT_FALSE(c.proves(std::wstring(mw::kSignatureType), mw::kSignatureId));

    PatcherSignatureCheck unsigned_ = mw::checkPatcherFile(withTable(p.program, p.entries));
    EXPECT_EQ(unsigned_.status, PatcherSignatureCheck::notSigned);
    EXPECT_EQ(mw::checkPatcherFile(p.program).status, PatcherSignatureCheck::notSigned);
}

// One byte altered in each region in turn: refused, naming exactly that region; the signature itself
// still holds, so the other regions stay proven.
TEST(PatcherSignature, EachRegionAlteredByOneByteIsNamed) {
    SignedPatcher p;
    std::vector<mw::SignedRegion> regions;
    ASSERT_TRUE(mw::digestPatcherRegions(p.file, regions));
    ASSERT_EQ(regions.size(), p.entries.size() + 1);
    for (std::size_t i = 0; i < regions.size(); ++i) {
        SignedPatcher altered = p;
        if (i == 0)
            altered.program[altered.program.size() / 2] ^= 0x01;
        else
            altered.entries[i - 1].data.back() ^= 0x01;
        altered.rebuild();
        const PatcherSignatureCheck c = mw::checkPatcherFile(altered.file);
        const std::string name = win::toUtf8(regions[i].name());
        EXPECT_EQ(c.status, PatcherSignatureCheck::damaged) << name;
        EXPECT_EQ(problems(c), name + " does not match the signature\n");
        EXPECT_TRUE(c.signatureValid);
        EXPECT_EQ(c.proven.size(), regions.size() - 1) << name;
    }
    EXPECT_EQ(win::toUtf8(regions[0].name()), "the program");
    EXPECT_EQ(win::toUtf8(regions[5].name()), "resource CONFIG/100 (language 1033)");
}

TEST(PatcherSignature, DamagedOrForeignSignatureResourcesAreRefused) {
    const SignedPatcher original;
    const SignedPatcher otherManifest(7, "<Manifest><FileSet/></Manifest>");
    struct Row {
        const char* what;
        std::function<void(SignedPatcher&)> change;
        const char* problem;
    };
    const Row rows[] = {
        {"truncated by one byte", [](SignedPatcher& p) { p.signature.pop_back(); },
         "the signature resource cannot be read (truncated)"},
        {"cut in half", [](SignedPatcher& p) { p.signature.resize(p.signature.size() / 2); },
         "the signature resource cannot be read (truncated)"},
        {"emptied", [](SignedPatcher& p) { p.signature.clear(); },
         "the signature resource cannot be read (not a signature resource)"},
        {"a byte too many", [](SignedPatcher& p) { p.signature.push_back(0); },
         "the signature resource cannot be read (bytes after the signature)"},
        {"a flag written other than 0 or 1", [](SignedPatcher& p) { p.signature[63] = 2; },
         "the signature resource cannot be read (not in canonical form)"},
        {"signature byte flipped", [](SignedPatcher& p) { p.signature.back() ^= 0x80; },
         "the signature does not hold for the key it names"},
        {"signer renamed", [](SignedPatcher& p) { p.signature[12] ^= 0x20; },
         "the signature does not hold for the key it names"},
        {"taken from a patcher with another manifest",
         [&](SignedPatcher& p) { p.signature = otherManifest.signature; },
         "resource MANIFEST/100 does not match the signature"},
        {"a resource added after signing",
         [](SignedPatcher& p) {
             p.entries.push_back({std::wstring(L"QUDLIB"), 100, 0, bytesOf("lib")});
         },
         "resource QUDLIB/100 is not covered by the signature"},
        {"a resource removed after signing", [](SignedPatcher& p) { p.entries.erase(p.entries.begin() + 3); },
         "resource QUADRELFILES/200 is signed but missing"},
        {"a second signature resource",
         [](SignedPatcher& p) {
             p.entries.push_back({std::wstring(mw::kSignatureType), mw::kSignatureId, 1033, p.signature});
         },
         "the patcher carries more than one signature resource"},
    };
    for (const Row& row : rows) {
        SignedPatcher p = original;
        row.change(p);
        p.rebuild();
        const PatcherSignatureCheck c = mw::checkPatcherFile(p.file);
        EXPECT_EQ(c.status, PatcherSignatureCheck::damaged) << row.what;
        EXPECT_NE(problems(c).find(row.problem), std::string::npos) << row.what << ":\n" << problems(c);
    }
}

TEST(PatcherSignature, VerdictUnderThePolicy) {
    const PatcherSignatureCheck good = mw::checkPatcherFile(SignedPatcher(7).file);
    const PatcherSignatureCheck other = mw::checkPatcherFile(SignedPatcher(8).file);
    SignedPatcher alteredPatcher;
    alteredPatcher.entries[1].data[0] ^= 1;
    alteredPatcher.rebuild();
    const PatcherSignatureCheck altered = mw::checkPatcherFile(alteredPatcher.file);
    const PatcherSignatureCheck none;

    std::vector<std::wstring> rejected;
    const mw::SignerPolicy noPolicy;
    const mw::SignerPolicy namesGood = mw::parseSignerPolicy(
        {L"not-a-key; " + win::toUpper(win::fromUtf8(good.fingerprint)), L""}, rejected);
    ASSERT_EQ(rejected, std::vector<std::wstring>{L"not-a-key"});
    ASSERT_EQ(namesGood.fingerprints, std::vector<std::string>{good.fingerprint});
    const mw::SignerPolicy namesNoOne = mw::parseSignerPolicy({}, rejected);

    struct Row {
        const char* what;
        const PatcherSignatureCheck& check;
        const mw::SignerPolicy& policy;
        bool run, warn, trusted;
        const char* line;
    };
    const Row rows[] = {
        {"unsigned, no policy", none, noPolicy, true, true, false, "This patcher is not signed: where"},
        {"unsigned, policy", none, namesGood, false, false, false, "accepts signed patches only"},
        {"signed, no policy", good, noPolicy, true, false, true, "Patcher signature holds: signed by Orvex"},
        {"signed by the named key", good, namesGood, true, false, true, "Patcher signature holds"},
        {"signed by another key", other, namesGood, false, false, false, "a signer the machine's policy"},
        {"policy naming no one", good, namesNoOne, false, false, false, "does not name"},
        {"altered, no policy", altered, noPolicy, false, false, true,
         "Patcher signature check failed: resource MANIFEST/100 does not match the signature."},
        {"altered, named signer", altered, namesGood, false, false, true, "MANIFEST/100"},
    };
    for (const Row& row : rows) {
        const mw::SignatureVerdict v = mw::judgePatcher(row.check, row.policy);
        EXPECT_EQ(v.run, row.run) << row.what;
        EXPECT_EQ(v.warn, row.warn) << row.what;
        EXPECT_EQ(v.trusted, row.trusted) << row.what;
        ASSERT_FALSE(v.lines.empty()) << row.what;
        EXPECT_NE(win::toUtf8(v.lines[0]).find(row.line), std::string::npos)
            << row.what << ": " << win::toUtf8(v.lines[0]);
    }
}

}  // namespace

// The signature a patcher carries in resource SIGNATURE/100: who signed it (display name and Ed25519
// public key) and, per region of the file (the program's own bytes, then every other resource in table
// order), the region's size and SHA-256. The signature covers all of that. Windowless: mendwell-build
// signs and inspects with the same code the patcher checks itself with.
#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/resources/resources.h"

namespace mw {

inline constexpr const wchar_t* kSignatureType = L"SIGNATURE";
inline constexpr std::uint16_t kSignatureId = 100;
inline constexpr std::uint16_t kSignatureEd25519 = 1;

// One stretch of the patcher's file the signature speaks for.
struct SignedRegion {
    bool isProgram = false;  // the program's own bytes before the resource table
    win::ResourceId type = std::uint16_t{0};
    std::uint16_t id = 0;
    std::uint16_t language = 0;
    std::uint64_t size = 0;
    std::array<std::uint8_t, 32> sha256{};

    bool sameSlot(const SignedRegion& other) const;  // the same region, whatever its bytes
    std::wstring name() const;                       // "MANIFEST/100", "the program", ...
};

struct PatcherSignature {
    std::uint16_t algorithm = kSignatureEd25519;
    std::string signer;                   // display name, UTF-8
    std::vector<std::uint8_t> publicKey;  // raw Ed25519 key, 32 bytes
    std::vector<SignedRegion> regions;
    std::vector<std::uint8_t> signature;  // over statement()
};

// The signed bytes: everything of the resource before the signature itself.
std::vector<std::uint8_t> signatureStatement(const PatcherSignature& s);
// The whole resource: the statement, then the signature's length and bytes.
std::vector<std::uint8_t> signatureResource(const PatcherSignature& s);
// Reads a resource written by signatureResource. False with `why` for anything else: bad magic, an
// unknown algorithm, a wrong key or signature length, a length running past the end, bytes left over.
bool readSignatureResource(std::span<const std::uint8_t> bytes, PatcherSignature& s, std::string& why);

// The regions of a patcher's file, hashed in file order in one pass: the program, then each resource of
// the table except the signature. False when the file carries no readable resource table.
bool digestPatcherRegions(std::span<const std::uint8_t> file, std::vector<SignedRegion>& regions);

// Key fingerprint: SHA-256 of the raw public key, 64 lower-case hexadecimal digits.
std::string keyFingerprint(std::span<const std::uint8_t> publicKey);
// Ed25519 check of `s.signature` over signatureStatement(s) with `s.publicKey`.
bool signatureHolds(const PatcherSignature& s);

// What the patcher's file says of itself.
struct PatcherSignatureCheck {
    enum Status { notSigned, holds, damaged };
    Status status = notSigned;
    std::string signer;           // display name, when the resource could be read
    std::string fingerprint;      // of the signer's key, when the resource could be read
    bool signatureValid = false;  // the signer's key signed what the resource says, whatever the file holds
    std::vector<std::wstring> problems;  // what did not match, one line each
    std::vector<SignedRegion> proven;    // regions the holding signature vouches for

    bool proves(const win::ResourceId& type, std::uint16_t id) const;
};
PatcherSignatureCheck checkPatcherFile(std::span<const std::uint8_t> file);

// The machine's policy: signed patches only, from the signers whose fingerprints it names.
struct SignerPolicy {
    bool present = false;
    std::vector<std::string> fingerprints;  // lower case
};
// Fingerprints out of a policy text: separated by blanks, commas, semicolons or line ends; any case.
// Words that are not 64 hexadecimal digits are returned in `rejected`.
SignerPolicy parseSignerPolicy(const std::vector<std::wstring>& texts, std::vector<std::wstring>& rejected);

// Where the policy lives: HKLM\SOFTWARE\Orvex\Patcher, value SignedBy (REG_SZ or REG_MULTI_SZ).
inline constexpr const wchar_t* kSignerPolicyKey = L"SOFTWARE\\Orvex\\Patcher";
inline constexpr const wchar_t* kSignerPolicyValue = L"SignedBy";

// The run's verdict on a checked file under a policy.
struct SignatureVerdict {
    bool run = false;
    bool warn = false;                // runs, but unsigned: the line is a WARNING, not an INFO
    std::vector<std::wstring> lines;  // the ERROR lines when refused, else the one INFO or WARNING line
    // The check's proven regions may be used for the refusal itself (its texts, its result library):
    // the signature holds and its signer is one the machine accepts.
    bool trusted = false;
};
SignatureVerdict judgePatcher(const PatcherSignatureCheck& check, const SignerPolicy& policy);

}  // namespace mw

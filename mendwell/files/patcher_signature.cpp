#include "mendwell/files/patcher_signature.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/resources/table_format.h"
#include "platform/text/text.h"

namespace mw {

namespace {

constexpr char kMagic[8] = {'M', 'W', 'S', 'I', 'G', '0', '0', '1'};
constexpr std::size_t kEd25519KeySize = 32;
constexpr std::size_t kEd25519SignatureSize = 64;
constexpr std::size_t kMaxSigner = 256;
constexpr std::size_t kMaxTypeName = 256;

void put(std::vector<std::uint8_t>& out, std::uint64_t v, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void putBytes(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

// Reads little-endian numbers and byte runs, never past the end; the first shortfall sticks.
class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    bool ok() const { return ok_; }
    std::size_t left() const { return bytes_.size() - at_; }
    std::size_t at() const { return at_; }
    std::uint64_t number(std::size_t width) {
        if (!ok_ || left() < width) return fail();
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < width; ++i) v |= static_cast<std::uint64_t>(bytes_[at_ + i]) << (8 * i);
        at_ += width;
        return v;
    }
    std::span<const std::uint8_t> bytes(std::size_t n) {
        if (!ok_ || left() < n) {
            fail();
            return {};
        }
        auto out = bytes_.subspan(at_, n);
        at_ += n;
        return out;
    }

  private:
    std::uint64_t fail() {
        ok_ = false;
        return 0;
    }
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

std::array<std::uint8_t, 32> sha256(std::span<const std::uint8_t> bytes) {
    std::array<std::uint8_t, 32> out{};
    unsigned int len = 0;
    EVP_Digest(bytes.data(), bytes.size(), out.data(), &len, EVP_sha256(), nullptr);
    return out;
}

std::string hex(std::span<const std::uint8_t> bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (std::uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

bool isSignatureEntry(const win::rsrc::TableEntry& e) {
    return win::rsrc::sameType(e, std::wstring(kSignatureType));
}

std::wstring keyText(const PatcherSignatureCheck& c) {
    return win::fromUtf8(c.signer) + L" (key " + win::fromUtf8(c.fingerprint) + L")";
}

const std::wstring kPolicyName = std::wstring(L"HKLM\\") + kSignerPolicyKey + L", " + kSignerPolicyValue;

}  // namespace

bool SignedRegion::sameSlot(const SignedRegion& other) const {
    if (isProgram || other.isProgram) return isProgram == other.isProgram;
    if (type.index() != other.type.index() || id != other.id || language != other.language) return false;
    if (const auto* name = std::get_if<std::wstring>(&type))
        return win::iequals(*name, std::get<std::wstring>(other.type));
    return type == other.type;
}

std::wstring SignedRegion::name() const {
    if (isProgram) return L"the program";
    std::wstring out = L"resource ";
    if (const auto* text = std::get_if<std::wstring>(&type))
        out += *text;
    else
        out += std::to_wstring(std::get<std::uint16_t>(type));
    out += L"/" + std::to_wstring(id);
    if (language != 0) out += L" (language " + std::to_wstring(language) + L")";
    return out;
}

std::vector<std::uint8_t> signatureStatement(const PatcherSignature& s) {
    std::vector<std::uint8_t> out(std::begin(kMagic), std::end(kMagic));
    put(out, s.algorithm, 2);
    put(out, s.signer.size(), 2);
    out.insert(out.end(), s.signer.begin(), s.signer.end());
    put(out, s.publicKey.size(), 2);
    putBytes(out, s.publicKey);
    put(out, s.regions.size(), 4);
    for (const SignedRegion& r : s.regions) {
        put(out, r.isProgram ? 1 : 0, 1);
        std::string name;
        if (const auto* text = std::get_if<std::wstring>(&r.type)) name = win::toUtf16le(*text);
        const auto* number = std::get_if<std::uint16_t>(&r.type);
        put(out, name.size() / 2, 2);
        put(out, number ? *number : 0, 2);
        out.insert(out.end(), name.begin(), name.end());
        put(out, r.id, 2);
        put(out, r.language, 2);
        put(out, r.size, 8);
        putBytes(out, r.sha256);
    }
    return out;
}

std::vector<std::uint8_t> signatureResource(const PatcherSignature& s) {
    std::vector<std::uint8_t> out = signatureStatement(s);
    put(out, s.signature.size(), 2);
    putBytes(out, s.signature);
    return out;
}

bool readSignatureResource(std::span<const std::uint8_t> bytes, PatcherSignature& s, std::string& why) {
    s = {};
    Reader in(bytes);
    const auto magic = in.bytes(sizeof kMagic);
    if (!in.ok() || std::memcmp(magic.data(), kMagic, sizeof kMagic) != 0) {
        why = "not a signature resource";
        return false;
    }
    s.algorithm = static_cast<std::uint16_t>(in.number(2));
    if (in.ok() && s.algorithm != kSignatureEd25519) {
        why = "unknown signature algorithm " + std::to_string(s.algorithm);
        return false;
    }
    const std::size_t signerSize = in.number(2);
    if (signerSize > kMaxSigner) {
        why = "signer name too long";
        return false;
    }
    const auto signer = in.bytes(signerSize);
    s.signer.assign(signer.begin(), signer.end());
    const std::size_t keySize = in.number(2);
    const auto key = in.bytes(keySize);
    if (in.ok() && keySize != kEd25519KeySize) {
        why = "the signer's key is not an Ed25519 key";
        return false;
    }
    s.publicKey.assign(key.begin(), key.end());
    const std::uint64_t count = in.number(4);
    // Each region takes at least 49 bytes: a count beyond what is left is damage, not a reason to allocate.
    if (!in.ok() || count > in.left() / 49) {
        why = "truncated";
        return false;
    }
    for (std::uint64_t i = 0; i < count && in.ok(); ++i) {
        SignedRegion r;
        r.isProgram = in.number(1) != 0;
        const std::size_t nameUnits = in.number(2);
        const auto typeNumber = static_cast<std::uint16_t>(in.number(2));
        if (nameUnits > kMaxTypeName) {
            why = "resource type name too long";
            return false;
        }
        const auto name = in.bytes(nameUnits * 2);
        if (nameUnits != 0)
            r.type =
                win::fromUtf16le(std::string_view(reinterpret_cast<const char*>(name.data()), name.size()));
        else
            r.type = typeNumber;
        r.id = static_cast<std::uint16_t>(in.number(2));
        r.language = static_cast<std::uint16_t>(in.number(2));
        r.size = in.number(8);
        const auto digest = in.bytes(32);
        if (in.ok()) std::copy(digest.begin(), digest.end(), r.sha256.begin());
        s.regions.push_back(std::move(r));
    }
    // The signature is checked over the statement as written again: bytes that read the same but are
    // written differently (a name that is not UTF-16, a flag other than 0 or 1) are refused here.
    const std::size_t statementSize = in.at();
    const std::size_t signatureSize = in.number(2);
    const auto signature = in.bytes(signatureSize);
    if (!in.ok()) {
        why = "truncated";
        return false;
    }
    if (signatureSize != kEd25519SignatureSize) {
        why = "the signature is not an Ed25519 signature";
        return false;
    }
    if (in.left() != 0) {
        why = "bytes after the signature";
        return false;
    }
    const std::vector<std::uint8_t> statement = signatureStatement(s);
    if (!std::equal(statement.begin(), statement.end(), bytes.begin(), bytes.begin() + statementSize)) {
        why = "not in canonical form";
        return false;
    }
    s.signature.assign(signature.begin(), signature.end());
    return true;
}

bool digestPatcherRegions(std::span<const std::uint8_t> file, std::vector<SignedRegion>& regions) {
    regions.clear();
    win::rsrc::Table table;
    if (!win::rsrc::parseTable(file, table)) return false;
    SignedRegion program;
    program.isProgram = true;
    program.size = table.programSize;
    program.sha256 = sha256(file.first(table.programSize));
    regions.push_back(program);
    for (const auto& e : table.entries) {
        if (isSignatureEntry(e)) continue;
        SignedRegion r;
        if (e.typeIsName)
            r.type = e.typeName;
        else
            r.type = e.typeNumber;
        r.id = e.id;
        r.language = e.language;
        r.size = e.data.size();
        r.sha256 = sha256(e.data);
        regions.push_back(std::move(r));
    }
    return true;
}

std::string keyFingerprint(std::span<const std::uint8_t> publicKey) {
    return hex(sha256(publicKey));
}

bool signatureHolds(const PatcherSignature& s) {
    if (s.algorithm != kSignatureEd25519 || s.publicKey.size() != kEd25519KeySize) return false;
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, s.publicKey.data(), s.publicKey.size()),
        EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!key || !ctx) return false;
    const std::vector<std::uint8_t> statement = signatureStatement(s);
    return EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
           EVP_DigestVerify(ctx.get(), s.signature.data(), s.signature.size(), statement.data(),
                            statement.size()) == 1;
}

bool PatcherSignatureCheck::proves(const win::ResourceId& type, std::uint16_t id) const {
    return std::any_of(proven.begin(), proven.end(), [&](const SignedRegion& r) {
        SignedRegion wanted = r;
        wanted.type = type;
        wanted.id = id;
        return !r.isProgram && r.sameSlot(wanted);
    });
}

PatcherSignatureCheck checkPatcherFile(std::span<const std::uint8_t> file) {
    PatcherSignatureCheck c;
    win::rsrc::Table table;
    if (!win::rsrc::parseTable(file, table)) return c;
    const win::rsrc::TableEntry* entry = nullptr;
    for (const auto& e : table.entries) {
        if (!isSignatureEntry(e)) continue;
        if (entry) {
            c.status = PatcherSignatureCheck::damaged;
            c.problems.push_back(L"the patcher carries more than one signature resource");
            return c;
        }
        entry = &e;
    }
    if (!entry) return c;

    c.status = PatcherSignatureCheck::damaged;
    PatcherSignature s;
    std::string why;
    if (entry->id != kSignatureId || !readSignatureResource(entry->data, s, why)) {
        if (why.empty()) why = "it is not resource " + std::to_string(kSignatureId);
        c.problems.push_back(L"the signature resource cannot be read (" + win::fromUtf8(why) + L")");
        return c;
    }
    c.signer = s.signer;
    c.fingerprint = keyFingerprint(s.publicKey);
    const bool holds = signatureHolds(s);
    c.signatureValid = holds;
    if (!holds) c.problems.push_back(L"the signature does not hold for the key it names");

    std::vector<SignedRegion> found;
    digestPatcherRegions(file, found);
    std::vector<bool> used(s.regions.size(), false);
    for (const SignedRegion& r : found) {
        std::size_t i = 0;
        while (i < s.regions.size() && (used[i] || !s.regions[i].sameSlot(r))) ++i;
        if (i == s.regions.size()) {
            c.problems.push_back(r.name() + L" is not covered by the signature");
            continue;
        }
        used[i] = true;
        if (s.regions[i].size != r.size || s.regions[i].sha256 != r.sha256) {
            c.problems.push_back(r.name() + L" does not match the signature");
        } else if (holds) {
            c.proven.push_back(r);
        }
    }
    for (std::size_t i = 0; i < s.regions.size(); ++i)
        if (!used[i]) c.problems.push_back(s.regions[i].name() + L" is signed but missing");
    if (c.problems.empty()) c.status = PatcherSignatureCheck::holds;
    return c;
}

SignerPolicy parseSignerPolicy(const std::vector<std::wstring>& texts, std::vector<std::wstring>& rejected) {
    SignerPolicy policy;
    policy.present = true;
    for (const std::wstring& text : texts) {
        std::wstring word;
        auto take = [&] {
            if (word.empty()) return;
            const bool isHex = word.size() == 64 && std::all_of(word.begin(), word.end(), [](wchar_t ch) {
                                   return (ch >= L'0' && ch <= L'9') || (ch >= L'a' && ch <= L'f') ||
                                          (ch >= L'A' && ch <= L'F');
                               });
            if (isHex)
                policy.fingerprints.push_back(win::toUtf8(win::toLower(word)));
            else
                rejected.push_back(word);
            word.clear();
        };
        for (wchar_t ch : text) {
            if (ch == L' ' || ch == L'\t' || ch == L'\r' || ch == L'\n' || ch == L',' || ch == L';')
                take();
            else
                word += ch;
        }
        take();
    }
    return policy;
}

SignatureVerdict judgePatcher(const PatcherSignatureCheck& check, const SignerPolicy& policy) {
    SignatureVerdict v;
    const bool named = !check.fingerprint.empty() &&
                       std::find(policy.fingerprints.begin(), policy.fingerprints.end(), check.fingerprint) !=
                           policy.fingerprints.end();
    const bool accepted = !policy.present || named;
    switch (check.status) {
        case PatcherSignatureCheck::notSigned:
            if (policy.present) {
                v.lines.push_back(L"This patcher is not signed, and the machine's policy (" + kPolicyName +
                                  L") accepts signed patches only.");
            } else {
                v.run = true;
                v.warn = true;
                v.lines.push_back(
                    L"This patcher is not signed: where it came from and whether it was altered cannot be "
                    L"checked.");
            }
            break;
        case PatcherSignatureCheck::damaged:
            for (const std::wstring& p : check.problems)
                v.lines.push_back(L"Patcher signature check failed: " + p + L".");
            v.trusted = !check.proven.empty() && accepted;
            break;
        case PatcherSignatureCheck::holds:
            if (accepted) {
                v.run = true;
                v.trusted = true;
                v.lines.push_back(L"Patcher signature holds: signed by " + keyText(check) +
                                  L"; the program and every resource match it.");
            } else {
                v.lines.push_back(L"This patcher is signed by " + keyText(check) +
                                  L", a signer the machine's policy (" + kPolicyName + L") does not name.");
            }
            break;
    }
    return v;
}

}  // namespace mw

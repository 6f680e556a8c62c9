#include "tools/mendwell-build/signing.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "platform/resources/mapped_file.h"
#include "platform/resources/table_format.h"
#include "platform/text/text.h"

namespace mwbuild {
namespace fs = std::filesystem;

struct SigningKey::Key {
    EVP_PKEY* pkey = nullptr;
    ~Key() { EVP_PKEY_free(pkey); }
};

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::vector<std::uint8_t> rawPublicKey(EVP_PKEY* key) {
    std::size_t size = 0;
    if (EVP_PKEY_get_raw_public_key(key, nullptr, &size) != 1) return {};
    std::vector<std::uint8_t> raw(size);
    if (EVP_PKEY_get_raw_public_key(key, raw.data(), &size) != 1) return {};
    return raw;
}

// Creates a file that must not exist yet, with the given permission bits.
File createNew(const fs::path& path, fs::perms perms, std::string& error) {
    std::error_code ec;
    if (fs::exists(path, ec)) {
        error = path.string() + " already exists; a key is never replaced";
        return nullptr;
    }
    File f(std::fopen(path.c_str(), "wx"));
    if (!f) {
        error = "cannot create " + path.string();
        return nullptr;
    }
    fs::permissions(path, perms, ec);
    return f;
}

}  // namespace

bool generateKey(const std::string& name, std::ostream& out, std::ostream& err) {
    EVP_PKEY* raw = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
    if (!raw) {
        err << "mendwell-build: the key pair cannot be made\n";
        return false;
    }
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(raw, EVP_PKEY_free);
    const fs::path privatePath = name + ".pem";
    const fs::path publicPath = name + ".pub.pem";
    std::string error;
    File priv = createNew(privatePath, fs::perms::owner_read | fs::perms::owner_write, error);
    File pub = priv ? createNew(publicPath,
                                fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                    fs::perms::others_read,
                                error)
                    : nullptr;
    if (!priv || !pub) {
        if (priv) {
            priv.reset();
            fs::remove(privatePath);
        }
        err << "mendwell-build: " << error << "\n";
        return false;
    }
    const bool written =
        PEM_write_PrivateKey(priv.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1 &&
        PEM_write_PUBKEY(pub.get(), key.get()) == 1;
    priv.reset();
    pub.reset();
    if (!written) {
        err << "mendwell-build: the key cannot be written\n";
        return false;
    }
    out << "private key: " << privatePath.string() << " (keep it secret)\n"
        << "public key:  " << publicPath.string() << "\n"
        << "fingerprint: " << mw::keyFingerprint(rawPublicKey(key.get())) << "\n";
    return true;
}

SigningKey::SigningKey() = default;
SigningKey::~SigningKey() = default;

bool SigningKey::load(const fs::path& pem, std::string signer, std::string& error) {
    File f(std::fopen(pem.c_str(), "r"));
    if (!f) {
        error = "cannot read the key " + pem.string();
        return false;
    }
    auto key = std::make_unique<Key>();
    key->pkey = PEM_read_PrivateKey(f.get(), nullptr, nullptr, nullptr);
    if (!key->pkey || EVP_PKEY_get_base_id(key->pkey) != EVP_PKEY_ED25519) {
        error = pem.string() + " holds no Ed25519 private key (make one with: mendwell-build keygen NAME)";
        return false;
    }
    key_ = std::move(key);
    signer_ = signer.empty() ? pem.stem().string() : std::move(signer);
    if (signer_.size() > 256) signer_.resize(256);
    return true;
}

bool SigningKey::sign(const fs::path& patcher, mw::PatcherSignature& s, std::string& error) const {
    win::rsrc::MappedFile file;
    if (!file.open(patcher) || !mw::digestPatcherRegions(file.bytes(), s.regions)) {
        error = "cannot read the resources of " + patcher.string();
        return false;
    }
    s.algorithm = mw::kSignatureEd25519;
    s.signer = signer_;
    s.publicKey = rawPublicKey(key_->pkey);
    const std::vector<std::uint8_t> statement = mw::signatureStatement(s);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    std::size_t size = 64;
    s.signature.assign(size, 0);
    // Ed25519 signs the statement itself, deterministically: the same inputs give the same bytes.
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key_->pkey) != 1 ||
        EVP_DigestSign(ctx.get(), s.signature.data(), &size, statement.data(), statement.size()) != 1) {
        error = "signing failed";
        return false;
    }
    s.signature.resize(size);
    return true;
}

bool reportSignature(const fs::path& path, std::ostream& out) {
    win::rsrc::MappedFile file;
    win::rsrc::Table table;
    if (!file.open(path) || !win::rsrc::parseTable(file.bytes(), table)) return true;
    const mw::PatcherSignatureCheck check = mw::checkPatcherFile(file.bytes());
    // Other programs of ours carry tables too (Vireo's strings); only a patcher is said to be unsigned.
    const bool patcher = std::any_of(table.entries.begin(), table.entries.end(), [](const auto& e) {
        return win::rsrc::sameType(e, std::wstring(L"CONFIG"));
    });
    if (check.status == mw::PatcherSignatureCheck::notSigned && !patcher) return true;
    if (check.status == mw::PatcherSignatureCheck::notSigned) {
        out << "  signature:       none (the patcher runs with a warning, or not at all under a policy)\n";
        return true;
    }
    if (!check.fingerprint.empty()) {
        out << "  signer:          " << check.signer << '\n'
            << "  key fingerprint: " << check.fingerprint << '\n';
    }
    if (check.status == mw::PatcherSignatureCheck::holds) {
        out << "  signature:       holds (the program and " << check.proven.size() - 1
            << " resources match)\n";
        return true;
    }
    out << (check.signatureValid ? "  signature:       made by this key, but the file no longer matches it\n"
                                 : "  signature:       DOES NOT HOLD\n");
    for (const std::wstring& p : check.problems) out << "    " << win::toUtf8(p) << '\n';
    return false;
}

}  // namespace mwbuild

// Signing patchers: Ed25519 key pairs made with `keygen`, the SIGNATURE resource `assemble --sign` adds,
// and what `inspect` tells of a signed patcher.
#pragma once
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>

#include "mendwell/files/patcher_signature.h"

namespace mwbuild {

// Writes NAME.pem (the private key, PKCS#8, readable by its owner only) and NAME.pub.pem beside it and
// prints the key's fingerprint. Never replaces an existing key. False with a message in `err`.
bool generateKey(const std::string& name, std::ostream& out, std::ostream& err);

// A private Ed25519 key and the display name its signatures carry.
class SigningKey {
  public:
    SigningKey();
    ~SigningKey();
    // Reads a PEM private key; the signer's name defaults to the file's name without ".pem".
    bool load(const std::filesystem::path& pem, std::string signer, std::string& error);
    const std::string& signer() const { return signer_; }

    // Fills `s` for the patcher at `patcher`: its regions, the signer, the key and the signature.
    bool sign(const std::filesystem::path& patcher, mw::PatcherSignature& s, std::string& error) const;

  private:
    struct Key;
    std::unique_ptr<Key> key_;
    std::string signer_;
};

// Prints the signer and whether the signature holds, with what does not match; a line saying so for an
// unsigned patcher. Nothing for any other file. False when a signature does not hold.
bool reportSignature(const std::filesystem::path& file, std::ostream& out);

}  // namespace mwbuild

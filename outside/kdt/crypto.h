// The developer tool's cryptography, on OpenSSL: self-signed PKCS#12 certificates, CMS signatures over a
// package's digest list, RFC 3161 timestamps.
#pragma once
#include <memory>
#include <string>

namespace kdt {

std::string sha256Hex(const std::string& bytes);

struct CertificateRequest {
    std::string commonName, unit, organisation, country;
    int bits = 2048;
    std::string password;
};
// A new RSA key and a self-signed certificate for it, as a PKCS#12 file's bytes. False with `error`.
bool makeSelfSigned(const CertificateRequest& request, std::string& p12, std::string& error);

// The signer of a keystore. Load results follow the tool's exit codes.
class Signer {
  public:
    enum Load { loaded = 0, passwordWrong = 4, invalid = 8 };
    Signer();
    ~Signer();
    Load load(const std::string& p12, const std::string& password, std::string& error);
    // Detached CMS signature (DER) over `data`, with the certificate; with `tsaUrl` the signature value
    // is timestamped and the token added as an unsigned attribute. 0, or 9 (signing or timestamp
    // refused) / 10 (timestamp server unreachable) with `error`.
    int sign(const std::string& data, const std::string& tsaUrl, std::string& signature, std::string& error);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace kdt

#include "outside/kdt/crypto.h"

#include <openssl/bn.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/rand.h>
#include <openssl/ts.h>
#include <openssl/x509v3.h>

#include "outside/kdt/http_post.h"

namespace kdt {

namespace {

template <class T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
template <class T, void (*Free)(T*)>
using Owned = std::unique_ptr<T, Deleter<T, Free>>;

using Key = Owned<EVP_PKEY, EVP_PKEY_free>;
using Cert = Owned<X509, X509_free>;
using Bio = Owned<BIO, BIO_free_all>;
using Cms = Owned<CMS_ContentInfo, CMS_ContentInfo_free>;
using P12 = Owned<PKCS12, PKCS12_free>;
using TsReq = Owned<TS_REQ, TS_REQ_free>;
using TsResp = Owned<TS_RESP, TS_RESP_free>;
using TsVerify = Owned<TS_VERIFY_CTX, TS_VERIFY_CTX_free>;
using Integer = Owned<ASN1_INTEGER, ASN1_INTEGER_free>;
using MsgImprint = Owned<TS_MSG_IMPRINT, TS_MSG_IMPRINT_free>;
using Algor = Owned<X509_ALGOR, X509_ALGOR_free>;
using Number = Owned<BIGNUM, BN_free>;

constexpr long kValiditySeconds = 5L * 365 * 24 * 3600;  // five years, as the runtime's tool gives

std::string sha256(const std::string& bytes) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(bytes.data(), bytes.size(), md, &len, EVP_sha256(), nullptr);
    return std::string(reinterpret_cast<char*>(md), len);
}

template <class T, int (*Encode)(const T*, unsigned char**)>
std::string der(const T* object) {
    unsigned char* out = nullptr;
    const int len = Encode(object, &out);
    if (len <= 0) return {};
    std::string bytes(reinterpret_cast<char*>(out), static_cast<std::size_t>(len));
    OPENSSL_free(out);
    return bytes;
}

bool addExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext) return false;
    const bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

bool randomSerial(ASN1_INTEGER* serial) {
    Number bn(BN_new());
    return bn && BN_rand(bn.get(), 63, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1 &&
           BN_to_ASN1_INTEGER(bn.get(), serial) != nullptr;
}

}  // namespace

std::string sha256Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : sha256(bytes)) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

bool makeSelfSigned(const CertificateRequest& r, std::string& p12, std::string& error) {
    Key key(EVP_RSA_gen(static_cast<unsigned>(r.bits)));
    Cert cert(X509_new());
    if (!key || !cert) {
        error = "error: cannot generate a key";
        return false;
    }
    X509_NAME* name = X509_get_subject_name(cert.get());
    const std::pair<const char*, const std::string*> parts[] = {
        {"CN", &r.commonName}, {"OU", &r.unit}, {"O", &r.organisation}, {"C", &r.country}};
    for (const auto& [field, value] : parts) {
        if (X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                                       reinterpret_cast<const unsigned char*>(value->c_str()), -1, -1,
                                       0) != 1) {
            error = std::string("error: invalid value for ") + field + ": " + *value;
            return false;
        }
    }
    const bool ok = X509_set_version(cert.get(), 2) == 1 && randomSerial(X509_get_serialNumber(cert.get())) &&
                    X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0) &&
                    X509_gmtime_adj(X509_getm_notAfter(cert.get()), kValiditySeconds) &&
                    X509_set_issuer_name(cert.get(), name) == 1 &&
                    X509_set_pubkey(cert.get(), key.get()) == 1 &&
                    addExtension(cert.get(), NID_key_usage, "critical,digitalSignature,keyCertSign") &&
                    addExtension(cert.get(), NID_subject_key_identifier, "hash") &&
                    X509_sign(cert.get(), key.get(), EVP_sha256()) > 0;
    if (!ok) {
        error = "error: cannot make the certificate";
        return false;
    }
    P12 store(PKCS12_create(r.password.c_str(), r.commonName.c_str(), key.get(), cert.get(), nullptr, 0, 0, 0,
                            0, 0));
    if (!store) {
        error = "error: cannot make the keystore";
        return false;
    }
    p12 = der<PKCS12, i2d_PKCS12>(store.get());
    return !p12.empty();
}

struct Signer::State {
    Key key;
    Cert cert;
};

Signer::Signer() : state_(std::make_unique<State>()) {}
Signer::~Signer() = default;

Signer::Load Signer::load(const std::string& bytes, const std::string& password, std::string& error) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    P12 store(d2i_PKCS12(nullptr, &p, static_cast<long>(bytes.size())));
    if (!store) {
        error = "error: the keystore is not a PKCS12 file";
        return invalid;
    }
    if (PKCS12_mac_present(store.get()) && PKCS12_verify_mac(store.get(), password.c_str(), -1) != 1) {
        error = "error: could not load keystore file (password may be incorrect)";
        return passwordWrong;
    }
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    STACK_OF(X509)* chain = nullptr;
    if (PKCS12_parse(store.get(), password.c_str(), &key, &cert, &chain) != 1) {
        error = "error: could not load keystore file (password may be incorrect)";
        return passwordWrong;
    }
    sk_X509_pop_free(chain, X509_free);
    state_->key.reset(key);
    state_->cert.reset(cert);
    if (!key || !cert || X509_check_private_key(cert, key) != 1) {
        error = "error: the keystore holds no private key with its certificate";
        return invalid;
    }
    if (X509_cmp_current_time(X509_get0_notBefore(cert)) > 0) {
        error = "error: the certificate is not yet valid";
        return invalid;
    }
    if (X509_cmp_current_time(X509_get0_notAfter(cert)) < 0) {
        error = "error: the certificate has expired";
        return invalid;
    }
    return loaded;
}

int Signer::sign(const std::string& data, const std::string& tsaUrl, std::string& signature,
                 std::string& error) {
    Bio in(BIO_new_mem_buf(data.data(), static_cast<int>(data.size())));
    Cms cms(in ? CMS_sign(state_->cert.get(), state_->key.get(), nullptr, in.get(), CMS_DETACHED | CMS_BINARY)
               : nullptr);
    if (!cms) {
        error = "error: the package could not be signed";
        return 9;
    }
    if (!tsaUrl.empty()) {
        CMS_SignerInfo* si = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms.get()), 0);
        const ASN1_OCTET_STRING* value = CMS_SignerInfo_get0_signature(si);
        const std::string digest =
            sha256(std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)),
                               static_cast<std::size_t>(ASN1_STRING_length(value))));
        // RFC 3161 request over the signature value, with a nonce, asking for the server's certificate.
        TsReq req(TS_REQ_new());
        MsgImprint imprint(TS_MSG_IMPRINT_new());
        Algor algorithm(X509_ALGOR_new());
        Integer nonce(ASN1_INTEGER_new());
        if (!req || !imprint || !algorithm || !nonce ||
            X509_ALGOR_set0(algorithm.get(), OBJ_nid2obj(NID_sha256), V_ASN1_NULL, nullptr) != 1 ||
            TS_MSG_IMPRINT_set_algo(imprint.get(), algorithm.get()) != 1 ||
            TS_MSG_IMPRINT_set_msg(imprint.get(),
                                   reinterpret_cast<unsigned char*>(const_cast<char*>(digest.data())),
                                   static_cast<int>(digest.size())) != 1 ||
            TS_REQ_set_version(req.get(), 1) != 1 || TS_REQ_set_msg_imprint(req.get(), imprint.get()) != 1 ||
            !randomSerial(nonce.get()) || TS_REQ_set_nonce(req.get(), nonce.get()) != 1 ||
            TS_REQ_set_cert_req(req.get(), 1) != 1) {
            error = "error: cannot build the timestamp request";
            return 9;
        }
        int status = 0;
        std::string answer;
        switch (httpPost(tsaUrl, "application/timestamp-query", der<TS_REQ, i2d_TS_REQ>(req.get()), status,
                         answer, error)) {
            case HttpResult::unreachable:
                error = "error: could not connect to the timestamp server: " + error;
                return 10;
            case HttpResult::badAnswer:
                error = "error: the timestamp server answered: " + error;
                return 9;
            case HttpResult::ok:
                break;
        }
        const auto* p = reinterpret_cast<const unsigned char*>(answer.data());
        TsResp resp(status == 200 ? d2i_TS_RESP(nullptr, &p, static_cast<long>(answer.size())) : nullptr);
        if (!resp) {
            error = "error: the timestamp server gave no timestamp (HTTP " + std::to_string(status) + ")";
            return 9;
        }
        // The answer must be granted and be for this request: imprint, nonce and version.
        TsVerify verify(TS_REQ_to_TS_VERIFY_CTX(req.get(), nullptr));
        if (!verify || TS_RESP_verify_response(verify.get(), resp.get()) != 1) {
            error = "error: the timestamp server refused the request or answered another one";
            return 9;
        }
        const std::string token = der<PKCS7, i2d_PKCS7>(TS_RESP_get_token(resp.get()));
        if (token.empty() ||
            CMS_unsigned_add1_attr_by_NID(si, NID_id_smime_aa_timeStampToken, V_ASN1_SEQUENCE, token.data(),
                                          static_cast<int>(token.size())) != 1) {
            error = "error: the timestamp could not be added to the signature";
            return 9;
        }
    }
    signature = der<CMS_ContentInfo, i2d_CMS_ContentInfo>(cms.get());
    if (signature.empty()) {
        error = "error: the package could not be signed";
        return 9;
    }
    return 0;
}

}  // namespace kdt

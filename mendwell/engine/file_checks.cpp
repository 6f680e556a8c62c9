// Interim: MD5 through libcrypto and no version information, until the versioners and checksum code of
// their own branch join; then these three calls forward to md5Text, getFileVersion and compareVersions.
#include "mendwell/engine/file_checks.h"

#include <openssl/evp.h>

#include <vector>

#include "mendwell/engine/file_operation.h"
#include "platform/fs/file.h"

namespace mw {

std::wstring fileMd5Text(const std::wstring& path) {
    win::File file;
    if (!file.open(path, win::access::read, win::share::read, win::Disposition::openExisting)) return {};
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_md5(), nullptr);
    std::vector<unsigned char> block(1000000);
    std::size_t got = 0;
    bool ok = true;
    while ((ok = file.read(block.data(), block.size(), got)) && got > 0) EVP_DigestUpdate(ctx, block.data(), got);
    unsigned char digest[16];
    unsigned int length = 0;
    EVP_DigestFinal_ex(ctx, digest, &length);
    EVP_MD_CTX_free(ctx);
    if (!ok) return {};
    static const wchar_t hex[] = L"0123456789abcdef";
    std::wstring text;
    for (unsigned int i = 0; i < length; ++i) {
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 15];
    }
    return text;
}

bool fileVersionKind(const std::wstring&, int& kind) {
    kind = kNoFileKind;
    return false;
}

bool compareFileVersions(const std::wstring&, const std::wstring&, int& answer, int& firstKind) {
    answer = 0;
    firstKind = kNoFileKind;
    return true;
}

}  // namespace mw

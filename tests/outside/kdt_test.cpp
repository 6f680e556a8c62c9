// The developer tool stand-in, run as the extension runs it: from a Windows command line, at the
// authoring tool's "JVM\bin\java.exe" on a test machine.
#include <gtest/gtest.h>
#include <minizip/unzip.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/ts.h>
#include <zlib.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "outside/kdt/descriptor.h"
#include "platform/fs/file.h"
#include "platform/process/process.h"
#include "platform/text/text.h"
#include "tests/outside/tsa_server.h"
#include "tests/support/testmachine.h"

namespace {

using testing_support::TestMachine;

constexpr const wchar_t* kTool = L"\"C:/Lumen/JVM/bin/java.exe\" -jar \"C:/Lumen/KIK/lib/KDT.jar\" ";

struct ToolRun {
    win::DWORD exitCode = 0;
    std::string output;
};

ToolRun run(const std::wstring& arguments) {
    win::ChildProcess child;
    win::ChildOptions options;
    options.captureOutput = true;
    ToolRun r;
    if (!child.start(kTool + arguments, options) || !child.wait(60000) || !child.exitCode(r.exitCode)) {
        ADD_FAILURE() << "kdt did not run: " << win::lastError();
    }
    r.output = child.output();
    return r;
}

bool has(const std::string& text, const std::string& what) {
    return text.find(what) != std::string::npos;
}

std::string chunk(const char* type, const std::string& data) {
    auto be = [](std::uint32_t v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                           static_cast<char>(v)};
    };
    const std::string body = type + data;
    return be(static_cast<std::uint32_t>(data.size())) + body +
           be(static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size())));
}

// A real PNG image, `w` by `h`, RGBA, all transparent.
std::string png(unsigned w, unsigned h) {
    std::string ihdr;
    for (unsigned v : {w, h}) ihdr += std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    ihdr += std::string("\x08\x06\x00\x00\x00", 5);
    const std::string raw(static_cast<std::size_t>(h) * (1 + 4 * w), '\0');
    uLongf size = compressBound(raw.size());
    std::string packed(size, '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
             raw.size());
    packed.resize(size);
    return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) + chunk("IDAT", packed) +
           chunk("IEND", "");
}

const std::string kDescriptor =
    "<?xml version =\"1.0\" encoding=\"utf-8\" ?><application "
    "xmlns=\"http://ns.orvex.com/kite/application/1.0\">"
    "<id>com.orvex.example.My-Movie</id><version>1.0</version><filename>My Movie</filename>"
    "<name>My Movie</name><initialWindow><content>My&#37;20Movie.lmv</content><systemChrome>standard"
    "</systemChrome><transparent>false</transparent><visible>true</visible></initialWindow>"
    "<icon><image32x32>icons/i32.png</image32x32><image16x16>icons/i16.png</image16x16></icon>"
    "<customUpdateUI>false</customUpdateUI><allowBrowserInvocation>false</allowBrowserInvocation></"
    "application>";

const std::wstring kFiles =
    L"\"C:/Movies/My Movie-app.xml\" -C \"C:/Movies/\" \"My Movie.lmv\" \"icons/i32.png\" \"icons/i16.png\" ";

using Entries = std::map<std::string, std::string>;

Entries readPackage(const std::filesystem::path& file) {
    Entries out;
    unzFile zip = unzOpen64(file.c_str());
    if (!zip) return out;
    for (int rc = unzGoToFirstFile(zip); rc == UNZ_OK; rc = unzGoToNextFile(zip)) {
        char name[512];
        unz_file_info64 info{};
        unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0);
        std::string data(info.uncompressed_size, '\0');
        if (unzOpenCurrentFile(zip) != UNZ_OK ||
            unzReadCurrentFile(zip, data.data(), static_cast<unsigned>(data.size())) !=
                static_cast<int>(data.size()) ||
            unzCloseCurrentFile(zip) != UNZ_OK) {
            out.clear();  // a damaged entry (its CRC is checked on close) spoils the package
            break;
        }
        out[name] = data;
    }
    unzClose(zip);
    return out;
}

std::string sha256Hex(const std::string& bytes) {
    unsigned char md[32];
    unsigned len = 0;
    EVP_Digest(bytes.data(), bytes.size(), md, &len, EVP_sha256(), nullptr);
    char hex[65];
    for (unsigned i = 0; i < len; ++i) std::snprintf(hex + 2 * i, 3, "%02x", md[i]);
    return std::string(hex, 64);
}

// Empty when every entry's digest is listed and the list's CMS signature verifies against `trusted`.
std::string verify(const Entries& entries, X509* trusted) {
    const auto digests = entries.find("META-INF/digests.txt");
    const auto signature = entries.find("META-INF/signature.p7s");
    if (digests == entries.end() || signature == entries.end()) return "unsigned";
    std::string expected;
    std::map<std::string, std::string> listed;
    for (const auto& [name, data] : entries) {
        if (name != digests->first && name != signature->first) listed[name] = sha256Hex(data);
    }
    std::size_t lines = 0;
    for (std::size_t at = 0; at < digests->second.size(); ++lines) {
        const auto end = digests->second.find('\n', at);
        const std::string line = digests->second.substr(at, end - at);
        at = end + 1;
        const auto it = listed.find(line.substr(65));
        if (it == listed.end() || it->second != line.substr(0, 64)) return "digest of " + line.substr(65);
    }
    if (lines != listed.size()) return "entries missing from the list";
    const auto* p = reinterpret_cast<const unsigned char*>(signature->second.data());
    CMS_ContentInfo* cms = d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(signature->second.size()));
    X509_STORE* store = X509_STORE_new();
    X509_STORE_add_cert(store, trusted);
    BIO* content = BIO_new_mem_buf(digests->second.data(), static_cast<int>(digests->second.size()));
    const bool ok = cms && CMS_verify(cms, nullptr, store, content, nullptr, CMS_BINARY) == 1;
    BIO_free(content);
    X509_STORE_free(store);
    CMS_ContentInfo_free(cms);
    return ok ? "" : "signature";
}

X509* certificateOf(const std::string& p12, const std::string& password) {
    const auto* p = reinterpret_cast<const unsigned char*>(p12.data());
    PKCS12* store = d2i_PKCS12(nullptr, &p, static_cast<long>(p12.size()));
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    if (store) PKCS12_parse(store, password.c_str(), &key, &cert, nullptr);
    PKCS12_free(store);
    EVP_PKEY_free(key);
    return cert;
}

class Kdt : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto java = machine.host(L"C:\\Lumen\\JVM\\bin\\java.exe");
        std::filesystem::create_directories(java.parent_path());
        std::filesystem::copy_file(testing_support::binDir() / "kdt", java,
                                   std::filesystem::copy_options::skip_existing);
        machine.writeFile(L"C:\\Movies\\My Movie.lmv", "LMV movie bytes");
        machine.writeFile(L"C:\\Movies\\My Movie-app.xml", kDescriptor);
        machine.writeFile(L"C:\\Movies\\icons\\i32.png", png(32, 32));
        machine.writeFile(L"C:\\Movies\\icons\\i16.png", png(16, 16));
        std::filesystem::create_directories(machine.host(L"C:\\out"));
        std::filesystem::create_directories(machine.host(L"C:\\certs"));
    }

    // A certificate made by the tool itself, as the self-signed certificate dialog makes it; the
    // password as it stands between quotes on the command line.
    void makeCertificate(const std::wstring& file, const std::wstring& password) {
        const ToolRun r =
            run(L"-certificate -cn \"Dana Publisher\" -ou \"Apps\" -o \"Orvex\" -c \"US\" 2048-RSA \"" +
                file + L"\" \"" + password + L"\"");
        ASSERT_EQ(r.exitCode, 0u) << r.output;
        ASSERT_EQ(r.output, "");
    }

    ToolRun package(const std::wstring& keystore, const std::wstring& password, const std::wstring& tsa,
                    const std::wstring& out = L"C:/out/app.kite") {
        return run(L" -package -storetype PKCS12 -keystore \"" + keystore + L"\" -storepass \"" + password +
                   L"\"  -tsa " + tsa + L" \"" + out + L"\" " + kFiles);
    }

    // The same checks hold for unsigned packages, without the cost of a keystore.
    ToolRun prepare(const std::wstring& out = L"C:/out/app.kitei") {
        return run(L" -prepare \"" + out + L"\" " + kFiles);
    }

    TestMachine machine;
};

TEST_F(Kdt, SignedPackageVerifiesWithItsCertificateAndNotOnceChanged) {
    makeCertificate(L"C:\\certs\\me.p12", L"se\\\"cret");  // a quote, escaped by the command-line rules
    ToolRun r = package(L"C:/certs/me.p12", L"se\\\"cret", L"none");
    ASSERT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_EQ(r.output, "");
    Entries entries = readPackage(machine.host(L"C:\\out\\app.kite"));
    EXPECT_EQ(entries["mimetype"], "application/vnd.orvex.kite-package+zip");
    EXPECT_EQ(entries["META-INF/KITE/application.xml"], kDescriptor);
    EXPECT_EQ(entries["My Movie.lmv"], "LMV movie bytes");
    EXPECT_EQ(entries["icons/i16.png"], png(16, 16));

    X509* cert = certificateOf(machine.readFile(L"C:\\certs\\me.p12"), "se\"cret");
    ASSERT_NE(cert, nullptr);
    EXPECT_EQ(verify(entries, cert), "");
    // A changed byte of content no longer matches its digest; a list changed to match it no longer
    // matches the signature; a changed byte in the file spoils the archive.
    Entries changed = entries;
    changed["My Movie.lmv"][0] ^= 1;
    EXPECT_EQ(verify(changed, cert), "digest of My Movie.lmv");
    changed["META-INF/digests.txt"] = std::string();
    for (const auto& [name, data] : changed) {
        if (name.rfind("META-INF/digests", 0) != 0 && name != "META-INF/signature.p7s")
            changed["META-INF/digests.txt"] += sha256Hex(data) + " " + name + "\n";
    }
    EXPECT_EQ(verify(changed, cert), "signature");
    std::string bytes = machine.readFile(L"C:\\out\\app.kite");
    bytes[bytes.find("META-INF/digests.txt") - 40] ^= 0x10;
    machine.writeFile(L"C:\\out\\bad.kite", bytes);
    EXPECT_NE(verify(readPackage(machine.host(L"C:\\out\\bad.kite")), cert), "");
    // Another certificate is not the signer.
    makeCertificate(L"C:\\certs\\other.p12", L"x");
    X509* other = certificateOf(machine.readFile(L"C:\\certs\\other.p12"), "x");
    EXPECT_EQ(verify(entries, other), "signature");
    X509_free(other);
    X509_free(cert);
}

TEST_F(Kdt, TimestampFromAnAuthorityAndExitTenWithoutOne) {
    makeCertificate(L"C:\\certs\\me.p12", L"pw");
    kdt_test::TsaServer tsa;
    ASSERT_TRUE(tsa.ok());
    ToolRun r = package(L"C:/certs/me.p12", L"pw", win::fromUtf8(tsa.url()));
    ASSERT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_EQ(tsa.requests(), 1);
    Entries entries = readPackage(machine.host(L"C:\\out\\app.kite"));
    X509* cert = certificateOf(machine.readFile(L"C:\\certs\\me.p12"), "pw");
    EXPECT_EQ(verify(entries, cert), "");
    X509_free(cert);

    // The token is the authority's, over this signature's value.
    const std::string& der = entries["META-INF/signature.p7s"];
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    CMS_ContentInfo* cms = d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(der.size()));
    ASSERT_NE(cms, nullptr);
    CMS_SignerInfo* si = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms), 0);
    const int at = CMS_unsigned_get_attr_by_NID(si, NID_id_smime_aa_timeStampToken, -1);
    ASSERT_GE(at, 0);
    const ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(CMS_unsigned_get_attr(si, at), 0);
    const unsigned char* tp = value->value.sequence->data;
    PKCS7* token = d2i_PKCS7(nullptr, &tp, value->value.sequence->length);
    ASSERT_NE(token, nullptr);
    const ASN1_OCTET_STRING* sig = CMS_SignerInfo_get0_signature(si);
    unsigned char* imprint = static_cast<unsigned char*>(OPENSSL_malloc(32));
    unsigned len = 0;
    EVP_Digest(ASN1_STRING_get0_data(sig), static_cast<std::size_t>(ASN1_STRING_length(sig)), imprint, &len,
               EVP_sha256(), nullptr);
    TS_VERIFY_CTX* ctx = TS_VERIFY_CTX_new();
    TS_VERIFY_CTX_set_flags(ctx, TS_VFY_VERSION | TS_VFY_SIGNATURE | TS_VFY_IMPRINT);
    TS_VERIFY_CTX_set_imprint(ctx, imprint, len);
    X509_STORE* store = X509_STORE_new();
    X509_STORE_add_cert(store, tsa.certificate());
    TS_VERIFY_CTX_set_store(ctx, store);
    EXPECT_EQ(TS_RESP_verify_token(ctx, token), 1);
    TS_VERIFY_CTX_free(ctx);
    PKCS7_free(token);
    CMS_ContentInfo_free(cms);

    std::filesystem::remove(machine.host(L"C:\\out\\app.kite"));
    r = package(L"C:/certs/me.p12", L"pw", win::fromUtf8(kdt_test::unreachableUrl()));
    EXPECT_EQ(r.exitCode, 10u) << r.output;
    EXPECT_FALSE(machine.exists(L"C:\\out\\app.kite"));
}

TEST_F(Kdt, KeystoreFailuresHaveTheirExitCodes) {
    makeCertificate(L"C:\\certs\\me.p12", L"right");
    machine.writeFile(L"C:\\certs\\junk.p12", "not a keystore");
    const struct {
        const wchar_t* keystore;
        const wchar_t* password;
        win::DWORD exitCode;
        const char* output;
    } rows[] = {
        {L"C:/certs/me.p12", L"wrong", 4, "password may be incorrect"},
        {L"C:/certs/none.p12", L"right", 7, "cannot be opened"},
        {L"C:/certs/junk.p12", L"right", 8, "not a PKCS12"},
    };
    for (const auto& row : rows) {
        const ToolRun r = package(row.keystore, row.password, L"none");
        EXPECT_EQ(r.exitCode, row.exitCode) << r.output;
        EXPECT_TRUE(has(r.output, row.output)) << r.output;
    }
    EXPECT_FALSE(machine.exists(L"C:\\out\\app.kite"));
}

TEST(KdtDescriptor, ChecksAnswerWithTheirErrorNumbers) {
    const std::string ns = "http://ns.orvex.com/kite/application/1.0";
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string d = kDescriptor;
        d.replace(d.find(from), from.size(), to);
        return d;
    };
    const struct {
        std::string descriptor;
        std::string output;  // the start of the error line
    } rows[] = {
        {replaced("</name>", "</nam>"), "error 100: "},
        {replaced(" xmlns=\"" + ns + "\"", ""), "error 101: "},
        {replaced(ns, ns + ".M6"), "error 102: "},
        {replaced("<name>", "<colour/><name>"), "error 103: "},
        {replaced("<id>com.orvex.example.My-Movie</id>", ""), "error 104: "},
        {replaced("My-Movie</id>", "My_Movie</id>"), "error 105: application.id contains"},
        {replaced("<transparent>false", "<transparent>true"), "error 106: "},
        {replaced("<visible>", "<minSize>800 600</minSize><maxSize>640 480</maxSize><visible>"),
         "error 107: "},
        {replaced("</icon>",
                  "</icon><fileTypes><fileType><name>Doc</name><extension>kdoc</extension><icon>"
                  "<image16x16>icons/i16.png</image16x16></icon></fileType></fileTypes>"),
         ""},
    };
    for (const auto& row : rows) {
        kdt::Descriptor d;
        std::string message;
        EXPECT_EQ(kdt::checkDescriptor(row.descriptor, d, message) != 0, !row.output.empty())
            << row.descriptor;
        EXPECT_EQ(message.substr(0, row.output.size()), row.output) << row.descriptor;
    }
    kdt::Descriptor d;
    std::string message;
    ASSERT_EQ(kdt::checkDescriptor(kDescriptor, d, message), 0) << message;
    EXPECT_EQ(d.content, "My Movie.lmv");
    ASSERT_EQ(d.icons.size(), 2u);
    EXPECT_EQ(d.icons[0].path, "icons/i32.png");
}

TEST_F(Kdt, PackageChecksAnswerWithTheirErrorNumbers) {
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string d = kDescriptor;
        d.replace(d.find(from), from.size(), to);
        return d;
    };
    const struct {
        const char* what;
        std::string descriptor;  // empty: the descriptor file is removed
        std::function<void(TestMachine&)> change;
        win::DWORD exitCode;
        std::string output;  // the start of the output
    } rows[] = {
        {"a descriptor error", replaced("</name>", "</nam>"), nullptr, 1, "error 100: "},
        {"no descriptor", "", nullptr, 1, "error 301: "},
        {"root content not packed", replaced("My&#37;20Movie.lmv", "Other.lmv"), nullptr, 1, "error 302: "},
        {"icon not packed", replaced("icons/i16.png</image16", "icons/gone.png</image16"), nullptr, 1,
         "error 303: "},
        {"icon not a PNG", kDescriptor,
         [](TestMachine& m) { m.writeFile(L"C:\\Movies\\icons\\i32.png", "GIF89a"); }, 1, "error 202: "},
        {"icon of the wrong size", kDescriptor,
         [](TestMachine& m) { m.writeFile(L"C:\\Movies\\icons\\i32.png", png(16, 16)); }, 1, "error 201: "},
        {"content file missing", kDescriptor,
         [](TestMachine& m) { std::filesystem::remove(m.host(L"C:\\Movies\\My Movie.lmv")); }, 2,
         "no such file C:/Movies/My Movie.lmv\r\nusage:"},
    };
    for (const auto& row : rows) {
        SetUp();
        if (row.descriptor.empty())
            std::filesystem::remove(machine.host(L"C:\\Movies\\My Movie-app.xml"));
        else
            machine.writeFile(L"C:\\Movies\\My Movie-app.xml", row.descriptor);
        if (row.change) row.change(machine);
        const ToolRun r = prepare();
        EXPECT_EQ(r.exitCode, row.exitCode) << row.what << ": " << r.output;
        // Errors come after the name of the file they are about, never at the first character.
        const std::string named =
            row.exitCode == 1 ? "C:/Movies/My Movie-app.xml: " + row.output : row.output;
        EXPECT_EQ(r.output.substr(0, named.size()), named) << row.what;
        EXPECT_FALSE(machine.exists(L"C:\\out\\app.kitei")) << row.what;
    }
    // A file held open without read sharing cannot be packed: error 300 (error 200 for an icon).
    SetUp();
    win::File held;
    ASSERT_TRUE(
        held.open(L"C:\\Movies\\icons\\i16.png", win::access::read, 0, win::Disposition::openExisting));
    EXPECT_TRUE(has(prepare().output, "i16.png: error 200:"));
    held.close();
    ASSERT_TRUE(held.open(L"C:\\Movies\\My Movie.lmv", win::access::read, 0, win::Disposition::openExisting));
    EXPECT_TRUE(has(prepare().output, "My Movie.lmv: error 300:"));
    held.close();
    const ToolRun r = prepare(L"C:/missing/app.kitei");
    EXPECT_EQ(r.exitCode, 6u) << r.output;
}

TEST_F(Kdt, PrepareMakesAnUnsignedPackageAndCertificatesCheckTheirArguments) {
    ToolRun r = run(L" -prepare \"C:/out/app.kitei\" " + kFiles);
    ASSERT_EQ(r.exitCode, 0u) << r.output;
    Entries entries = readPackage(machine.host(L"C:\\out\\app.kitei"));
    EXPECT_EQ(entries.count("META-INF/signature.p7s"), 0u);
    EXPECT_EQ(entries["My Movie.lmv"], "LMV movie bytes");
    EXPECT_EQ(verify(entries, nullptr), "unsigned");

    const struct {
        const wchar_t* arguments;
        const char* output;
    } rows[] = {
        {L"-cn \"A\" -ou \"B\" -o \"C\" -c \"USA\" 2048-RSA \"C:/c.p12\" \"pw\"", "two-letter"},
        {L"-cn \"A\" -ou \"B\" -o \"C\" -c \"US\" 512-RSA \"C:/c.p12\" \"pw\"", "1024-RSA or 2048-RSA"},
        {L"-cn \"A\" -ou \"B\" -o \"C\" -c \"US\" 1024-RSA \"C:/nowhere/c.p12\" \"pw\"", "cannot write"},
    };
    for (const auto& row : rows) {
        r = run(L"-certificate " + std::wstring(row.arguments));
        EXPECT_NE(r.exitCode, 0u) << r.output;
        EXPECT_TRUE(has(r.output, row.output)) << r.output;
    }
    EXPECT_EQ(run(L"-certificate -cn \"A\" -ou \"B\" -o \"C\" -c \"US\" 1024-RSA \"C:/c.p12\" \"pw\"").output,
              "");
    X509* cert = certificateOf(machine.readFile(L"C:\\c.p12"), "pw");
    ASSERT_NE(cert, nullptr);
    EXPECT_EQ(EVP_PKEY_get_bits(X509_get0_pubkey(cert)), 1024);
    X509_free(cert);
}

}  // namespace

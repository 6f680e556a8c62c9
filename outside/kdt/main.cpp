// kdt: the runtime's developer tool, as the authoring tool's extension runs it
// ("JVM\bin\java.exe" -jar "KIK\lib\KDT.jar" ...). It makes signed (.kite) and unsigned (.kitei)
// packages and self-signed certificates. Exit codes and "error NNN" lines are in docs/formats.md.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "outside/kdt/crypto.h"
#include "outside/kdt/descriptor.h"
#include "outside/kdt/package.h"
#include "outside/kdt/png.h"
#include "platform/fs/file.h"
#include "platform/fs/path.h"
#include "platform/process/process.h"
#include "platform/text/text.h"

namespace {

enum Exit {
    kOk = 0,
    kPackageError = 1,  // "error NNN": descriptor, content, icons
    kUsage = 2,
    kKeystoreLoad = 4,  // "password may be incorrect"
    kUnexpected = 5,
    kCannotWrite = 6,
    kKeystoreAccess = 7,
    kCertificateInvalid = 8,
    kSigning = 9,
    kTimestampUnreachable = 10,
};

const char* const kUsageText =
    "usage: kdt -package -storetype PKCS12 -keystore <file> -storepass <password> -tsa none|<url> "
    "<kite-file> "
    "<app-desc> <fileOrDir>... [-C <dir> <fileOrDir>...]...\r\n"
    "       kdt -prepare <kitei-file> <app-desc> <fileOrDir>... [-C <dir> <fileOrDir>...]...\r\n"
    "       kdt -certificate -cn <name> [-ou <unit>] [-o <organisation>] [-c <country>] 1024-RSA|2048-RSA "
    "<p12-file> <password>\r\n";

// The runtime's tool prints lines the Windows way.
int say(int code, const std::string& text) {
    std::fputs((text + "\r\n").c_str(), stdout);
    std::fflush(stdout);
    return code;
}

int usage(const std::string& why = {}) {
    std::fputs(((why.empty() ? std::string() : why + "\r\n") + kUsageText).c_str(), stdout);
    std::fflush(stdout);
    return kUsage;
}

std::string utf8(const std::wstring& s) {
    return win::toUtf8(s);
}

bool isAbsolute(const std::wstring& path) {
    return (path.size() >= 2 && path[1] == L':') || (!path.empty() && (path[0] == L'\\' || path[0] == L'/'));
}

struct Source {
    std::string entry;  // package name
    std::wstring path;  // Windows path on the machine
};

// A file or, recursively, a folder's files under the name `entry`.
bool addSource(const std::wstring& path, const std::string& entry, std::vector<Source>& out) {
    const win::DWORD attributes = win::getFileAttributes(path);
    if (attributes == win::attr::invalid) return false;
    if (!(attributes & win::attr::directory)) {
        out.push_back({entry, path});
        return true;
    }
    win::FindFile find;
    win::FindData data;
    if (!find.first(win::combine(path, L"*"), data)) return true;
    do {
        if (data.name == L"." || data.name == L"..") continue;
        if (!addSource(win::combine(path, data.name), entry + "/" + utf8(data.name), out)) return false;
    } while (find.next(data));
    return true;
}

// "-C DIR" sets the folder for the names that follow, until the next "-C".
int collectSources(const std::vector<std::wstring>& args, std::size_t from, std::vector<Source>& out) {
    std::wstring base = win::currentDirectory();
    for (std::size_t i = from; i < args.size(); ++i) {
        if (args[i] == L"-C") {
            if (i + 1 >= args.size()) return usage("-C needs a folder");
            base = args[++i];
            continue;
        }
        std::wstring name = args[i];
        for (wchar_t& c : name)
            if (c == L'\\') c = L'/';
        std::wstring path = args[i];
        if (!isAbsolute(args[i])) {
            path = base;
            if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
            path += args[i];
        }
        std::string entry = utf8(isAbsolute(args[i]) ? win::fileNamePart(args[i]) : name);
        while (entry.rfind("./", 0) == 0) entry.erase(0, 2);
        if (!addSource(path, entry, out)) return usage("no such file " + utf8(path));
    }
    return kOk;
}

int makePackage(const std::vector<std::wstring>& args, bool sign) {
    std::wstring keystore, password, tsa = L"none";
    std::size_t i = 2;
    if (sign) {
        std::wstring storetype;
        for (; i + 1 < args.size() && args[i].size() > 1 && args[i][0] == L'-'; i += 2) {
            if (args[i] == L"-storetype")
                storetype = args[i + 1];
            else if (args[i] == L"-keystore")
                keystore = args[i + 1];
            else if (args[i] == L"-storepass")
                password = args[i + 1];
            else if (args[i] == L"-tsa")
                tsa = args[i + 1];
            else
                return usage("unknown option " + utf8(args[i]));
        }
        if (!win::iequals(storetype, L"PKCS12")) return usage("-storetype must be PKCS12");
        if (keystore.empty()) return usage("-keystore is missing");
    }
    if (i + 2 > args.size()) return usage();
    const std::wstring output = args[i];
    const std::wstring descriptorPath = args[i + 1];
    std::vector<Source> sources;
    if (int rc = collectSources(args, i + 2, sources)) return rc;

    // Errors name the file they are about first, as the runtime's tool prints them.
    const std::string where = utf8(descriptorPath) + ": ";
    std::string xml;
    if (!win::readFile(descriptorPath, xml))
        return say(kPackageError, where + "error 301: application descriptor cannot be opened");
    kdt::Descriptor descriptor;
    std::string message;
    if (kdt::checkDescriptor(xml, descriptor, message) != 0) return say(kPackageError, where + message);

    std::set<std::string> names;
    std::vector<kdt::Entry> entries{{"mimetype", kdt::kMimeType}, {kdt::kDescriptorEntry, xml}};
    std::set<std::string> iconNames;
    for (const auto& icon : descriptor.icons) iconNames.insert(icon.path);
    for (const Source& s : sources) {
        if (!names.insert(s.entry).second) continue;  // named twice: packed once
        kdt::Entry e{s.entry, {}};
        if (!win::readFile(s.path, e.data)) {
            return say(kPackageError,
                       utf8(s.path) +
                           (iconNames.count(s.entry) ? ": error 200: icon file" : ": error 300: file") +
                           " cannot be opened");
        }
        entries.push_back(std::move(e));
    }
    if (!names.count(descriptor.content))
        return say(kPackageError,
                   where + "error 302: root content " + descriptor.content + " is not in the package");
    for (const auto& icon : descriptor.icons) {
        const auto found = std::find_if(entries.begin(), entries.end(),
                                        [&](const kdt::Entry& e) { return e.name == icon.path; });
        if (found == entries.end())
            return say(kPackageError, where + "error 303: icon " + icon.path + " is not in the package");
        unsigned width = 0, height = 0;
        if (!kdt::pngSize(found->data, width, height))
            return say(kPackageError, where + "error 202: icon " + icon.path + " is not a PNG file");
        if (width != static_cast<unsigned>(icon.size) || height != static_cast<unsigned>(icon.size)) {
            return say(kPackageError, where + "error 201: icon " + icon.path + " is " +
                                          std::to_string(width) + "x" + std::to_string(height) + ", not " +
                                          std::to_string(icon.size) + "x" + std::to_string(icon.size));
        }
    }

    std::filesystem::path host;
    if (!win::hostPath(output, host) || !std::filesystem::is_directory(host.parent_path()))
        return say(kCannotWrite, "error: cannot write " + utf8(output));
    const std::string digests = kdt::digestList(entries);
    entries.push_back({kdt::kDigestsEntry, digests});

    if (sign) {
        std::string p12;
        if (!win::readFile(keystore, p12))
            return say(kKeystoreAccess, "error: keystore " + utf8(keystore) + " cannot be opened");
        kdt::Signer signer;
        const auto loaded = signer.load(p12, utf8(password), message);
        if (loaded != kdt::Signer::loaded)
            return say(loaded == kdt::Signer::passwordWrong ? kKeystoreLoad : kCertificateInvalid, message);
        kdt::Entry signature{kdt::kSignatureEntry, {}};
        const int rc =
            signer.sign(digests, tsa == L"none" ? std::string() : utf8(tsa), signature.data, message);
        if (rc != 0) return say(rc == 10 ? kTimestampUnreachable : kSigning, message);
        entries.push_back(std::move(signature));
    }
    if (!kdt::writeArchive(host.string(), entries, message)) return say(kCannotWrite, message);
    return kOk;
}

int makeCertificate(const std::vector<std::wstring>& args) {
    kdt::CertificateRequest request;
    std::size_t i = 2;
    for (; i + 1 < args.size() && args[i].size() > 1 && args[i][0] == L'-'; i += 2) {
        const std::string value = utf8(args[i + 1]);
        if (args[i] == L"-cn")
            request.commonName = value;
        else if (args[i] == L"-ou")
            request.unit = value;
        else if (args[i] == L"-o")
            request.organisation = value;
        else if (args[i] == L"-c")
            request.country = value;
        else
            return usage("unknown option " + utf8(args[i]));
    }
    if (i + 3 != args.size()) return usage();
    if (args[i] == L"1024-RSA")
        request.bits = 1024;
    else if (args[i] == L"2048-RSA")
        request.bits = 2048;
    else
        return usage("key type must be 1024-RSA or 2048-RSA");
    const std::wstring file = args[i + 1];
    request.password = utf8(args[i + 2]);
    if (request.commonName.empty()) return usage("-cn is missing");
    if (request.password.empty()) return say(kUsage, "error: the password is empty");
    // X.509 country names are two letters.
    const std::string& c = request.country;
    if (!c.empty() && (c.size() != 2 || !std::isalpha(static_cast<unsigned char>(c[0])) ||
                       !std::isalpha(static_cast<unsigned char>(c[1]))))
        return say(kUsage, "error: country must be a two-letter code: " + c);
    std::string p12, error;
    if (!kdt::makeSelfSigned(request, p12, error)) return say(kUnexpected, error);
    if (!win::writeFile(file, p12)) return say(kCannotWrite, "error: cannot write " + utf8(file));
    return kOk;
}

}  // namespace

int main(int argc, char** argv) {
    win::initProcess(argc, argv);
    std::vector<std::wstring> args = win::splitCommandLine(win::commandLine());
    // As java.exe: "-jar KDT.jar" comes first; run directly, the tool's own options do.
    if (args.size() >= 3 && args[1] == L"-jar") args.erase(args.begin() + 1, args.begin() + 3);
    if (args.size() < 2) return usage();
    const std::wstring verb = args[1];
    if (verb == L"-package") return makePackage(args, true);
    if (verb == L"-prepare") return makePackage(args, false);
    if (verb == L"-certificate") return makeCertificate(args);
    return usage("unknown command " + utf8(verb));
}

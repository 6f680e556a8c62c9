#include "tools/mendwell-build/file_report.h"

#include <cctype>
#include <filesystem>
#include <system_error>

#include "mendwell/files/checksum.h"
#include "mendwell/files/versioners.h"
#include "platform/text/text.h"
#include "tools/mendwell-build/host_view.h"
#include "tools/mendwell-build/signing.h"

namespace mwbuild {

namespace {

namespace fs = std::filesystem;
using namespace mw::versioning;

const char* versionerName(int kind) {
    switch (kind) {
        case kindColorProfile:
            return "ColorProfileVersioner";
        case kindOTFFont:
            return "OTFFontVersioner";
        case kindPFBFont:
            return "PFBFontVersioner";
        case kindUnicodeMap:
            return "UnicodeMapVersioner";
        case kindICU:
            return "ICUVersioner";
        case kindFontDatabase:
            return "FontDatabaseVersioner";
        case kindCMap:
            return "CMapVersioner";
        case kindJSX:
            return "JSXVersioner";
        default:
            return "?";
    }
}

bool isWindowsPath(const std::string& arg) {
    return arg.size() >= 3 && std::isalpha(static_cast<unsigned char>(arg[0])) && arg[1] == ':' &&
           (arg[2] == '\\' || arg[2] == '/');
}

void printVersion(std::ostream& out, const FileVersion& v) {
    out << v.major << '.' << v.minor << '.' << v.build << '.' << v.revision;
}

bool inspectOne(const std::wstring& path, std::ostream& out) {
    const std::string md5 = mw::md5Text(path);
    if (md5.empty()) {
        out << "  cannot be read\n";
        return false;
    }
    out << "  MD5:             " << md5 << '\n';
    FileVersion version;
    int kind = kindNone;
    const int status = getFileVersion(win::toUtf8(path).c_str(), &version, &kind);
    if (status == versionRecognised) {
        out << "  versioner:       " << versionerName(kind) << " (kind " << kind << "), version ";
        printVersion(out, version);
        out << '\n';
        return true;
    }
    if (status == versionError) out << "  versioner:       failed on this file (the patcher overwrites it)\n";
    if (status == versionNotRecognised) out << "  versioner:       none\n";
    std::wstring text;
    if (osFileVersionText(path, text) == 0)
        out << "  OS file version: " << win::toUtf8(text) << '\n';
    else
        out << "  OS file version: none (the patcher overwrites it)\n";
    if (fileDescription(path, text)) out << "  FileDescription: " << win::toUtf8(text) << '\n';
    return status != versionCannotOpen;
}

}  // namespace

bool inspectFiles(const std::vector<std::string>& files, std::ostream& out, std::ostream& err) {
    HostView view;
    bool allRead = true;
    for (const std::string& file : files) {
        std::wstring path;
        std::string error;
        if (isWindowsPath(file) && view.useOriginal(error)) {
            path = win::fromUtf8(file);
        } else if (!isWindowsPath(file)) {
            path = view.hostFile(file, error);
        }
        if (path.empty()) {
            err << "mendwell-build: " << error << '\n';
            return false;
        }
        out << file << '\n';
        allRead = inspectOne(path, out) && allRead;
        // A patcher also tells who signed it and whether the signature holds.
        if (!isWindowsPath(file)) allRead = reportSignature(file, out) && allRead;
    }
    return allRead;
}

}  // namespace mwbuild

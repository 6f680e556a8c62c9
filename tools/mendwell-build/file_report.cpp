#include "tools/mendwell-build/file_report.h"

#include <cctype>
#include <filesystem>
#include <random>
#include <system_error>

#include "mendwell/engine/checksum.h"
#include "mendwell/engine/versioners.h"
#include "platform/fs/path.h"
#include "platform/machine/machine.h"
#include "platform/text/text.h"

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

// Host files outside the current machine are read through a scratch machine whose drive H: is the
// host's root, so that each file keeps its own folder names (they matter to the colour-profile test).
// Windows paths are always read on the machine the tool started with.
class HostView {
  public:
    ~HostView() {
        if (scratch_.empty()) return;
        std::string error;
        if (!original_.empty()) win::Machine::select(original_, error);
        std::error_code ec;
        fs::remove_all(scratch_, ec);
    }

    // The Windows path under which a host file is read; empty when no view can be made.
    std::wstring hostFile(const fs::path& file, std::string& error) {
        const fs::path absolute = fs::absolute(file);
        if (!useOriginal(error)) return {};
        std::wstring inMachine = win::windowsPath(absolute);
        if (!inMachine.empty()) return inMachine;
        if (!useScratch(error)) return {};
        std::wstring path = L"H:";
        for (wchar_t c : win::fromUtf8(absolute.lexically_normal().string()))
            path.push_back(c == L'/' ? L'\\' : c);
        return path;
    }

    bool useOriginal(std::string& error) {
        if (scratch_.empty() || onOriginal_) return true;
        onOriginal_ = win::Machine::select(original_, error);
        return onOriginal_;
    }

  private:
    bool useScratch(std::string& error) {
        if (scratch_.empty()) {
            const win::Machine& current = win::Machine::current();
            if (current.ok()) original_ = current.root();
            std::error_code ec;
            fs::path root =
                fs::temp_directory_path(ec) / ("mendwell-inspect-" + std::to_string(std::random_device{}()));
            if (ec || !win::Machine::create(root, win::MachineProfile{}, error)) return false;
            scratch_ = root;
            fs::create_directory_symlink("/", root / "drive_h", ec);
            if (ec) {
                error = "cannot map the host's files: " + ec.message();
                return false;
            }
        } else if (!onOriginal_) {
            return true;
        }
        onOriginal_ = false;
        return win::Machine::select(scratch_, error);
    }

    fs::path original_;
    fs::path scratch_;
    bool onOriginal_ = true;
};

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
    }
    return allRead;
}

}  // namespace mwbuild

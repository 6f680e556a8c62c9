// lumen: the authoring tool stand-in (Lumen TX4). It keeps documents, loads its native extensions, and runs
// the menu commands that reach them through the tool's scripting.
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "outside/lumen/document.h"
#include "outside/lumen/extensions.h"
#include "outside/lumen/installer.h"
#include "outside/lumen/script_host.h"
#include "platform/fs/path.h"
#include "platform/process/process.h"
#include "platform/text/text.h"

namespace {

const char* const kHelp = R"(Usage: lumen install [FOLDER] [--bin DIR]
       lumen DOC.lud new [--kite]
       lumen DOC.lud publish|test|debug|settings|package|info [--scene NAME] [--table-bytes N] [--verbose]
       lumen DOC.lud data [KEY [VALUE]]
       lumen DOC.lud erase KEY

install   lays out the tool's program folder (default C:\Program Files\Orvex\Lumen TX4) on the machine
          from the built programs (beside lumen, or --bin DIR); run the installed Lumen.exe afterwards.
new       creates a document (--kite: with the "Orvex KITE 1.0" publish profile active).
publish   writes the movie (DOC.lmv) and, for the KITE profile, calls the extension's Publish.
test      writes the movie (with --scene NAME: DOC_NAME.lmv) and calls TestMovie.
debug     DebugMovie; settings: OpenSettingDialog; package: PackageKITEFile; info: OpenInfoDialog.
          settings and package first ask (PackageAlert) to switch a document to the KITE profile.
data      shows the document's data store, one value, or sets one; erase deletes one.
Options: --table-bytes N passes N as the entry table's size; --verbose tells what the tool does.
Exit codes: 0 done, 1 failure, 2 usage, 3 an extension function reported failure.
)";

int usage() {
    std::cerr << "lumen: wrong arguments (try --help)\n";
    return 2;
}

// Switching a document to the runtime's profile keeps its script settings.
const wchar_t* const kSwitchToKite =
    L"var d = lx.activeDocument();"
    L"var keep = [d.mainClass, d.lsExportFrame, d.lsStrictMode, d.lsWarningsMode, d.lsAutoDeclare, "
    L"d.lsDialect];"
    L"d.loadPublishProfile(lx.settingsURI + \"Publish Profiles/OrvexKITE1_0.xml\");"
    L"d.activePublishProfile = \"Orvex KITE 1.0\";"
    L"d.mainClass = keep[0]; d.lsExportFrame = keep[1]; d.lsStrictMode = keep[2];"
    L"d.lsWarningsMode = keep[3]; d.lsAutoDeclare = keep[4]; d.lsDialect = keep[5];"
    L"d.publish();";

std::wstring gatedByKite(const std::wstring& call) {
    return L"if (lx.activeDocument().activePublishProfile != \"Orvex KITE 1.0\") {"
           L"if (Vireo.PackageAlert(0) == 1) {" +
           std::wstring(kSwitchToKite) + call + L"}} else {" + call + L"}";
}

std::wstring literal(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        if (c == L'"' || c == L'\\') out += L'\\';
        out += c;
    }
    return out;
}

std::wstring documentPath(const std::string& arg) {
    if (!arg.empty() && arg[0] == '/') {
        const std::wstring w = win::windowsPath(arg);
        if (!w.empty()) return w;
    }
    std::wstring full;
    return win::fullPath(win::fromUtf8(arg), full) ? full : win::fromUtf8(arg);
}

int dataCommand(lumen::Document& doc, const std::vector<std::string>& rest) {
    auto& data = doc.data();
    if (rest.empty()) {
        for (const auto& [k, v] : data) std::cout << win::toUtf8(k) << "=" << win::toUtf8(v) << "\n";
        return 0;
    }
    const std::wstring key = win::fromUtf8(rest[0]);
    if (rest.size() == 1) {
        auto it = data.find(key);
        if (it == data.end()) return 1;
        std::cout << win::toUtf8(it->second) << "\n";
        return 0;
    }
    data[key] = win::fromUtf8(rest[1]);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    win::initProcess(argc, argv);
    std::vector<std::string> args;
    std::string scene, binDir, tableBytes;
    bool verbose = false, kite = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::cout << kHelp;
            return 0;
        }
        if ((a == "--scene" || a == "--bin" || a == "--table-bytes") && i + 1 < argc)
            (a == "--scene" ? scene : a == "--bin" ? binDir : tableBytes) = argv[++i];
        else if (a == "--verbose")
            verbose = true;
        else if (a == "--kite")
            kite = true;
        else if (a.size() > 1 && a[0] == '-' && a[1] == '-')
            return usage();
        else
            args.push_back(a);
    }
    if (args.empty()) return usage();

    if (args[0] == "install") {
        if (args.size() > 2) return usage();
        const std::wstring folder = args.size() == 2 ? win::fromUtf8(args[1]) : lumen::kDefaultHostFolder;
        const std::filesystem::path bin =
            binDir.empty() ? win::moduleHostPath().parent_path() : std::filesystem::path(binDir);
        return lumen::install(folder, bin, std::cout, std::cerr) ? 0 : 1;
    }
    if (args.size() < 2) return usage();
    const std::wstring path = documentPath(args[0]);
    const std::string command = args[1];
    const std::vector<std::string> rest(args.begin() + 2, args.end());
    std::wstring error;

    lumen::Document doc;
    if (command == "new") {
        if (!rest.empty()) return usage();
        doc = lumen::Document::create(path);
        if (kite) {
            lumen::PublishProfile profile;
            if (!lumen::loadProfileFile(
                    lumen::settingsFolder() + L"Publish Profiles\\" + lumen::kKiteProfileFile, profile,
                    error)) {
                std::cerr << "lumen: " << win::toUtf8(error) << " (run lumen install first)\n";
                return 1;
            }
            doc.addProfile(profile);
            doc.activate(profile.name);
        }
        if (!doc.save(error)) {
            std::cerr << "lumen: " << win::toUtf8(error) << "\n";
            return 1;
        }
        return 0;
    }
    if (!doc.load(path, error)) {
        std::cerr << "lumen: " << win::toUtf8(error) << "\n";
        return 1;
    }
    int code = 0;
    if (command == "data" && rest.size() <= 2) {
        code = dataCommand(doc, rest);
    } else if (command == "erase" && rest.size() == 1) {
        doc.data().erase(win::fromUtf8(rest[0]));
    } else {
        std::wstring script;
        if (!rest.empty()) return usage();
        if (command == "publish")
            script = L"lx.activeDocument().publish();";
        else if (command == "debug")
            script = L"Vireo.DebugMovie();";
        else if (command == "settings")
            script = gatedByKite(L"Vireo.OpenSettingDialog();");
        else if (command == "package")
            script = gatedByKite(L"Vireo.PackageKITEFile(0);");
        else if (command == "info")
            script = L"Vireo.OpenInfoDialog();";
        else if (command != "test")
            return usage();

        lumen::ScriptHost host(doc, lumen::settingsFolder(), verbose);
        const std::size_t whole = LUMEN_ENTRY_COUNT * sizeof(void*);
        // Extensions stay loaded until the process ends, as they do for a session of the tool (their
        // process-wide state is never torn down under them).
        auto* extensions = new lumen::Extensions(
            host, tableBytes.empty() ? whole : std::strtoul(tableBytes.c_str(), nullptr, 10));
        static lumen::Extensions* const kept = extensions;
        (void)kept;
        const std::wstring program = win::modulePath();
        extensions->loadFolder(lumen::extensionsFolder(win::parentPart(program)));
        if (extensions->count() == 0)
            std::cerr << "lumen: no extension loaded from " << win::toUtf8(win::parentPart(program))
                      << " (run the installed Lumen.exe)\n";
        if (command == "test") {
            const std::wstring movie = doc.moviePath(scene.empty() ? L"" : L"_" + win::fromUtf8(scene));
            if (!host.writeMovie(movie)) return 1;
            script = L"Vireo.TestMovie(\"" + literal(host.fileUri(movie)) + L"\");";
        }
        const lumen::ScriptEnd end = host.runCommand(script);
        // Testing a movie never waits for its result; the launcher reports on its own.
        code = end == lumen::ScriptEnd::error                                 ? 1
               : end == lumen::ScriptEnd::functionFailed && command != "test" ? 3
                                                                              : 0;
    }
    if (!doc.save(error)) {
        std::cerr << "lumen: " << win::toUtf8(error) << "\n";
        return 1;
    }
    return code;
}

// kdl: the KITE runtime's debug launcher stand-in, placed at the tool's KIK\bin\kdl.exe.
//   kdl.exe [-runtime FOLDER] [-debug] DESCRIPTOR
// Checks the application descriptor and the content it names, then reports what it would run: on standard
// output and as one line appended to kdl.log beside the launcher. Exit codes: 0 ready to run, 2 usage,
// 3 runtime folder missing, 7 descriptor unusable ("error 10x: ..."), 8 root content missing.
#include <cwctype>
#include <iostream>
#include <string>
#include <vector>

#include "platform/fs/file.h"
#include "platform/fs/path.h"
#include "platform/process/process.h"
#include "platform/text/text.h"
#include "platform/xmldom/xmldom.h"

namespace {

constexpr wchar_t kNamespace[] = L"http://ns.orvex.com/kite/application/1.0";

std::wstring launcherFolder() {
    return win::parentPart(win::modulePath());
}

void report(const std::wstring& line) {
    std::cout << win::toUtf8(line) << std::endl;
    const std::wstring log = win::combine(launcherFolder(), L"kdl.log");
    win::File file;
    if (file.open(log, win::access::write, win::share::read | win::share::write,
                  win::Disposition::openAlways) &&
        file.seekEnd()) {
        const std::string bytes = win::toUtf8(line) + "\r\n";
        file.write(bytes.data(), bytes.size());
    }
}

int fail(int code, const std::wstring& message) {
    report(L"kdl: " + message);
    return code;
}

std::wstring percentDecoded(const std::wstring& text) {
    std::wstring out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'%' && i + 2 < text.size() && std::iswxdigit(text[i + 1]) &&
            std::iswxdigit(text[i + 2])) {
            out.push_back(static_cast<wchar_t>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

bool validId(const std::wstring& id) {
    if (id.empty() || id.size() > 212) return false;
    for (wchar_t c : id)
        if (!std::iswalnum(c) && c != L'.' && c != L'-') return false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    win::initProcess(argc, argv);
    std::wstring runtime, descriptor;
    bool debug = false;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = win::fromUtf8(argv[i]);
        if (arg == L"-runtime" && i + 1 < argc)
            runtime = win::fromUtf8(argv[++i]);
        else if (arg == L"-debug")
            debug = true;
        else if (descriptor.empty() && !arg.empty() && arg[0] != L'-')
            descriptor = arg;
        else
            return fail(2, L"usage: kdl.exe [-runtime FOLDER] [-debug] DESCRIPTOR");
    }
    if (descriptor.empty()) return fail(2, L"usage: kdl.exe [-runtime FOLDER] [-debug] DESCRIPTOR");
    if (runtime.empty()) runtime = win::combine(win::parentPart(launcherFolder()), L"runtimes\\kite\\win");
    if (!win::isDirectory(runtime)) return fail(3, L"the runtime folder " + runtime + L" is missing");

    win::xml::Document xml;
    if (!xml.load(descriptor)) return fail(7, L"error 100: " + xml.error());
    const auto root = xml.root();
    if (root.name() != L"application") return fail(7, L"error 104: no application element in " + descriptor);
    if (!root.hasAttribute(L"xmlns")) return fail(7, L"error 101: the descriptor has no namespace");
    if (root.attribute(L"xmlns") != kNamespace)
        return fail(7, L"error 102: namespace " + root.attribute(L"xmlns") + L" is not " + kNamespace);
    const std::wstring id = root.firstChild(L"id").text();
    const std::wstring content = root.selectFirst(L"initialWindow/content").text();
    for (const wchar_t* required : {L"id", L"filename", L"version"})
        if (!root.firstChild(required))
            return fail(7, std::wstring(L"error 104: application.") + required + L" is missing");
    if (content.empty()) return fail(7, L"error 104: application.initialWindow.content is missing");
    if (!validId(id)) return fail(7, L"error 105: application.id contains an invalid value");

    std::wstring full;
    win::fullPath(descriptor, full);
    const std::wstring movie = win::combine(win::parentPart(full), percentDecoded(content));
    if (!win::pathExists(movie)) return fail(8, L"error 302: the root content " + movie + L" is missing");

    report(std::wstring(L"kdl: would run ") + movie + L" as " + id + L" (" +
           root.firstChild(L"filename").text() + L" " + root.firstChild(L"version").text() +
           L") on the runtime " + runtime + (debug ? L" under the debugger" : L"") + L" from " + full);
    return 0;
}

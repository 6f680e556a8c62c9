#include "vireo/packaging.h"

#include <algorithm>
#include <cwchar>

#include "platform/fs/file.h"
#include "platform/fs/path.h"
#include "platform/text/text.h"
#include "platform/ui/messagebox.h"

namespace vireo {

namespace {

const std::wstring kIconFolder = L"AppIconsForKITEPublish";
const wchar_t* const kIconKeys[] = {L"com.kite.vesper.icon128path", L"com.kite.vesper.icon48path",
                                    L"com.kite.vesper.icon32path", L"com.kite.vesper.icon16path"};

bool isAscii(const std::wstring& text) {
    for (wchar_t c : text)
        if (c > 0x7F) return false;
    return true;
}

bool contains(const std::wstring& text, const std::wstring& what) {
    return text.find(what) != std::wstring::npos;
}

std::size_t lastSeparator(const std::wstring& path) {
    return path.find_last_of(L"/\\");
}

// "%20" is a blank in the descriptor's paths; any other percent sign is dropped.
std::wstring unescapeBlanks(const std::wstring& path) {
    std::wstring out;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] != L'%') {
            out += path[i];
        } else if (path.compare(i + 1, 2, L"20") == 0) {
            out += L' ';
            i += 2;
        }
    }
    return out;
}

// Files first, then sub-folders the same way, then the folder; errors are ignored.
void deleteFolder(const std::wstring& folder) {
    win::FindFile find;
    win::FindData data;
    std::vector<std::wstring> folders;
    if (find.first(folder + L"\\*", data)) {
        do {
            if (data.name == L"." || data.name == L"..") continue;
            const std::wstring path = folder + L"\\" + data.name;
            if (data.attributes & win::attr::directory) {
                folders.push_back(path);
            } else {
                win::setFileAttributes(path, win::attr::normal);
                win::deleteFile(path);
            }
        } while (find.next(data));
    }
    find.close();
    for (const auto& sub : folders) deleteFolder(sub);
    win::removeDirectory(folder);
}

struct Strings {
    PackagingHost& host;
    std::wstring operator()(int id) const { return host.string(id); }
};

}  // namespace

std::wstring PackagingHost::string(int id) {
    return packagingString(id);
}

std::wstring PackagingHost::timestampAuthority() {
    return kTimestampAuthority;
}

namespace packaging {

std::wstring quotedBody(std::wstring_view text) {
    std::wstring out;
    std::size_t backslashes = 0;
    for (wchar_t c : text) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless a quote follows them: then each one is doubled.
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, L'\\');  // the closing quote follows
    return out;
}

std::wstring outputText(const std::string& output, std::size_t limit) {
    std::string text = output.substr(0, limit > 0 ? std::min(output.size(), limit - 1) : 0);
    const auto zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
    // A character cut in two at the end is dropped whole.
    std::size_t start = text.size();
    while (start > 0 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80 &&
           text.size() - start < 3)
        --start;
    if (start > 0) {
        const auto lead = static_cast<unsigned char>(text[start - 1]);
        const std::size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        if (need > 1 && text.size() - (start - 1) < need) text.resize(start - 1);
    }
    return win::fromUtf8(text);
}

void interpretResult(int exitCode, const std::wstring& out, PackagingHost& host, std::wstring& part,
                     std::wstring& detail) {
    part.clear();
    detail.clear();
    switch (exitCode) {
        case 0:
            if (out.empty()) return;
            break;
        case 2: {
            const std::wstring noFile = L"no such file ";
            const auto at = out.find(noFile);
            const auto usage = at == std::wstring::npos ? std::wstring::npos : out.find(L"\nusage:", at);
            const std::size_t start = at + noFile.size();
            if (usage != std::wstring::npos && usage > start + 1) {
                part = host.string(8042);
                detail = L"\n(" + out.substr(start, usage - 1 - start) + L")";
            } else {
                part = host.string(8054);
            }
            return;
        }
        case 5:
        case 6:
        case 7:
        case 8:
        case 9:
            part = host.string(8050 + exitCode);
            return;
        case 10:
            return;
        default:
            break;
    }
    static const struct {
        const wchar_t* pattern;
        int id;
    } patterns[] = {{L"error 100", 8031}, {L"error 101", 8032},
                    {L"error 102", 8033}, {L"error 103", 8034},
                    {L"error 104", 8035}, {L"error 105", 8036},
                    {L"error 106", 8037}, {L"error 107", 8038},
                    {L"error 200", 8039}, {L"error 201", 8040},
                    {L"error 202", 8041}, {L"error 300", 8042},
                    {L"error 301", 8043}, {L"error 302", 8044},
                    {L"error 303", 8045}, {L"password may be incorrect", 8046}};
    for (const auto& p : patterns) {
        const auto at = out.find(p.pattern);
        // Only a pattern after the first character counts.
        if (at == std::wstring::npos || at == 0) continue;
        part = host.string(p.id);
        if (p.id == 8036) {
            const auto error = out.find(L"error 105:");
            const auto word = out.find(L"contains");
            if (error != std::wstring::npos && word != std::wstring::npos && word > error + 12)
                detail = L"\n(" + out.substr(error + 11, word - 1 - (error + 11)) + L")";
        }
        return;
    }
    part = out;
}

std::wstring withPackageExtension(const std::wstring& destination, const std::wstring& extension) {
    // The extension is the text after the last dot of the file name; a dot in a folder name is not one,
    // and a name without any dot keeps its name and gets the extension appended.
    const std::size_t name = lastSeparator(destination);
    const std::size_t dot = destination.rfind(L'.');
    if (dot == std::wstring::npos || (name != std::wstring::npos && dot < name))
        return destination + extension;
    return destination.substr(0, dot) + extension;
}

int packageNameProblem(const std::wstring& name, const std::wstring& extension) {
    for (wchar_t c : name)
        if (c < 0x20 || std::wcschr(L"<>:\"/\\|?*", c)) return 8084;
    return name.size() + extension.size() > 255 ? 8085 : 0;
}

}  // namespace packaging

int packageApplication(PackagingHost& host) {
    using packaging::quotedBody;
    const Strings text{host};
    const std::wstring folder = host.setting(L"lmv.folder.path");
    const std::wstring base = host.setting(L"lumen.lmv.basename");
    if (folder.empty() || base.empty() || !win::pathExists(folder + base + L".lmv")) {
        host.messageBox(text(8011), win::mb::iconInformation);
        return 0;
    }
    if (!isAscii(base) || !isAscii(folder)) {
        host.messageBox(text(8060) + text(8074), win::mb::iconWarning);
        return 0;
    }
    std::wstring mode = host.setting(L"com.kite.vesper.signing");
    std::wstring password = host.setting(L"com.kite.vesper.certpwd");
    while (mode.empty() || (mode != L"prepare" && password.empty())) {
        if (!host.digitalSignatureDialog()) return 0;
        mode = host.setting(L"com.kite.vesper.signing");
        password = host.setting(L"com.kite.vesper.certpwd");
    }
    const bool custom = host.setting(L"com.kite.vesper.usecust") == L"true";
    if ((custom ? host.customDescriptorCheck() : host.defaultDescriptorCheck()) != 0) return 0;
    std::wstring name;
    const bool named = host.descriptorName(name) && !name.empty();

    const bool signing = mode != L"prepare";
    const std::wstring extension = signing ? L".kite" : L".kitei";
    const std::wstring tool = host.setting(L"lumen.tx4.path");
    const std::wstring authority = host.timestampAuthority();
    std::wstring command = L"\"" + tool + L"JVM/bin/java.exe\" -jar \"" + tool + L"KIK/lib/KDT.jar\" ";
    if (signing) {
        command += L" -package -storetype PKCS12 -keystore \"" +
                   quotedBody(host.setting(L"com.kite.vesper.certpath")) + L"\" -storepass \"" +
                   quotedBody(password) + L"\" ";
        command += host.setting(L"com.kite.vesper.timestamp") == L"true" ? L" -tsa " + authority + L" "
                                                                         : L" -tsa none ";
        command += L"\"";
    } else {
        command += L" -prepare \"";
    }

    std::wstring destination = host.setting(L"com.kite.vesper.destination");
    if (!destination.empty()) {
        destination = packaging::withPackageExtension(destination, extension);
        host.setSetting(L"com.kite.vesper.destination", destination);
        const std::size_t cut = lastSeparator(destination);
        const std::wstring parent = cut == std::wstring::npos ? std::wstring() : destination.substr(0, cut);
        if (!win::pathExists(destination) && (parent.empty() || !win::pathExists(parent))) {
            if (cut != std::wstring::npos) {
                host.messageBox(text(8060) + text(8056), win::mb::iconWarning);
                return 0;
            }
            destination = folder + destination;
        }
        const std::wstring lower = win::toLower(destination);
        if (!contains(lower, L".kite") && !contains(lower, L".kitei")) destination += extension;
        command += quotedBody(destination);
    } else {
        // The application's name becomes a file name here: one that cannot be is refused for what it is,
        // not left to fail as an unwritable destination.
        if (named) {
            if (const int problem = packaging::packageNameProblem(name, extension)) {
                host.messageBox(text(8060) + text(problem), win::mb::iconWarning);
                return 0;
            }
        }
        command += quotedBody(folder + (named ? name : base) + extension);
    }

    const std::wstring descriptor = custom && !host.setting(L"com.kite.vesper.xmlpath").empty()
                                        ? host.setting(L"com.kite.vesper.xmlpath")
                                        : folder + base + L"-app.xml";
    command += L"\" \"" + quotedBody(descriptor) + L"\" -C \"" + quotedBody(folder) + L"\" \"" +
               quotedBody(base) + L".lmv\" ";

    const std::wstring iconFolder = folder + kIconFolder;
    if (!custom) {
        host.updateDescriptorIcons();
        for (const wchar_t* key : kIconKeys) {
            const std::wstring icon = host.setting(key);
            if (contains(icon, folder) || icon.empty() || icon == L"none" || !win::pathExists(icon)) continue;
            win::createDirectory(iconFolder + L"/");
            const std::size_t cut = lastSeparator(icon);
            win::copyFile(icon, iconFolder + L"/" + icon.substr(cut == std::wstring::npos ? 0 : cut + 1),
                          false);
        }
    }
    std::vector<std::wstring> placed;
    for (const std::wstring& icon : host.descriptorIcons()) {
        const std::wstring path = unescapeBlanks(icon);
        if (std::find(placed.begin(), placed.end(), path) != placed.end()) continue;
        placed.push_back(path);
        command += L"\"" + quotedBody(path) + L"\" ";
    }

    std::vector<std::wstring> missing;
    const int count =
        static_cast<int>(std::wcstol(host.setting(L"com.kite.vesper.included.count").c_str(), nullptr, 10));
    for (int i = 0; i < count; ++i) {
        std::wstring item = host.setting(L"com.kite.vesper.included.item" + std::to_wstring(i));
        if (item.empty()) continue;
        while (item.size() > 3 && (item.back() == L'/' || item.back() == L'\\')) item.pop_back();
        win::FindFile find;
        win::FindData found;
        if (!win::pathExists(item) || !find.first(item, found)) {
            missing.push_back(item);
            continue;
        }
        const std::size_t cut = lastSeparator(item);
        std::wstring itemFolder = cut == std::wstring::npos ? std::wstring() : item.substr(0, cut + 1);
        for (wchar_t& c : itemFolder)
            if (c == L'\\') c = L'/';
        if (itemFolder.size() > folder.size() && itemFolder.compare(0, folder.size(), folder) == 0) {
            command += L" -C \"" + quotedBody(folder) + L"\" \"" +
                       quotedBody(itemFolder.substr(folder.size()) + found.name) + L"\" ";
        } else {
            command += L" -C \"" + quotedBody(itemFolder) + L"\" \"" + quotedBody(found.name) + L"\" ";
        }
    }
    if (!missing.empty()) {
        std::wstring message = text(8073) + L"\n";
        for (std::size_t i = 0; i < missing.size(); ++i) {
            if (i == 11) {
                message += L"\n...\n";
                break;
            }
            message += missing[i] + L"\n";
        }
        if (host.messageBox(message + text(8072), win::mb::iconWarning | win::mb::okCancel) !=
            win::idbutton::ok)
            return 0;
    }

    std::wstring part;
    std::wstring detail;
    bool succeeded = false;
    while (true) {
        std::string output;
        const int code = host.runCaptured(command, output, 2048);
        const std::wstring out = packaging::outputText(output, 2048);
        if (code == 10) {
            const int answer = host.timestampRetryDialog();
            if (answer == retry::again) continue;
            if (answer == retry::withoutTimestamp) {
                const std::wstring with = L"-tsa " + authority;
                const std::size_t at = command.find(with);
                if (at != std::wstring::npos) command.replace(at, with.size(), L"-tsa none");
                continue;
            }
            break;
        }
        packaging::interpretResult(code, out, host, part, detail);
        succeeded = code == 0 && out.empty();
        break;
    }
    if (succeeded) host.messageBox(text(signing ? 8014 : 8015), win::mb::iconInformation);
    if (!part.empty()) host.messageBox(text(8060) + part + detail, win::mb::iconWarning);

    if (host.setting(L"com.kite.vesper.rempwd") != L"true") host.eraseSetting(L"com.kite.vesper.certpwd");
    deleteFolder(iconFolder);
    return 1;
}

int createSelfSignedCertificate(PackagingHost& host, const std::wstring& arguments,
                                const std::wstring& file) {
    const std::wstring tool = host.setting(L"lumen.tx4.path");
    const std::wstring command = L"\"" + tool + L"/JVM/bin/java.exe\" -jar \"" + tool +
                                 L"/KIK/lib/KDT.jar\" -certificate " + arguments;
    std::string output;
    const int code = host.runCaptured(command, output, 1024);
    std::wstring out = packaging::outputText(output, 1024);
    // Silence is success only from a tool that ran and left the certificate behind.
    if (out.empty() && code == -1) out = host.string(8081);
    if (out.empty() && (!win::pathExists(file) || win::isDirectory(file))) out = host.string(8082) + file;
    if (out.empty()) {
        host.messageBox(host.string(8018), win::mb::iconInformation);
        return 1;
    }
    host.messageBox(host.string(8016) + out, win::mb::iconWarning);
    return 0;
}

}  // namespace vireo

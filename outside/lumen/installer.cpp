#include "outside/lumen/installer.h"

#include <zlib.h>

#include <array>
#include <cstdint>
#include <ostream>
#include <vector>

#include "outside/lumen/document.h"
#include "platform/fs/file.h"
#include "platform/fs/path.h"
#include "platform/process/process.h"
#include "platform/system/system.h"
#include "platform/text/text.h"

namespace lumen {

namespace {

void put32(std::string& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

void chunk(std::string& out, const char* type, const std::string& data) {
    put32(out, static_cast<std::uint32_t>(data.size()));
    const std::string body = std::string(type, 4) + data;
    out += body;
    put32(out,
          static_cast<std::uint32_t>(::crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size())));
}

// Every folder of a Windows path, created when missing.
bool makeFolders(const std::wstring& folder) {
    std::wstring full;
    if (!win::fullPath(folder, full)) return false;
    std::wstring partial;
    for (std::size_t i = 0; i <= full.size(); ++i) {
        if (i == full.size() || full[i] == L'\\') {
            partial = full.substr(0, i);
            if (partial.size() > 2 && !win::isDirectory(partial) && !win::createDirectory(partial))
                return false;
        }
    }
    return true;
}

// A built program or library copied to a Windows path (hard-linked when the file system allows).
bool place(const std::filesystem::path& from, const std::wstring& to) {
    std::filesystem::path host;
    if (!makeFolders(win::parentPart(to)) || !win::hostPath(to, host)) return false;
    std::error_code ec;
    std::filesystem::remove(host, ec);
    std::filesystem::create_hard_link(from, host, ec);
    if (ec) std::filesystem::copy_file(from, host, std::filesystem::copy_options::overwrite_existing, ec);
    return !ec;
}

bool writeTo(const std::wstring& path, std::string_view bytes) {
    return makeFolders(win::parentPart(path)) && win::writeFile(path, bytes);
}

}  // namespace

std::string pngImage(unsigned size, std::uint32_t rgb) {
    std::string raw;
    for (unsigned y = 0; y < size; ++y) {
        raw.push_back('\0');  // no filter
        for (unsigned x = 0; x < size; ++x) {
            raw.push_back(static_cast<char>((rgb >> 16) & 0xFF));
            raw.push_back(static_cast<char>((rgb >> 8) & 0xFF));
            raw.push_back(static_cast<char>(rgb & 0xFF));
        }
    }
    uLongf packedSize = compressBound(raw.size());
    std::string packed(packedSize, '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(raw.data()),
             raw.size());
    packed.resize(packedSize);
    std::string header;
    put32(header, size);
    put32(header, size);
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB
    std::string png("\x89PNG\r\n\x1a\n", 8);
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", packed);
    chunk(png, "IEND", "");
    return png;
}

std::wstring settingsFolder() {
    std::wstring local;
    win::shellFolder(win::csidl::localAppData, local);
    return local + L"\\Orvex\\Lumen 9\\en_US\\Configuration\\";
}

std::wstring extensionsFolder(const std::wstring& hostFolder) {
    return win::combine(hostFolder, L"Configuration\\External Libraries");
}

bool install(const std::wstring& hostFolder, const std::filesystem::path& binDir, std::ostream& out,
             std::ostream& err) {
    auto at = [&hostFolder](const wchar_t* relative) { return win::combine(hostFolder, relative); };
    struct Piece {
        std::filesystem::path from;
        std::wstring to;
        bool required;
    };
    const std::vector<Piece> pieces = {
        {win::moduleHostPath(), at(L"Lumen.exe"), true},
        {binDir / "Vireo.so", win::combine(extensionsFolder(hostFolder), L"Vireo.dll"), true},
        {binDir / "kdl", at(L"KIK\\bin\\kdl.exe"), true},
        // The developer tool's stand-in answers as the Java runtime; KDT.jar only has to be there.
        {binDir / "kdt", at(L"JVM\\bin\\java.exe"), false},
    };
    bool ok = true;
    for (const auto& p : pieces) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(p.from, ec)) {
            (p.required ? err : out) << "lumen install: " << p.from.string() << " is not built"
                                     << (p.required ? "\n" : "; skipped\n");
            ok = ok && !p.required;
            continue;
        }
        if (!place(p.from, p.to)) {
            err << "lumen install: cannot place " << win::toUtf8(p.to) << "\n";
            ok = false;
            continue;
        }
        out << "installed " << win::toUtf8(p.to) << "\n";
    }
    ok = ok && writeTo(at(L"KIK\\lib\\KDT.jar"), "KDT 1.0: run by JVM\\bin\\java.exe\r\n") &&
         makeFolders(at(L"KIK\\runtimes\\kite\\win")) &&
         writeTo(at(L"KIK\\runtimes\\kite\\win\\KITE.runtime"), "KITE runtime 1.0\r\n");
    constexpr std::array<std::pair<unsigned, std::uint32_t>, 4> kIcons = {
        {{128, 0x2E7D32}, {48, 0x1565C0}, {32, 0xF9A825}, {16, 0xC62828}}};
    for (const auto& [size, colour] : kIcons)
        ok = ok && writeTo(at((L"KIK\\samples\\icons\\KITEApp_" + std::to_wstring(size) + L".png").c_str()),
                           pngImage(size, colour));

    PublishProfile kite;
    kite.name = kKiteProfileName;
    kite.target = L"KITE";
    kite.strictMode = false;
    kite.warningsMode = false;
    kite.autoDeclare = false;
    const std::wstring profile = settingsFolder() + L"Publish Profiles\\" + kKiteProfileFile;
    ok = ok && writeTo(profile, profileFileText(kite));
    if (!ok) {
        err << "lumen install: the program folder " << win::toUtf8(hostFolder) << " is incomplete\n";
        return false;
    }
    out << "installed " << win::toUtf8(hostFolder) << " and " << win::toUtf8(profile) << "\n";
    return true;
}

}  // namespace lumen

#include "patchtool/patch_callback.h"

#include <atomic>
#include <cstdint>
#include <cstring>

#include "outside/quadrel/quadrel_api.h"
#include "platform/fs/file.h"
#include "platform/system/console.h"
#include "platform/system/system.h"
#include "platform/text/text.h"

namespace patchtool {
namespace {

ToolStreams g_streams;
std::atomic<bool> g_userStop{false};
char g_empty[1] = {'\0'};
std::string g_answer;  // the last line read; the engine reads it before the next callback

void put(std::FILE* f, const std::string& text) {
    std::fputs(text.c_str(), f);
    std::fflush(f);
}

void prompt(const std::string& text) {
    put(g_streams.err, text);
    if (!g_streams.outIsConsole) put(g_streams.out, text);
}

// Up to a line feed (not kept); false when the end of input comes before any character.
bool readLine(std::string& line) {
    line.clear();
    int c = std::fgetc(g_streams.in);
    if (c == EOF) return false;
    while (c != EOF && c != '\n') {
        line.push_back(static_cast<char>(c));
        c = std::fgetc(g_streams.in);
    }
    return true;
}

std::string text(const void* data) { return data == nullptr ? std::string() : static_cast<const char*>(data); }

// %s of a printf format filled with engine text, which is never itself a format.
std::string fill(const char* format, const std::string& a, const std::string& b = {}) {
    std::string out = format;
    const std::size_t first = out.find("%s");
    if (first != std::string::npos) {
        out.replace(first, 2, a);
        const std::size_t second = out.find("%s", first + a.size());
        if (second != std::string::npos) out.replace(second, 2, b);
    }
    return out;
}

std::string oemName(const char16_t* name) {
    std::string bytes;
    for (const char16_t* p = name; *p != 0; ++p) {
        bytes.push_back(static_cast<char>(*p & 0xff));
        bytes.push_back(static_cast<char>(*p >> 8));
    }
    char buffer[260];
    win::toCodePage(win::fromUtf16le(bytes), win::oemCodePage(), buffer, sizeof buffer);
    return buffer;
}

void* serve(int message, void* data) {
    switch (message) {
        case 1: case 2: case 3: case 4: {
            const std::string t = text(data);
            put(g_streams.out, t);
            if (!g_streams.outIsConsole && g_streams.toConsole != nullptr) g_streams.toConsole(t);
            return g_empty;
        }
        case 9: case 10: case 11: case 12:
            put(g_streams.out, text(data));
            return g_empty;
        case 13: {
            prompt("Could not find Patch File\nEnter a New Name & Directory for the Patch File or\n"
                   "Press Enter to Quit ===> ");
            if (!readLine(g_answer) || g_answer.empty()) {
                g_userStop = true;
                return g_empty;
            }
            std::wstring path;
            win::fromCodePage(g_answer, win::oemCodePage(), path);
            if (win::isDirectory(path)) {
                if (g_answer.back() != '\\') g_answer += '\\';
                g_answer += "patch";
            }
            return g_answer.data();
        }
        case 15:
            prompt("Enter Password: ");
            if (!readLine(g_answer) || g_answer.empty()) return nullptr;
            return g_answer.data();
        case 17: {
            prompt(fill("\n      <<< %s: - Press Any Key When Ready >>>", text(data)));
            if (g_streams.readKey != nullptr) {
                const int key = g_streams.readKey();
                if (key == 0 || key == 0xE0) g_streams.readKey();  // extended key: its second half
            }
            prompt("\n\n");
            return g_empty;
        }
        case 19: {
            const char* const* texts = static_cast<const char* const*>(data);
            prompt(fill("Location for %s is %s\nConfirm [Y/N]? ", texts ? text(texts[0]) : "",
                        texts ? text(texts[1]) : ""));
            if (!readLine(g_answer)) g_answer.clear();
            return g_answer.data();
        }
        case 20:
            prompt(fill("Enter directory for %s\n    (press Enter to use update directory):", text(data)));
            if (!readLine(g_answer)) g_answer.clear();
            return g_answer.empty() ? g_empty : g_answer.data();
        case 23: {
            // Binary mode is the only mode on this host.
            std::uint32_t length = 0;
            if (std::fseek(g_streams.in, 0, SEEK_END) == 0) {
                const long end = std::ftell(g_streams.in);
                length = end > 0 ? static_cast<std::uint32_t>(end) : 0;
            }
            std::fseek(g_streams.in, 0, SEEK_SET);
            if (data != nullptr) std::memcpy(data, &length, sizeof length);
            return g_empty;
        }
        case 24: {
            auto* request = static_cast<quadrel::StdinRead*>(data);
            if (request != nullptr && request->buffer != nullptr &&
                std::fseek(g_streams.in, static_cast<long>(request->offset), SEEK_SET) == 0)
                std::fread(request->buffer, 1, request->count, g_streams.in);
            return g_empty;
        }
        case 26:
            put(g_streams.out,
                "\nPatching complete.  It is necessary however for your computer to be\n"
                "  rebooted before all changes will take effect.\n");
            return g_empty;
        case 27: {
            const auto* r = static_cast<const quadrel::RenameRecord*>(data);
            if (r == nullptr || r->oldName == nullptr) return g_empty;
            const std::string flags = {r->flag2 ? 'S' : 's', r->flag1 ? 'R' : 'r', r->flag3 ? 'B' : 'b'};
            const std::string to = r->newName != nullptr ? oemName(r->newName) : "NULL";
            put(g_streams.out, oemName(r->oldName) + " -> " + to + " (" + flags + ")\n");
            return g_empty;
        }
        default:
            return g_empty;
    }
}

}  // namespace

void setStreams(const ToolStreams& streams) { g_streams = streams; }
void clearUserStop() { g_userStop = false; }
bool userStopped() { return g_userStop; }

bool onConsoleEvent(unsigned long event) {
    switch (event) {
        case win::ctrl::cEvent:
        case win::ctrl::breakEvent:
        case win::ctrl::closeEvent:
        case win::ctrl::logoffEvent:
        case win::ctrl::shutdownEvent:
            g_userStop = true;
            return true;
        default:
            return false;
    }
}

void* patchCallback(int message, void* data) {
    void* answer = serve(message, data);
    if (g_userStop) {
        put(g_streams.out, "\nPATCH Terminated by User\n");
        if (!g_streams.outIsConsole) put(g_streams.err, "\nPATCH Terminated by User\n");
        return nullptr;
    }
    return answer;
}

int runTool(const std::wstring& commandLine) {
    // Everything from the first blank on, the blank included, in the OEM code page.
    const std::size_t blank = commandLine.find(L' ');
    char arguments[1024];
    win::toCodePage(blank == std::wstring::npos ? std::wstring_view() : std::wstring_view(commandLine).substr(blank),
                    win::oemCodePage(), arguments, sizeof arguments);
    const std::int32_t result = QuadrelOrdinal1(arguments, patchCallback, 1);
    return g_userStop ? -3 : result;
}

}  // namespace patchtool

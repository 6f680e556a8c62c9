#include "platform/ui/messagebox.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "platform/system/system.h"
#include "platform/text/text.h"
#include "platform/ui/messagebox_backends.h"

namespace win {

namespace ui {

BoxButtons boxButtons(unsigned type) {
    BoxButtons b;
    switch (type & 0xF) {
        case mb::okCancel:
            b.ids = {idbutton::ok, idbutton::cancel};
            break;
        case mb::abortRetryIgnore:
            b.ids = {idbutton::abort, idbutton::retry, idbutton::ignore};
            break;
        case mb::yesNoCancel:
            b.ids = {idbutton::yes, idbutton::no, idbutton::cancel};
            break;
        case mb::yesNo:
            b.ids = {idbutton::yes, idbutton::no};
            break;
        case mb::retryCancel:
            b.ids = {idbutton::retry, idbutton::cancel};
            break;
        default:
            b.ids = {idbutton::ok};
            break;
    }
    const std::size_t index = (type >> 8) & 0xF;
    b.defaultIndex = index < b.ids.size() ? index : 0;
    return b;
}

}  // namespace ui

namespace {

std::string trim(std::string s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

// An answer line's value as a button id; 0 for "default" or anything not understood.
int parseAnswer(const std::string& value) {
    static const std::pair<const char*, int> names[] = {
        {"ok", idbutton::ok},       {"cancel", idbutton::cancel}, {"abort", idbutton::abort},
        {"retry", idbutton::retry}, {"ignore", idbutton::ignore}, {"yes", idbutton::yes},
        {"no", idbutton::no}};
    for (const auto& [name, id] : names)
        if (strcasecmp(value.c_str(), name) == 0) return id;
    char* end = nullptr;
    const long n = std::strtol(value.c_str(), &end, 10);
    return (!value.empty() && end && *end == '\0' && n > 0 && n < 100) ? static_cast<int>(n) : 0;
}

std::string escaped(std::wstring_view text) {
    std::string out;
    for (char c : toUtf8(text)) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out.push_back(c);
    }
    return out;
}

bool writeAll(int fd, const std::string& bytes) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

int scriptedBox(const char* script, std::wstring_view text, std::wstring_view caption, unsigned type,
                const ui::BoxButtons& buttons) {
    int answer = buttons.defaultId();
    const int fd = ::open(script, O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "message box script %s: %s\n", script, std::strerror(errno));
        return answer;
    }
    // Several processes of one run share the script: reading the position and appending the record is
    // one step.
    ::flock(fd, LOCK_EX);
    std::string content;
    char buffer[8192];
    ssize_t n;
    ::lseek(fd, 0, SEEK_SET);
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) content.append(buffer, static_cast<std::size_t>(n));

    std::vector<std::string> answers;
    std::size_t shown = 0;
    std::istringstream lines(content);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("shown messagebox ", 0) == 0)
            ++shown;
        else if (line.rfind("messagebox:", 0) == 0)
            answers.push_back(trim(line.substr(11)));
    }
    if (shown < answers.size()) {
        const int wanted = parseAnswer(answers[shown]);
        for (int id : buttons.ids)
            if (id == wanted) answer = id;
    }
    char typeText[16];
    std::snprintf(typeText, sizeof typeText, "0x%08X", type);
    std::string record = "shown messagebox caption=<" + escaped(caption) + "> text=<" + escaped(text) +
                         "> type=" + typeText + "; answer=" + std::to_string(answer) + "\n";
    if (!content.empty() && content.back() != '\n') record = "\n" + record;
    writeAll(fd, record);
    ::flock(fd, LOCK_UN);
    ::close(fd);
    return answer;
}

}  // namespace

namespace ui {

bool displayAvailable() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    // Offscreen windows cannot be answered by anyone.
    if (platform &&
        (std::strncmp(platform, "offscreen", 9) == 0 || std::strncmp(platform, "minimal", 7) == 0))
        return false;
    auto set = [](const char* name) {
        const char* v = std::getenv(name);
        return v && *v;
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

bool qtCanDraw() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* v = std::getenv(name);
        if (v && *v) return true;
    }
    return false;
}

}  // namespace ui

int messageBox(std::wstring_view text, std::wstring_view caption, unsigned type) {
    const ui::BoxButtons buttons = ui::boxButtons(type);
    if (const char* script = std::getenv("MENDWELL_UI_SCRIPT"); script && *script)
        return scriptedBox(script, text, caption, type, buttons);
    int answer = 0;
    if (ui::displayAvailable() && ui::qtMessageBox(text, caption, type, buttons, answer)) return answer;
    printToStandardError(std::wstring(caption) + L": " + std::wstring(text) + L"\n");
    return buttons.defaultId();
}

}  // namespace win

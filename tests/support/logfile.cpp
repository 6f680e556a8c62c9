#include "tests/support/logfile.h"

#include "platform/text/text.h"

namespace testing_support {

namespace {

// Date (8), two blanks, time (8), two blanks, type name (15), two blanks, sender, two blanks, message.
constexpr std::size_t kTypeAt = 20;
constexpr std::size_t kTypeWidth = 15;
constexpr std::size_t kSenderAt = 37;

bool startsRecord(const std::wstring& line) {
    return line.size() >= kSenderAt + 2 && line[2] == L'/' && line[5] == L'/' && line[12] == L':';
}

}  // namespace

std::vector<LogLine> parseTextLog(std::string_view bytes) {
    std::vector<LogLine> out;
    if (bytes.size() < 2 || bytes.substr(0, 2) != "\xFF\xFE") return out;
    const std::wstring text = win::fromUtf16le(bytes.substr(2));
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find(L"\r\n", pos);
        if (end == std::wstring::npos) end = text.size();
        const std::wstring line = text.substr(pos, end - pos);
        pos = end + 2;
        if (!startsRecord(line)) {
            if (!out.empty()) out.back().message += L"\r\n" + line;
            continue;
        }
        LogLine record;
        std::wstring type = line.substr(kTypeAt, kTypeWidth);
        type.erase(type.find_last_not_of(L' ') + 1);
        type.erase(0, type.find_first_not_of(L' '));
        record.type = type;
        const std::size_t senderEnd = line.find(L"  ", kSenderAt);
        record.sender = line.substr(kSenderAt, senderEnd - kSenderAt);
        record.message = senderEnd == std::wstring::npos ? L"" : line.substr(senderEnd + 2);
        out.push_back(std::move(record));
    }
    return out;
}

std::vector<std::wstring> messagesOf(const std::vector<LogLine>& lines, std::wstring_view type) {
    std::vector<std::wstring> out;
    for (const LogLine& l : lines) {
        if (l.type == type) out.push_back(l.message);
    }
    return out;
}

}  // namespace testing_support

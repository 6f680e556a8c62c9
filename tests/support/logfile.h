// Reading a text-format patch log back in tests.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

// One record: type name without its padding ("INFO", "CRITICALINFO"), sender and message.
struct LogLine {
    std::wstring type;
    std::wstring sender;
    std::wstring message;
};

// Decodes a text-format log (UTF-16LE, byte-order mark first) into its records. A message holding line
// breaks continues on lines of its own; those are joined back to it with CR LF.
std::vector<LogLine> parseTextLog(std::string_view bytes);

// The messages of one type name, in order.
std::vector<std::wstring> messagesOf(const std::vector<LogLine>& lines, std::wstring_view type);

}  // namespace testing_support

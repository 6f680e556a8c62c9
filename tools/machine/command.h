// Shared pieces of the `machine` tool: arguments, output and exit codes.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace mw::machinetool {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kUsage = 2;

// The arguments after the verb, as wide strings.
using Args = std::vector<std::wstring>;

void out(std::wstring_view text);   // standard output, UTF-8, with a line end
void fail(std::wstring_view text);  // standard error, UTF-8, with a line end
void fail(const std::string& utf8);

bool wantsHelp(const Args& args);
// Reads a non-negative decimal number; false when the text is not one.
bool parseCount(std::wstring_view text, unsigned long long& value);

// Verbs. `args` excludes the verb itself (and "reg"/"service").
int createCommand(const Args& args);
int pathCommand(const Args& args);
int lsCommand(const Args& args);
int regCommand(const Args& args);
int serviceCommand(const Args& args);
int processCommand(const Args& args);
// The body of a program started by `process start` (hidden verb "__hold").
int holdCommand(const Args& args);
int aclCommand(const Args& args);

}  // namespace mw::machinetool

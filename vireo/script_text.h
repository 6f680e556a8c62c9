// The script texts the extension runs in the authoring tool. Keys, values and paths are put into them
// as script string literals, so a quote or a backslash in a value reaches the tool as written instead
// of ending the literal early.
#pragma once
#include <string>
#include <string_view>

namespace vireo::script {

// The text between the quotes of a double-quoted script string literal that reads back as `text`.
std::wstring literal(std::wstring_view text);

std::wstring readData(std::wstring_view key);
std::wstring writeData(std::wstring_view key, std::wstring_view value);
std::wstring eraseData(std::wstring_view key);
std::wstring publish();
std::wstring documentPath();
// `hostFolder` ends in "/"; `descriptor` is the custom descriptor path, or the default one (the LMV
// folder, the base name and "-app.xml").
std::wstring launchDebugSession(std::wstring_view hostFolder, std::wstring_view descriptor);
// Switches the document to the runtime's publish profile, keeping its six script settings, and publishes.
std::wstring ensureKitePublishProfile();

}  // namespace vireo::script

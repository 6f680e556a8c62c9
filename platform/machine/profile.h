// machine.ini: the machine profile as UTF-8 INI text.
#pragma once
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/machine/machine.h"

namespace win {

// Parses the text of a profile; a line that cannot be read gives false with a message naming
// `source` and the line.
bool parseProfile(std::string_view text, const std::string& source, MachineProfile& out, std::string& error);
std::string profileText(const MachineProfile& profile);

bool readProfile(const std::filesystem::path& file, MachineProfile& out, std::string& error);
bool writeProfile(const std::filesystem::path& file, const MachineProfile& profile, std::string& error);

}  // namespace win

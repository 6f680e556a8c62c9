// Finding the program of a Windows command line the way CreateProcess does.
#pragma once
#include <filesystem>
#include <string>
#include <string_view>

namespace win {

// A quoted program name is taken as written; an unquoted one is tried prefix by prefix at each blank
// ("C:\Program Files\x.exe a" tries "C:\Program.exe", then "C:\Program Files\x.exe"). ".exe" is added
// to a name without extension; a name without a folder is looked for beside this program, in the
// current directory, the system folder and the Windows folder. False with 2 when nothing is found.
// `programEnd` is where the program's text ends in the command line (after a closing quote).
bool findProgram(std::wstring_view commandLine, std::filesystem::path& host, std::size_t& programEnd);

}  // namespace win

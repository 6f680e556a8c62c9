// User texts by dictionary key ("$$$/tvr/..."): the dictionaries of 32 locales travel in the program's
// resource TVRLOCALIZEDSTRINGS/100 (a zip of TVRLocalization/<locale>/TVR.vdct), are unpacked into the
// work folder and read afresh for every lookup.
#pragma once
#include <string>
#include <string_view>

namespace mw {

// The locale folder for a Windows language identifier written as four lower-case hexadecimal digits
// ("0c0a" -> "es_ES"); "en_US" for any identifier not in the table.
std::wstring_view localeFolder(std::wstring_view languageId);

// The user's language identifier as hexadecimal text: the user's default language, else the system's,
// else "0409".
std::wstring userLanguageId();

// Unpacks the dictionaries into <work folder>\TVRLocalizedStrings and returns the dictionary file of the
// user's language there. Empty when the archive cannot be unpacked: a relative path would read whatever
// lies at "\TVRLocalization\..." on the current drive.
std::wstring dictionaryPath();

// The value of `key` in the dictionary file `path`. The key may carry a default after '='
// ("$$$/tvr/x=Text"), returned (escapes processed) when the key is missing. Empty when the file cannot be
// read or neither the key nor a default is there. At most 1024 characters.
std::wstring lookupString(std::wstring_view key, const std::wstring& path);
// The same against dictionaryPath().
std::wstring lookupString(std::wstring_view key);

}  // namespace mw

// The registry editor's text format (.reg, "Windows Registry Editor Version 5.00"): reading and writing.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry.h"

namespace mw::machinetool {

struct RegFileValue {
    std::wstring name;    // empty: the key's default value ("@")
    bool remove = false;  // "name"=-
    win::DWORD type = win::regtype::none;
    std::vector<std::uint8_t> data;
};

struct RegFileKey {
    win::RegRoot root = win::RegRoot::localMachine;
    std::wstring path;    // below the root, no leading or trailing '\'
    bool remove = false;  // [-KEY]: the key and everything below
    std::vector<RegFileValue> values;
};

struct RegFile {
    std::vector<RegFileKey> keys;
};

// Accepts UTF-16LE with a byte-order mark, and UTF-8 or ASCII (with or without a mark). On failure
// `error` says which line and why.
bool parseRegFile(std::string_view bytes, RegFile& out, std::wstring& error);

// UTF-16LE with a byte-order mark and CRLF line ends, as the registry editor writes.
std::string formatRegFile(const RegFile& file);

// One value line without its line end ("name"=..., long hex data wrapped with '\' continuations).
std::wstring formatRegValue(const RegFileValue& value);

}  // namespace mw::machinetool

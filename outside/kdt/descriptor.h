// The application descriptor as the developer tool checks it: parsed with expat, then the runtime's
// rules (namespace, known elements, required ones, values, window combinations, sizes).
#pragma once
#include <string>
#include <vector>

namespace kdt {

// Descriptors of runtime version 1.0 name an http namespace ending in "/1.0" (ours is
// "http://ns.orvex.com/kite/application/1.0"); pre-release ones end in "1.0.M5" / "1.0.M6".

struct IconRef {
    int size = 0;      // 16, 32, 48 or 128
    std::string path;  // package-relative, as written
};

struct Descriptor {
    std::string content;         // initialWindow/content, "%20" read as a blank
    std::vector<IconRef> icons;  // application icons, then every file type's
};

// 0 when the descriptor is usable; otherwise the tool's error number (100-107) with `message` set to
// its output line ("error 105: application.id contains an invalid value").
int checkDescriptor(const std::string& xml, Descriptor& out, std::string& message);

}  // namespace kdt

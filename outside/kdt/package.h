// KITE packages: zip archives holding a "mimetype" entry, the descriptor as
// "META-INF/KITE/application.xml", the content files under their package names, the list of every
// entry's SHA-256 digest ("META-INF/digests.txt") and, when signed, a detached CMS signature over that
// list ("META-INF/signature.p7s").
#pragma once
#include <string>
#include <vector>

namespace kdt {

inline constexpr const char* kMimeType = "application/vnd.orvex.kite-package+zip";
inline constexpr const char* kDescriptorEntry = "META-INF/KITE/application.xml";
inline constexpr const char* kDigestsEntry = "META-INF/digests.txt";
inline constexpr const char* kSignatureEntry = "META-INF/signature.p7s";

struct Entry {
    std::string name;  // package name, '/' separators
    std::string data;
};

// The digest list: one line "<sha256 hex> <name>\n" per entry, in order.
std::string digestList(const std::vector<Entry>& entries);

// Writes the archive to a host file, through a temporary beside it so no half package is left.
bool writeArchive(const std::string& hostPath, const std::vector<Entry>& entries, std::string& error);

}  // namespace kdt

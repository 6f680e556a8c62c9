#include "mendwell/files/file_versioners.h"

#include <boost/regex.hpp>
#include <cstddef>
#include <string>

#include "platform/fs/file.h"
#include "platform/fs/path.h"

namespace mw::versioning {

namespace {

thread_local KeptHead* t_kept = nullptr;

}  // namespace

KeptHead::KeptHead(const std::wstring& path, std::string head)
    : path(path), head(std::move(head)), outer_(t_kept) {
    t_kept = this;
}

KeptHead::~KeptHead() {
    t_kept = outer_;
}

namespace {

// Up to `limit` leading bytes of the file (all of it when shorter). False when it cannot be opened or
// read.
bool readHead(const std::wstring& path, std::size_t limit, std::string& head) {
    if (t_kept && limit <= kHeadBytes && t_kept->path == path) {
        head.assign(t_kept->head, 0, limit);
        return true;
    }
    head.assign(limit, '\0');
    win::File file;
    std::size_t got = 0;
    if (!file.open(path, win::access::read, win::share::read, win::Disposition::openExisting) ||
        !file.read(head.data(), limit, got)) {
        head.clear();
        return false;
    }
    head.resize(got);
    return true;
}

// The content expressions look at the bytes read less the last one, as the product's own tools do.
struct Content {
    const char* begin;
    const char* end;
};
Content content(const std::string& head) {
    return {head.data(), head.data() + (head.empty() ? 0 : head.size() - 1)};
}

bool found(const Content& c, const boost::regex& re) {
    return boost::regex_search(c.begin, c.end, re);
}

bool nameMatches(const std::wstring& path, const boost::wregex& re) {
    return boost::regex_search(path, re);
}

// A captured group as a decimal number; empty is 0, too many digits saturate.
std::uint32_t number(const boost::csub_match& group) {
    std::uint64_t v = 0;
    for (const char* p = group.first; group.matched && p != group.second; ++p) {
        if (*p < '0' || *p > '9') break;
        v = v * 10 + static_cast<std::uint64_t>(*p - '0');
        if (v >= kUnknownPart) return kUnknownPart;
    }
    return static_cast<std::uint32_t>(v);
}

// Searches `re` and takes its four groups as the version.
bool fourGroups(const Content& c, const boost::regex& re, FileVersion& version) {
    boost::cmatch m;
    if (!boost::regex_search(c.begin, c.end, m, re)) return false;
    version = {number(m[1]), number(m[2]), number(m[3]), number(m[4])};
    return true;
}

std::uint32_t bigEndian16(const std::string& head, std::size_t at) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(head[at])) << 8) |
           static_cast<unsigned char>(head[at + 1]);
}

std::uint32_t digitsOf(const std::string& head, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v = v * 10 + static_cast<unsigned char>(head[at + i]);
    return v;
}

bool recognised(int thisKind, int& kind) {
    kind = thisKind;
    return true;
}

}  // namespace

bool CMapVersioner::getVersion(const std::wstring& path, FileVersion& version, int& kind) {
    static const boost::regex marker("begincmap");
    static const boost::regex versionLine(R"(/CMapVersion[\s\t]+(\d+)\.(\d+)\.?(\d*)\.?(\d*)[\s\t]+def)");
    std::string head;
    if (!readHead(path, 8192, head)) return false;
    const Content c = content(head);
    if (!found(c, marker) || !fourGroups(c, versionLine, version)) return false;
    return recognised(kindCMap, kind);
}

bool ColorProfileVersioner::getVersion(const std::wstring& path, FileVersion& version, int& kind) {
    // Judged by the file's own extension: a folder whose name holds "icc" or "csf" makes no profile of
    // the files in it (a zlib1.dll under Plugins\Piccolo would be installed as one).
    static const boost::wregex name(LR"(\.(icm|icc|csf|pf)$)", boost::regex::icase);
    if (!nameMatches(win::fileNamePart(path), name)) return false;
    std::string head;
    if (!readHead(path, 1024, head) || head.size() < 36) return false;
    // The profile header's creation date and time: year, month, day, hours, minutes, seconds.
    const std::uint32_t hours = bigEndian16(head, 30);
    const std::uint32_t minutes = bigEndian16(head, 32);
    const std::uint32_t seconds = bigEndian16(head, 34);
    version = {bigEndian16(head, 24), bigEndian16(head, 26), bigEndian16(head, 28),
               hours * 60 + minutes + (seconds + 1) / 60};
    return recognised(kindColorProfile, kind);
}

bool OTFFontVersioner::getVersion(const std::wstring& path, FileVersion& version, int& kind) {
    static const boost::wregex name(LR"(\.[oO]{1}[tT]{1}[fF]{1}$)");
    static const boost::regex versionText(R"((\d+)\.(\d+)\.?(\d*)\.?(\d*);ORVX;)");
    if (!nameMatches(path, name)) return false;
    std::string head;
    if (!readHead(path, 8192, head) || !fourGroups(content(head), versionText, version)) return false;
    return recognised(kindOTFFont, kind);
}

bool PFBFontVersioner::getVersion(const std::wstring& path, FileVersion& version, int& kind) {
    static const boost::wregex name(LR"(\.[pP]{1}[fF]{1}[bB]{1}$)");
    static const boost::regex versionLine(
        R"(/version[\s\t]+\((\d+)\.(\d+)\.?(\d*)\.?(\d*)\)[\s\t]+readonly[\s\t]+def)");
    if (!nameMatches(path, name)) return false;
    std::string head;
    if (!readHead(path, 4096, head) || !fourGroups(content(head), versionLine, version)) return false;
    return recognised(kindPFBFont, kind);
}

bool UnicodeMapVersioner::getVersion(const std::wstring& path, FileVersion& version, int& kind) {
    static const boost::regex marker(R"(##Orvex File Version: (\d+)\.(\d+)\.?(\d*)\.?(\d*))");
    std::string head;
    if (!readHead(path, 4096, head) || !fourGroups(content(head), marker, version)) return false;
    return recognised(kindUnicodeMap, kind);
}

bool ICUVersioner::getVersion(const std::wstring& path, FileVersion& version, int& kind) {
    std::string head;
    if (!readHead(path, 1024, head) || head.size() < 25) return false;
    const bool converter = head.compare(12, 4, "cnvt") == 0;
    const bool commonData = head[12] == 'C' && head[14] == 'm' && head[16] == 'n' && head[18] == 'D';
    if (!converter && !commonData) return false;
    version = {digitsOf(head, 16), digitsOf(head, 20), 0, 0};
    return recognised(kindICU, kind);
}

bool FontDatabaseVersioner::getVersion(const std::wstring& path, FileVersion& version, int& kind) {
    static const boost::regex marker("Orvex.+Font.+Database");
    static const boost::regex versionText(R"(version=(\d+)\.(\d+)\.?(\d*)\.?(\d*))");
    std::string head;
    if (!readHead(path, 2048, head)) return false;
    const Content c = content(head);
    if (!found(c, marker) || !fourGroups(c, versionText, version)) return false;
    return recognised(kindFontDatabase, kind);
}

bool JSXVersioner::getVersion(const std::wstring& path, FileVersion& version, int& kind) {
    static const boost::regex marker(R"(@@@BUILDINFO@@@.+(\d+)\.(\d+)\.(\d+)\.(\d+))");
    std::string head;
    if (!readHead(path, 1024, head) || !fourGroups(content(head), marker, version)) return false;
    return recognised(kindJSX, kind);
}

}  // namespace mw::versioning

#include "mendwell/files/versioners.h"

#include <exception>

#include "mendwell/files/file_versioners.h"
#include "platform/fs/file.h"
#include "platform/text/text.h"

namespace mw::versioning {

namespace {

std::vector<VersionerFactory>& list() {
    static std::vector<VersionerFactory> factories;
    return factories;
}

// One translation unit holds the registrars, so their order is the order of definition below and the
// linker keeps them whenever getFileVersion is used.
const Versioner<CMapVersioner> cmapRegistrar;
const Versioner<ColorProfileVersioner> colorProfileRegistrar;
const Versioner<OTFFontVersioner> otfFontRegistrar;
const Versioner<PFBFontVersioner> pfbFontRegistrar;
const Versioner<UnicodeMapVersioner> unicodeMapRegistrar;
const Versioner<ICUVersioner> icuRegistrar;
const Versioner<FontDatabaseVersioner> fontDatabaseRegistrar;
const Versioner<JSXVersioner> jsxRegistrar;

}  // namespace

const std::vector<VersionerFactory>& versionerList() {
    return list();
}

void registerVersioner(VersionerFactory factory) {
    list().push_back(factory);
}

int getFileVersion(const char* utf8Path, FileVersion* version, int* kind) {
    if (!utf8Path || !version || !kind) return versionMissingArgument;
    try {
        const std::wstring path = win::fromUtf8(utf8Path);
        if (path.empty()) return versionCannotOpen;
        std::string head(kHeadBytes, '\0');
        {
            win::File probe;
            std::size_t got = 0;
            if (!probe.open(path, win::access::read, win::share::none, win::Disposition::openExisting))
                return versionCannotOpen;
            if (!probe.read(head.data(), head.size(), got)) got = 0;
            head.resize(got);
        }
        const KeptHead kept(path, std::move(head));
        for (VersionerFactory factory : versionerList()) {
            std::unique_ptr<VersionerABC> versioner = factory();
            FileVersion read;
            int readKind = kindNone;
            if (versioner->getVersion(path, read, readKind)) {
                *version = read;
                *kind = readKind;
                return versionRecognised;
            }
        }
        return versionNotRecognised;
    } catch (const std::exception&) {
        // A regular expression that exceeds its matching bounds throws; the caller then overwrites.
        return versionError;
    }
}

}  // namespace mw::versioning

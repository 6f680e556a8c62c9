// The eight file versioners, tried in the order versioners.cpp registers them. Each reads a bounded head
// of the file and keeps no state.
#pragma once
#include <cstddef>
#include <string>

#include "mendwell/files/versioners.h"

namespace mw::versioning {

// The most any versioner reads of a file.
constexpr std::size_t kHeadBytes = 8192;

// While one lives on this thread, the versioners take the head of `path` from it instead of opening
// the file each: the file is read once for all of them.
class KeptHead {
  public:
    KeptHead(const std::wstring& path, std::string head);
    ~KeptHead();
    KeptHead(const KeptHead&) = delete;
    KeptHead& operator=(const KeptHead&) = delete;

    const std::wstring path;
    const std::string head;

  private:
    KeptHead* outer_;
};

// PostScript character maps: "begincmap" and "/CMapVersion a.b[.c[.d]] def".
class CMapVersioner : public VersionerABC {
  public:
    bool getVersion(const std::wstring& path, FileVersion& version, int& kind) override;
};

// ICC colour profiles by name; the version is the header's creation date and time.
class ColorProfileVersioner : public VersionerABC {
  public:
    bool getVersion(const std::wstring& path, FileVersion& version, int& kind) override;
};

// The maker's OpenType fonts: ".otf" files whose head carries "a.b[.c[.d]];ORVX;".
class OTFFontVersioner : public VersionerABC {
  public:
    bool getVersion(const std::wstring& path, FileVersion& version, int& kind) override;
};

// Type 1 fonts in PFB form: "/version (a.b[.c[.d]]) readonly def" in the clear-text part.
class PFBFontVersioner : public VersionerABC {
  public:
    bool getVersion(const std::wstring& path, FileVersion& version, int& kind) override;
};

// Text mapping tables marked "##Orvex File Version: a.b[.c[.d]]".
class UnicodeMapVersioner : public VersionerABC {
  public:
    bool getVersion(const std::wstring& path, FileVersion& version, int& kind) override;
};

// ICU converter tables ("cnvt", or "CmnD" in UTF-16, at byte 12); the version is the format and data
// version bytes of the header.
class ICUVersioner : public VersionerABC {
  public:
    bool getVersion(const std::wstring& path, FileVersion& version, int& kind) override;
};

// The maker's font database: "Orvex … Font … Database" and "version=a.b[.c[.d]]".
class FontDatabaseVersioner : public VersionerABC {
  public:
    bool getVersion(const std::wstring& path, FileVersion& version, int& kind) override;
};

// Scripts stamped "@@@BUILDINFO@@@ … a.b.c.d".
class JSXVersioner : public VersionerABC {
  public:
    bool getVersion(const std::wstring& path, FileVersion& version, int& kind) override;
};

}  // namespace mw::versioning

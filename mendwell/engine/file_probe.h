// What a file operation's validation asks of the machine, and the two changes it makes on the way
// (clearing a read-only bit, creating the target's folders). The live probe asks the machine and acts;
// the pre-flight's probe answers from the machine as the earlier entries of the plan leave it and acts
// on nothing.
#pragma once
#include <string>

namespace mw {

class FileProbe {
  public:
    virtual ~FileProbe() = default;
    virtual bool exists(const std::wstring& path) = 0;
    // MD5 text; empty when the file cannot be read.
    virtual std::wstring md5(const std::wstring& path) = 0;
    virtual bool readOnly(const std::wstring& path) = 0;
    virtual bool clearReadOnly(const std::wstring& path) = 0;
    // createDirectoryTree: every missing folder of `path` but its last component.
    virtual bool createTree(const std::wstring& path) = 0;
    // compareVersions(first, second) as file_checks.h gives it.
    virtual bool compareVersions(const std::wstring& first, const std::wstring& second, int& answer,
                                 int& firstKind) = 0;
};

// The machine itself; checksums of files the pre-flight read come from its memo (digest_memo.h).
FileProbe& liveProbe();
// The machine itself, every checksum read from the file: for a file the entry has just changed.
FileProbe& freshProbe();

}  // namespace mw

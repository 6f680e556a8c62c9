#include "mendwell/engine/file_probe.h"

#include "mendwell/engine/file_checks.h"
#include "mendwell/engine/file_operation.h"

namespace mw {

namespace {

class LiveProbe final : public FileProbe {
  public:
    bool exists(const std::wstring& path) override { return fileExists(path); }
    std::wstring md5(const std::wstring& path) override { return fileMd5Text(path); }
    bool readOnly(const std::wstring& path) override { return isReadOnly(path); }
    bool clearReadOnly(const std::wstring& path) override { return mw::clearReadOnly(path); }
    bool createTree(const std::wstring& path) override { return createDirectoryTree(path); }
    bool compareVersions(const std::wstring& first, const std::wstring& second, int& answer,
                         int& firstKind) override {
        return compareFileVersions(first, second, answer, firstKind);
    }
};

}  // namespace

FileProbe& liveProbe() {
    static LiveProbe probe;
    return probe;
}

}  // namespace mw

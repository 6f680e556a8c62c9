#include "mendwell/engine/file_probe.h"

#include "mendwell/engine/digest_memo.h"

#include "mendwell/engine/file_checks.h"
#include "mendwell/engine/file_operation.h"

namespace mw {

namespace {

class LiveProbe final : public FileProbe {
  public:
    explicit LiveProbe(bool memo) : memo_(memo) {}
    bool exists(const std::wstring& path) override { return fileExists(path); }
    std::wstring md5(const std::wstring& path) override {
        return memo_ ? memoMd5Text(path) : fileMd5Text(path);
    }
    bool readOnly(const std::wstring& path) override { return isReadOnly(path); }
    bool clearReadOnly(const std::wstring& path) override { return mw::clearReadOnly(path); }
    bool createTree(const std::wstring& path) override { return createDirectoryTree(path); }
    bool compareVersions(const std::wstring& first, const std::wstring& second, int& answer,
                         int& firstKind) override {
        return compareFileVersions(first, second, answer, firstKind);
    }

  private:
    const bool memo_;
};

}  // namespace

FileProbe& liveProbe() {
    static LiveProbe probe(true);
    return probe;
}

FileProbe& freshProbe() {
    static LiveProbe probe(false);
    return probe;
}

}  // namespace mw

// Writes the manifest, the payload archive and the binary patch tool from the program's resources into
// the work folder and unpacks the payload into the staging area.
#pragma once
#include <string>

namespace win {
class Module;
}

namespace mw {

class PayloadExtractor {
  public:
    // Does all the work; in rollback mode it only names the rollback manifest.
    explicit PayloadExtractor(const win::Module& module);

    const std::wstring& manifestPath() const { return manifestPath_; }
    const std::wstring& stagingAreaPath() const { return stagingArea_; }
    const std::wstring& quadrelFolder() const { return quadrelFolder_; }
    const std::wstring& archivePath() const { return archivePath_; }
    bool succeeded() const { return success_; }

  private:
    std::wstring manifestPath_;
    std::wstring stagingArea_;
    std::wstring quadrelFolder_;
    std::wstring archivePath_;
    bool success_ = false;
};

}  // namespace mw

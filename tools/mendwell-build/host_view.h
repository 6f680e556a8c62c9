// Host files read as the patcher reads files: through a machine. A file inside the current machine is
// read under its Windows path there; any other through a scratch machine whose drive H: is the host's
// root, so that each file keeps its own folder names (they matter to the colour-profile test).
#pragma once
#include <filesystem>
#include <string>

namespace mwbuild {

class HostView {
  public:
    HostView() = default;
    HostView(const HostView&) = delete;
    HostView& operator=(const HostView&) = delete;
    ~HostView();

    // The Windows path under which a host file is read; empty (with `error`) when no view can be made.
    std::wstring hostFile(const std::filesystem::path& file, std::string& error);
    // Back to the machine the tool started with, for Windows paths.
    bool useOriginal(std::string& error);

  private:
    bool useScratch(std::string& error);

    std::filesystem::path original_;
    std::filesystem::path scratch_;
    bool onOriginal_ = true;
};

}  // namespace mwbuild

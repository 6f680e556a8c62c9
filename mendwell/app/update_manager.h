// Working with the update manager through the Verdicta library carried in the program: detecting that
// it started the patcher, and reporting the outcome in its result file.
#pragma once
#include <cstdint>
#include <string>

#include "platform/system/library.h"

namespace mw {

// The Verdicta library written from the program's resources into the work folder.
class VerdictaLibrary {
  public:
    using SetVerdictaFn = int (*)(std::int32_t code, const char* message);
    using GetClientAppPathFn = int (*)(std::uint32_t* size, char* buffer);

    // Creates the work folder and logs the path ("new hQUDModule"): once where the path is built.
    static std::wstring path();
    // The same path for the loads that follow, without logging it again.
    static std::wstring location();

    bool load(const std::wstring& path);  // LoadLibraryW on the path() the caller built
    // Frees the library with the two closing log lines; nothing when not loaded.
    void unload();
    bool isLoaded() const { return library_.isLoaded(); }
    SetVerdictaFn setVerdicta() const { return library_.function<SetVerdictaFn>("QUDSetVerdicta"); }
    GetClientAppPathFn getClientAppPath() const {
        return library_.function<GetClientAppPathFn>("QUDGetClientAppPath");
    }

  private:
    win::Library library_;
};

// The install path the update manager reported, without a trailing backslash; empty when the patcher
// was not started by the update manager (or the library cannot be extracted or loaded). Leaves the
// provisional failure report "Updater did not Worked" (code 4) in the result file.
std::wstring detectUpdateManager();

// The update-manager mode: 2 when the update manager did not start the patcher, else 0, 4, 5 (product not
// located), 6, 9 or 13.
int runUpdateManagerMode();

}  // namespace mw

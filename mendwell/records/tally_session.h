// One use of the installed-product database library: loads orvex_tally (extracted from the program's
// "TALLY" resource into the work folder when it is not there yet), opens a session, answers queries,
// and commits, closes and frees everything when it goes. Every failure gives an empty answer.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "outside/tally/tally_api.h"
#include "platform/resources/resources.h"
#include "platform/system/library.h"

namespace mw {

struct TallyTimestamps {
    std::int32_t tsInstalled = 0;
    std::int32_t tsModified = 0;
};

class TallySession {
  public:
    TallySession();  // the library from this program's resources
    explicit TallySession(const win::Module& module);
    ~TallySession();
    TallySession(const TallySession&) = delete;
    TallySession& operator=(const TallySession&) = delete;

    bool isLoaded() const { return library_.isLoaded(); }
    // Where the library is written and loaded from: work folder + "\TALLY\orvex_tally.dll".
    static std::wstring libraryPath();

    // Payload ids are UTF-8, as the library takes them.
    std::wstring queryInstallDir(std::string_view payloadId);
    std::wstring queryInstallLanguage(std::string_view payloadId);
    std::wstring queryProductCode(std::string_view payloadId);
    std::wstring queryVersion(std::string_view payloadId);
    std::wstring queryCollectionId(std::string_view payloadId);
    std::optional<TallyTimestamps> queryTimestamps(std::string_view collectionId);

  private:
    void open(const win::Module& module);
    void close();
    // Looks the export up with the log lines every query writes; nullptr when it cannot be used.
    void* function(const char* name) const;
    void functionCalled(const char* name) const;
    std::wstring payloadText(std::string_view payloadId, const char* name, bool& called, bool& ok);

    win::Library library_;
    TallyHandle handle_ = nullptr;
};

// A code or id as the library takes it: UTF-8, cut to fit 1024 bytes.
std::string tallyId(std::wstring_view text);

}  // namespace mw

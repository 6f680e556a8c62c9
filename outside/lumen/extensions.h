// Native extensions: every library in the tool's "Configuration\External Libraries" folder is loaded and
// given the entry table through its RW_InitWrapper.
#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "outside/lumen/script_host.h"
#include "platform/system/library.h"

namespace lumen {

class Extensions {
  public:
    // `tableBytes`: the size passed with the table (the whole table unless told otherwise).
    Extensions(ScriptHost& host, std::size_t tableBytes);
    // Loads and initialises every "*.dll" of `folder`; reports each library that cannot be used.
    void loadFolder(const std::wstring& folder);
    std::size_t count() const { return libraries_.size(); }

    struct Loaded {
        std::wstring name;  // file name without ".dll": the script object its functions hang on
        win::Library library;
        ScriptHost* host = nullptr;
    };

  private:
    ScriptHost& host_;
    std::size_t tableBytes_;
    std::vector<std::unique_ptr<Loaded>> libraries_;
};

}  // namespace lumen

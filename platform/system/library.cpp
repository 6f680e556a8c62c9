#include <dlfcn.h>

#include <filesystem>

#include "platform/fs/path.h"
#include "platform/system/library.h"
#include "platform/win.h"

namespace win {

Library::~Library() {
    free();
}

bool Library::load(std::wstring_view windowsPath) {
    free();
    std::filesystem::path host;
    std::error_code ec;
    if (!hostPath(windowsPath, host) || !std::filesystem::is_regular_file(host, ec)) {
        setLastError(err::modNotFound);
        return false;
    }
    handle_ = ::dlopen(host.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        setLastError(err::modNotFound);
        return false;
    }
    setLastError(err::success);
    return true;
}

void* Library::symbol(const char* name) const {
    void* p = handle_ && name ? ::dlsym(handle_, name) : nullptr;
    setLastError(p ? err::success : err::procNotFound);
    return p;
}

void Library::free() {
    if (handle_) ::dlclose(handle_);
    handle_ = nullptr;
}

}  // namespace win

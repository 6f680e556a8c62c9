// Dynamic libraries by file and exported name (LoadLibraryW / GetProcAddress / FreeLibrary).
#pragma once
#include <filesystem>
#include <string>
#include <string_view>

namespace win {

class Library {
  public:
    Library() = default;
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    bool load(std::wstring_view windowsPath);  // 126 when missing or not loadable
    void* symbol(const char* name) const;      // nullptr with 127 when not exported
    template <class F>
    F function(const char* name) const {
        return reinterpret_cast<F>(symbol(name));
    }
    bool isLoaded() const { return handle_ != nullptr; }
    void free();

  private:
    void* handle_ = nullptr;
};

// GetModuleHandleW + GetModuleFileNameW: the host file of a library this process has loaded, found by
// its file name ("Vireo.dll"), compared without regard to case. False with 126 when none is loaded.
bool loadedModuleFile(std::wstring_view fileName, std::filesystem::path& hostFile);

}  // namespace win

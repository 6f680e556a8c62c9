// A named mutex shared by all processes of the machine; released by the system when its holder dies.
#pragma once
#include <string>
#include <string_view>

namespace win {

class NamedMutex {
  public:
    NamedMutex() = default;
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    // CreateMutexW(owned): true when the mutex is now held by this object; `alreadyExists` is true
    // (last error 183) when another holder has it, and then it is not held.
    bool create(std::wstring_view name, bool& alreadyExists);
    void release();
    bool held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

}  // namespace win

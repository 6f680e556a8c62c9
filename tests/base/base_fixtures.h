// Fixtures for the shell tests: zip archives built with minizip, programs carrying resources, and
// reading a patch log back.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/resources/resources.h"
#include "tests/support/logfile.h"
#include "tests/support/testmachine.h"

namespace shell_test {

struct ZipItem {
    std::string name;
    std::string data;
    bool stored = false;                                                        // method 0 instead of deflate
    bool utf8 = false;                                                          // general-purpose flag bit 11
    int year = 2009, month = 3, day = 15, hour = 10, minute = 20, second = 30;  // local DOS time
};

// The bytes of a zip archive holding `items` in order.
std::string makeZip(const std::vector<ZipItem>& items);

// A file carrying a resource table, opened as a module. The file lives in its own temporary folder.
class ResourceModule {
  public:
    ResourceModule() = default;
    void add(std::wstring type, std::uint16_t id, std::string_view data, std::uint16_t language = 0);
    // Writes the file and opens it; throws on failure.
    const win::Module& build();

  private:
    testing_support::TempDir dir_;
    win::ResourceWriter writer_;
    win::Module module_;
};

using testing_support::LogLine;
using testing_support::messagesOf;
using testing_support::parseTextLog;

// Opens the process-wide log in text format at level 3 on a file of the current machine for the
// lifetime of the object; contents() closes it and returns its records.
class CapturedLog {
  public:
    CapturedLog(const testing_support::TestMachine& machine, int level = 3);
    ~CapturedLog();
    std::vector<LogLine> lines();

  private:
    const testing_support::TestMachine& machine_;
};

}  // namespace shell_test

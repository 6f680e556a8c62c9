// The result file the update manager reads after the installer ends:
//   <?xml version="1.0" encoding="UTF-8" ?>
//   <Verdicta version="5">
//   <ReturnCode>code</ReturnCode>
//   <UserMessage>message</UserMessage>
//   </Verdicta>
// each line ending in CR LF. Every write replaces the whole file.
#pragma once
#include <cstdint>
#include <string>

namespace verdicta {

class ResultReport {
  public:
    ResultReport(std::string path, std::uint32_t code, std::string message)
        : path_(std::move(path)), code_(code), message_(std::move(message)) {}

    // False when the path is empty or the file cannot be opened; then nothing is written.
    bool write() const;

  private:
    std::string path_;  // UTF-8
    std::uint32_t code_;
    std::string message_;  // UTF-8
};

}  // namespace verdicta

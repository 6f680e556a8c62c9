// The output file stream the result file is written through: a file opened by a UTF-8 path with a C
// mode ("w" text, "wb" binary; both truncate), shared for reading only while it is open.
#pragma once
#include <string>
#include <string_view>

#include "platform/fs/file.h"

namespace verdicta {

class ESDofstream {
  public:
    ESDofstream() = default;
    ~ESDofstream() { close(); }
    ESDofstream(const ESDofstream&) = delete;
    ESDofstream& operator=(const ESDofstream&) = delete;

    // False when the mode is not one of the above or the file cannot be opened (e.g. another writer
    // holds it).
    bool open(std::string_view utf8Path, std::string_view mode);
    bool isOpen() const { return file_.isOpen(); }
    // In text mode every line feed goes out as CR LF, as the C runtime writes it.
    ESDofstream& operator<<(std::string_view text);
    // False when something written since the last flush did not reach the file.
    bool flush();
    void close();

  private:
    win::File file_;
    std::string buffer_;
    bool text_ = true;
    bool failed_ = false;
};

}  // namespace verdicta

#include "verdicta/esd_ofstream.h"

#include "platform/text/text.h"

namespace verdicta {

bool ESDofstream::open(std::string_view utf8Path, std::string_view mode) {
    close();
    const std::wstring wideMode = win::fromUtf8(mode);
    if (wideMode != L"w" && wideMode != L"wt" && wideMode != L"wb") return false;
    text_ = wideMode != L"wb";
    failed_ = false;
    // Other readers may look while it is written; no second writer can interleave.
    return file_.open(win::fromUtf8(utf8Path), win::access::write, win::share::read,
                      win::Disposition::createAlways);
}

ESDofstream& ESDofstream::operator<<(std::string_view text) {
    if (!isOpen()) return *this;
    for (char c : text) {
        if (text_ && c == '\n') buffer_ += '\r';
        buffer_ += c;
    }
    return *this;
}

bool ESDofstream::flush() {
    if (!isOpen()) return false;
    if (!buffer_.empty() && !file_.write(buffer_.data(), buffer_.size())) failed_ = true;
    buffer_.clear();
    if (!file_.flush()) failed_ = true;
    return !failed_;
}

void ESDofstream::close() {
    if (!isOpen()) return;
    flush();
    file_.close();
}

}  // namespace verdicta

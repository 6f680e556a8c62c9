// The engine entry: finds the folder and the difference file in its argument text, checks the old
// file, applies the difference into a file beside it and renames that into place.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "outside/quadrel/differ.h"
#include "outside/quadrel/host_map.h"
#include "outside/quadrel/md5.h"
#include "outside/quadrel/quadrel_api.h"
#include "platform/fs/file.h"
#include "platform/fs/path.h"
#include "platform/system/system.h"
#include "platform/text/text.h"

namespace quadrel {
namespace {

constexpr std::uint64_t kTickBytes = 4u << 20;

class Talk {
  public:
    explicit Talk(QuadrelCallback cb) : cb_(cb) {}
    // False when the front end answered nothing: the user asked to stop.
    bool say(int message, const std::wstring& text) {
        std::string oem;
        win::toCodePage(text, win::oemCodePage(), oem);
        return cb_(message, oem.data()) != nullptr;
    }
    bool tick() { return cb_(msg::kTick, nullptr) != nullptr; }
    // The new path the user typed, or nothing when they chose to stop.
    bool askDiff(std::wstring& path) {
        const void* answer = cb_(msg::kAskDiff, nullptr);
        if (answer == nullptr) return false;
        std::wstring text;
        win::fromCodePage(static_cast<const char*>(answer), win::oemCodePage(), text);
        if (text.empty()) return false;
        path = text;
        return true;
    }
    bool renamed(const std::wstring& from, const std::wstring& to) {
        std::u16string a = utf16(from), b = utf16(to);
        RenameRecord record{a.c_str(), b.c_str(), 1, 1, 0};
        return cb_(msg::kRenamed, &record) != nullptr;
    }

  private:
    static std::u16string utf16(const std::wstring& s) {
        const std::string bytes = win::toUtf16le(s);
        std::u16string out(bytes.size() / 2, u'\0');
        for (std::size_t i = 0; i < out.size(); ++i)
            out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                           (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
        return out;
    }
    QuadrelCallback cb_;
};

class FileReader : public DiffReader {
  public:
    FileReader(win::File& file, std::uint64_t size) : file_(file), size_(size) {}
    std::uint64_t size() const override { return size_; }
    bool readAt(std::uint64_t offset, void* buffer, std::size_t count) override {
        if (offset > size_ || count > size_ - offset || !file_.seek(offset)) return false;
        auto* p = static_cast<std::uint8_t*>(buffer);
        while (count > 0) {
            std::size_t got = 0;
            if (!file_.read(p, count, got) || got == 0) return false;
            p += got;
            count -= got;
        }
        return true;
    }

  private:
    win::File& file_;
    std::uint64_t size_;
};

// Writes the new file, keeping its checksum and telling the front end how far it is.
class FileSink : public NewSink {
  public:
    FileSink(win::File& file, std::uint64_t total, Talk& talk) : file_(file), total_(total), talk_(talk) {}
    Outcome write(const std::uint8_t* data, std::size_t size) override {
        if (!file_.write(data, size)) return Outcome::writeFailed;
        md5_.update(data, size);
        written_ += size;
        if (written_ - lastTick_ >= kTickBytes) {
            lastTick_ = written_;
            if (!talk_.tick()) return Outcome::stopped;
        }
        const int tenth = total_ == 0 ? 10 : static_cast<int>(written_ * 10 / total_);
        if (tenth > lastTenth_) {
            lastTenth_ = tenth;
            if (!talk_.say(msg::kProgress, std::to_wstring(tenth * 10) + L"% patched\n")) return Outcome::stopped;
        }
        return Outcome::ok;
    }
    Md5 finish() { return md5_.finish(); }

  private:
    win::File& file_;
    std::uint64_t total_;
    Talk& talk_;
    Md5Stream md5_;
    std::uint64_t written_ = 0;
    std::uint64_t lastTick_ = 0;
    int lastTenth_ = 0;
};

// The folder and the difference file: the first two double-quoted operands, so whatever comes before
// the first quote (the rest of an unquoted tool path holding a blank) is skipped. Text without two
// quoted operands (a tool started from a shell) gives its last two arguments instead.
std::vector<std::wstring> operands(const std::wstring& text) {
    std::vector<std::wstring> out;
    std::size_t at = 0;
    while (out.size() < 2) {
        const std::size_t open = text.find(L'"', at);
        if (open == std::wstring::npos) break;
        const std::size_t close = text.find(L'"', open + 1);
        if (close == std::wstring::npos) break;
        out.push_back(text.substr(open + 1, close - open - 1));
        at = close + 1;
    }
    if (out.size() == 2) return out;
    // Blank-separated words (quotes group); the platform's command-line splitter is kept out of this
    // library, whose copy of the layer must not take the tool's start-up command line for itself.
    std::vector<std::wstring> words;
    std::wstring word;
    bool quoted = false, inWord = false;
    for (wchar_t c : text) {
        if (c == L'"') {
            quoted = !quoted;
            inWord = true;
        } else if ((c == L' ' || c == L'\t') && !quoted) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word.push_back(c);
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    if (words.size() < 2) return {};
    return {words[words.size() - 2], words[words.size() - 1]};
}

std::int32_t fail(Talk& talk, std::int32_t result, const std::wstring& text) {
    talk.say(msg::kDone, text);
    return result;
}

std::int32_t run(const std::wstring& text, Talk& talk) {
    const std::vector<std::wstring> ops = operands(text);
    if (ops.size() < 2 || ops[0].empty() || ops[1].empty())
        return fail(talk, kBadArguments, L"Usage: patch \"FOLDER\" \"DIFFERENCE.QDR\"\n");
    const std::wstring& folder = ops[0];
    std::wstring diffPath = ops[1];
    while (!win::pathExists(diffPath) || win::isDirectory(diffPath)) {
        if (!talk.askDiff(diffPath)) return kUserStop;
    }

    win::File diffFile;
    std::uint64_t diffSize = 0;
    if (!diffFile.open(diffPath, win::access::read, win::share::read, win::Disposition::openExisting) ||
        !diffFile.size(diffSize))
        return fail(talk, kCorruptDiff, L"Cannot read the difference file " + diffPath + L"\n");
    FileReader reader(diffFile, diffSize);
    Header header;
    if (!parseHeader(reader, header))
        return fail(talk, kCorruptDiff, diffPath + L" is not a valid difference file\n");

    const std::wstring name = win::fromUtf8(header.name);
    const std::wstring target = win::combine(folder, name);
    const std::wstring work = target + L".qdnew";
    if (!talk.say(msg::kStart, L"Patching " + target + L" (" + win::fromUtf8(methodName(header.method)) + L")\n"))
        return kUserStop;

    std::filesystem::path oldHost;
    HostMap old;
    if (win::isDirectory(target) || !win::hostPath(target, oldHost) || !win::pathExists(target))
        return fail(talk, kOldMissing, target + L" is not present\n");
    if (!old.open(oldHost)) return fail(talk, kOldMissing, target + L" cannot be read\n");
    const Md5 oldMd5 = md5Of(old.bytes());
    if (old.bytes().size() != header.oldSize || oldMd5 != header.oldMd5) {
        if (old.bytes().size() == header.newSize && oldMd5 == header.newMd5)
            return fail(talk, kApplied, target + L" is already up to date\n");
        return fail(talk, kOldMismatch, target + L" is not the file this difference was made from\n");
    }

    win::File out;
    if (!out.open(work, win::access::write, win::share::none, win::Disposition::createAlways))
        return fail(talk, kWriteFailed, L"Cannot create " + work + L"\n");
    FileSink sink(out, header.newSize, talk);
    Outcome outcome = applyDifference(header, reader, old.bytes(), sink);
    if (outcome == Outcome::ok && sink.finish() != header.newMd5) outcome = Outcome::corrupt;
    if (outcome == Outcome::ok && !out.flush()) outcome = Outcome::writeFailed;
    out.close();
    diffFile.close();
    old.close();
    if (outcome != Outcome::ok) {
        win::deleteFile(work);
        switch (outcome) {
            case Outcome::stopped: return kUserStop;
            case Outcome::writeFailed: return fail(talk, kWriteFailed, L"Cannot write " + work + L"\n");
            default: return fail(talk, kCorruptDiff, diffPath + L" is damaged\n");
        }
    }
    if (!talk.say(msg::kVerify, L"Checksum of the new " + name + L" verified\n")) {
        win::deleteFile(work);
        return kUserStop;
    }

    // A read-only old file is replaced all the same and the new one keeps its attributes.
    const win::DWORD attributes = win::getFileAttributes(target);
    const bool readOnly = attributes != win::attr::invalid && (attributes & win::attr::readOnly) != 0;
    if (readOnly) win::setFileAttributes(target, attributes & ~win::attr::readOnly);
    if (!win::moveFile(work, target, win::moveflag::replaceExisting | win::moveflag::writeThrough)) {
        if (readOnly) win::setFileAttributes(target, attributes);
        win::deleteFile(work);
        return fail(talk, kWriteFailed, L"Cannot replace " + target + L"\n");
    }
    if (readOnly) win::setFileAttributes(target, attributes);
    talk.renamed(work, target);
    talk.say(msg::kDone, L"Patched " + target + L"\n");
    return kApplied;
}

}  // namespace
}  // namespace quadrel

extern "C" std::int32_t QuadrelOrdinal1(const char* arguments, QuadrelCallback callback, std::int32_t mode) {
    if (callback == nullptr) return quadrel::kBadArguments;
    quadrel::Talk talk(callback);
    std::wstring text;
    win::fromCodePage(arguments == nullptr ? "" : arguments, win::oemCodePage(), text);
    return quadrel::run(text, talk);
}

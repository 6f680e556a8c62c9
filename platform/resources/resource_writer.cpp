#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/resources/mapped_file.h"
#include "platform/resources/resources.h"
#include "platform/resources/table_format.h"

namespace win {

namespace {

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool sameResource(const ResourceEntry& a, const ResourceEntry& b) {
    if (a.id != b.id || a.language != b.language || a.type.index() != b.type.index()) return false;
    if (const auto* n = std::get_if<std::uint16_t>(&a.type)) return *n == std::get<std::uint16_t>(b.type);
    rsrc::TableEntry probe;
    probe.typeIsName = true;
    probe.typeName = std::get<std::wstring>(a.type);
    return rsrc::sameType(probe, b.type);
}

}  // namespace

void ResourceWriter::add(ResourceId type, std::uint16_t id, std::uint16_t language,
                         std::vector<std::uint8_t> data) {
    ResourceEntry entry{std::move(type), id, language, std::move(data)};
    // UpdateResource semantics: a second add of the same resource replaces the first.
    for (auto& e : entries_) {
        if (sameResource(e, entry)) {
            e = std::move(entry);
            return;
        }
    }
    entries_.push_back(std::move(entry));
}

bool ResourceWriter::write(const std::filesystem::path& program, const std::filesystem::path& output,
                           std::string& error) const {
    for (const auto& e : entries_) {
        const auto* name = std::get_if<std::wstring>(&e.type);
        if (name && (name->empty() || name->size() > 256)) {
            error = "resource type name empty or longer than 256 characters";
            return false;
        }
    }
    rsrc::MappedFile in;
    if (!in.open(program)) {
        error = "cannot read " + program.string() + ": " + std::strerror(errno);
        return false;
    }
    rsrc::Table old;
    rsrc::parseTable(in.bytes(), old);
    auto programBytes = in.bytes().first(old.programSize);
    auto table = rsrc::buildTable(programBytes.size(), entries_);

    // Written beside the output and renamed over it, so a failure never leaves a half-written program
    // and `output` may be `program` itself.
    std::filesystem::path temp = output;
    temp += ".part";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755);
    if (fd < 0) {
        error = "cannot create " + temp.string() + ": " + std::strerror(errno);
        return false;
    }
    bool ok =
        writeAll(fd, programBytes.data(), programBytes.size()) && writeAll(fd, table.data(), table.size());
    ok = ::fchmod(fd, 0755) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    in.close();
    if (!ok || std::rename(temp.c_str(), output.c_str()) != 0) {
        error = "cannot write " + output.string() + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace win

#include "tools/mendwell-build/host_view.h"

#include <random>
#include <system_error>

#include "platform/fs/path.h"
#include "platform/machine/machine.h"
#include "platform/text/text.h"

namespace mwbuild {

namespace fs = std::filesystem;

HostView::~HostView() {
    if (scratch_.empty()) return;
    std::string error;
    if (!original_.empty()) win::Machine::select(original_, error);
    std::error_code ec;
    fs::remove_all(scratch_, ec);
}

std::wstring HostView::hostFile(const fs::path& file, std::string& error) {
    const fs::path absolute = fs::absolute(file);
    if (!useOriginal(error)) return {};
    std::wstring inMachine = win::windowsPath(absolute);
    if (!inMachine.empty()) return inMachine;
    if (!useScratch(error)) return {};
    std::wstring path = L"H:";
    for (wchar_t c : win::fromUtf8(absolute.lexically_normal().string()))
        path.push_back(c == L'/' ? L'\\' : c);
    return path;
}

bool HostView::useOriginal(std::string& error) {
    if (scratch_.empty() || onOriginal_) return true;
    onOriginal_ = win::Machine::select(original_, error);
    return onOriginal_;
}

bool HostView::useScratch(std::string& error) {
    if (scratch_.empty()) {
        const win::Machine& current = win::Machine::current();
        if (current.ok()) original_ = current.root();
        std::error_code ec;
        fs::path root =
            fs::temp_directory_path(ec) / ("mendwell-inspect-" + std::to_string(std::random_device{}()));
        if (ec || !win::Machine::create(root, win::MachineProfile{}, error)) return false;
        scratch_ = root;
        fs::create_directory_symlink("/", root / "drive_h", ec);
        if (ec) {
            error = "cannot map the host's files: " + ec.message();
            return false;
        }
    } else if (!onOriginal_) {
        return true;
    }
    onOriginal_ = false;
    return win::Machine::select(scratch_, error);
}

}  // namespace mwbuild

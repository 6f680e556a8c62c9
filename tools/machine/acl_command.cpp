// acl: the access list a program set on a file (the machine records it without enforcing it).
#include "platform/system/file_security.h"
#include "platform/text/text.h"
#include "tools/machine/command.h"

namespace mw::machinetool {
namespace {

constexpr const wchar_t* kAclHelp =
    L"usage: machine acl WINPATH\n"
    L"Shows a file's discretionary access list: \"inherited\" (from its folder, nothing set) or\n"
    L"\"null (every account has full access)\".";

}  // namespace

int aclCommand(const Args& args) {
    if (wantsHelp(args)) {
        out(kAclHelp);
        return kSuccess;
    }
    if (args.size() != 1) {
        fail(kAclHelp);
        return kUsage;
    }
    win::FileDacl dacl = win::FileDacl::inherited;
    if (!win::getFileDacl(args[0], dacl)) {
        fail(args[0] + L": not found (error " + std::to_wstring(win::lastError()) + L")");
        return kFailure;
    }
    out(args[0] + L": DACL " +
        (dacl == win::FileDacl::null ? L"null (every account has full access)" : L"inherited"));
    return kSuccess;
}

}  // namespace mw::machinetool

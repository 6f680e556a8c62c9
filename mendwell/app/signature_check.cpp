#include "mendwell/app/signature_check.h"

#include <vector>

#include "mendwell/app/startup.h"
#include "mendwell/app/update_manager.h"
#include "mendwell/base/localized_strings.h"
#include "mendwell/base/patchlog.h"
#include "mendwell/files/patcher_signature.h"
#include "mendwell/resources/wizard_dialog.h"
#include "platform/registry/registry.h"
#include "platform/resources/resources.h"
#include "platform/system/system.h"
#include "platform/text/format.h"
#include "platform/text/text.h"
#include "platform/ui/dialog.h"
#include "platform/ui/messagebox.h"

namespace mw {

namespace {

struct Judgement {
    bool done = false;
    PatcherSignatureCheck check;
    SignatureVerdict verdict;
    std::vector<std::wstring> policyErrors;    // a policy that cannot be read accepts no signer
    std::vector<std::wstring> policyWarnings;  // words of the policy that are no fingerprint
};

Judgement& judgement() {
    static Judgement j;
    return j;
}

const std::wstring kPolicyPlace = std::wstring(L"HKLM\\") + kSignerPolicyKey + L" " + kSignerPolicyValue;

// A policy that exists but cannot be read is a policy that names no one: every patch is refused.
SignerPolicy readPolicy(Judgement& j) {
    win::RegKey key;
    win::LONG rc = key.open(win::RegRoot::localMachine, kSignerPolicyKey);
    win::DWORD type = 0;
    std::vector<std::uint8_t> data;
    if (rc == win::err::success) rc = key.queryValue(kSignerPolicyValue, type, data);
    if (rc == win::err::fileNotFound) return {};
    SignerPolicy unreadable;
    unreadable.present = true;
    if (rc != win::err::success) {
        j.policyErrors.push_back(win::format(L"The machine's signing policy (%s) cannot be read (error %d).",
                                             kPolicyPlace, static_cast<int>(rc)));
        return unreadable;
    }
    std::vector<std::wstring> texts;
    if (type == win::regtype::multiSz)
        texts = win::regDataMultiString(data);
    else if (type == win::regtype::sz || type == win::regtype::expandSz)
        texts.push_back(win::regDataString(data));
    else {
        j.policyErrors.push_back(
            win::format(L"The machine's signing policy (%s) is not a text value.", kPolicyPlace));
        return unreadable;
    }
    std::vector<std::wstring> rejected;
    SignerPolicy policy = parseSignerPolicy(texts, rejected);
    for (const std::wstring& word : rejected)
        j.policyWarnings.push_back(win::format(
            L"The machine's signing policy (%s) names \"%s\", which is not a key fingerprint; it is ignored.",
            kPolicyPlace, word));
    return policy;
}

// A text the refusal shows: from the dictionaries only when the signature vouches for them.
std::wstring refusalText(const wchar_t* key, const wchar_t* english) {
    const Judgement& j = judgement();
    if (j.verdict.trusted && j.check.proves(std::wstring(L"TVRLOCALIZEDSTRINGS"), 100)) {
        std::wstring text = lookupString(key);
        if (!text.empty()) return text;
    }
    return english;
}

const wchar_t* const kNotApplied = L"The update cannot be applied to the product.";

int refuseSilently(const std::wstring& commandLine) {
    const bool check = commandLine.find(L"CHECK") != std::wstring::npos;
    win::printToParentConsole(win::format(check
                                              ? L"\r\nCheck: the patch cannot be applied.\r\nReturn code: %d"
                                              : L"\r\nPatcher is unsuccessful.\r\nReturn code: %d",
                                          static_cast<int>(returnValidationRefused)));
    return returnValidationRefused;
}

// The update manager's result comes through the Verdicta library the patcher carries: it is loaded only
// when the signature vouches for it, so a refused patcher never runs code of its own resources.
bool refuseForUpdateManager() {
    const Judgement& j = judgement();
    if (!(j.verdict.trusted && j.check.proves(std::wstring(L"QUDLIB"), 100))) {
        const std::optional<std::wstring> reported = win::getEnv(L"QUD_APP_INSTALL_PATH");
        if (!reported || reported->empty()) return false;
        logError(
            L"The update manager gets no result file: the QUD library this patcher carries is not "
            L"vouched for by an accepted signature.");
        return true;
    }
    if (detectUpdateManager().empty()) return false;
    VerdictaLibrary library;
    if (library.load(VerdictaLibrary::location())) {
        if (const auto setVerdicta = library.setVerdicta())
            setVerdicta(
                4, win::toUtf8(refusalText(L"$$$/tvr/error/message/patchNotApplied", kNotApplied)).c_str());
        library.unload();
    }
    return true;
}

void showRefusalPage() {
    std::vector<std::string> script = win::ui::scriptFromEnvironment();
    const std::unique_ptr<win::ui::DialogBackend> backend = win::ui::makeDialogBackend(!script.empty());
    win::ui::Dialog dialog(wizardDialogTemplate(), *backend);
    dialog.setScript(std::move(script));
    dialog.onInit([&] {
        dialog.setCaption(refusalText(L"$$$/tvr/heading/caption", L"Orvex Software Update"));
        dialog.setText(idcHeading, refusalText(L"$$$/tvr/heading/installationUnsuccessful",
                                               L"Installation was Unsuccessful."));
        dialog.setText(idcMainMessage, refusalText(L"$$$/tvr/error/message/patchNotApplied", kNotApplied));
        dialog.show(idcRunningApps, false);
        dialog.show(idcStatus, false);
        dialog.show(idcCancel, false);
        dialog.setText(idcNext, refusalText(L"$$$/tvr/alert/finish", L"Finish"));
    });
    dialog.onCommand(idcNext, [&] { dialog.end(win::idbutton::ok); });
    dialog.onCommand(idcCancel, [&] { dialog.end(win::idbutton::cancel); });
    dialog.runModal();
}

}  // namespace

void checkOwnSignature() {
    Judgement& j = judgement();
    if (j.done) return;
    j.done = true;
    j.check = checkPatcherFile(win::Module::self().image());
    j.verdict = judgePatcher(j.check, readPolicy(j));
}

std::optional<int> refuseUntrustedPatcher(const std::wstring& commandLine) {
    // The silent mode refuses SILENT without its dash before it takes anything out of the patcher: that
    // run ends on its usage error alone.
    if (commandLine.find(L"SILENT") != std::wstring::npos &&
        commandLine.find(L"-SILENT") == std::wstring::npos)
        return std::nullopt;
    checkOwnSignature();
    const Judgement& j = judgement();
    for (const std::wstring& line : j.policyErrors) logError(L"%s", line);
    for (const std::wstring& line : j.policyWarnings) logWarning(L"%s", line);
    if (j.verdict.run) {
        for (const std::wstring& line : j.verdict.lines) {
            if (j.verdict.warn)
                logWarning(L"%s", line);
            else
                logInfo(L"%s", line);
        }
        return std::nullopt;
    }
    for (const std::wstring& line : j.verdict.lines) logError(L"%s", line);
    logError(L"The patcher is refused: nothing was changed.");
    if (commandLine.find(L"SILENT") != std::wstring::npos) return refuseSilently(commandLine);
    if (refuseForUpdateManager()) return returnValidationRefused;
    showRefusalPage();
    return returnFailed;
}

}  // namespace mw

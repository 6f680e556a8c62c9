#include "vireo/dialogs/vireo_dialog.h"

#include "platform/fs/file.h"
#include "vireo/string_table.h"

namespace vireo {

VireoDialog::VireoDialog(win::ui::DialogTemplate layout)
    : backend_(win::ui::makeDialogBackend(win::ui::processScript() != nullptr)),
      dialog_(std::move(layout), *backend_) {}

namespace {

// The script of the dialog running now, which a dialog opened from it plays on.
std::shared_ptr<win::ui::ScriptSession>& runningScript() {
    static std::shared_ptr<win::ui::ScriptSession> script;
    return script;
}

}  // namespace

int VireoDialog::doModal() {
    // Every dialog of the process plays on in the one script, so a dialog opened from another, or the
    // next one packaging shows, takes the steps meant for it.
    if (!dialog_.script()) dialog_.setScript(runningScript() ? runningScript() : win::ui::processScript());
    const auto outer = runningScript();
    runningScript() = dialog_.script();
    const int answer = dialog_.runModal();
    runningScript() = outer;
    return answer;
}

int VireoDialog::message(const std::wstring& text, unsigned flags) {
    return dialog_.messageBox(text, kBoxCaption, flags);
}

int VireoDialog::message(std::uint16_t stringId, unsigned flags) {
    return message(resourceString(stringId), flags);
}

void VireoDialog::openHelp(std::uint16_t stringId) {
    dialog_.shellOpen(resourceString(stringId));
}

std::wstring resourceString(std::uint16_t id) {
    return loadString(id);
}

std::vector<std::uint8_t> imageFile(const std::wstring& path) {
    std::string bytes;
    if (path.empty() || !win::readFile(path, bytes)) return {};
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

std::wstring filterPart(std::uint16_t nameId, const wchar_t* pattern) {
    return resourceString(nameId) + L" (" + pattern + L")|" + pattern + L"|";
}

}  // namespace vireo

#include "vireo/dialogs/self_sign_dialog.h"

#include "platform/fs/file.h"
#include "vireo/packaging.h"
#include "vireo/paths.h"
#include "vireo/resources/dialog_templates.h"

namespace vireo {

namespace {

enum : int {
    idcPublisher = 5092,
    idcOrganisation = 5093,
    idcUnit = 5094,
    idcCountry = 5095,
    idcPassword = 5096,
    idcConfirm = 5097,
    idcKeyType = 5098,
    idcSaveAs = 5099,
    idcBrowse = 5100,
    idcHelp = 5109,
};

}  // namespace

CSelfSignDlg::CSelfSignDlg(SettingsStore& store) : VireoDialog(selfSignTemplate()), store_(store) {
    dialog_.onInit([this] {
        dialog_.setItems(idcKeyType, {L"1024-RSA", L"2048-RSA"});
        dialog_.setSelection(idcKeyType, 0);
        dialog_.setText(idcCountry, L"US");
    });
    dialog_.onCommand(idcBrowse, [this] {
        std::wstring folder;
        if (!dialog_.folderDialog(resourceString(8048), folder)) return;
        // A drive's root already ends in a separator.
        if (folder.empty() || folder.back() != L'\\') folder += L'\\';
        dialog_.setText(idcSaveAs, folder + L"mycert.p12");
    });
    dialog_.onCommand(idcHelp, [this] { openHelp(); });
    dialog_.onCommand(1, [this] { ok(); });
    dialog_.onCommand(2, [this] { dialog_.end(2); });
}

std::wstring CSelfSignDlg::arguments(const std::wstring& publisher, const std::wstring& unit,
                                     const std::wstring& organisation, const std::wstring& country,
                                     const std::wstring& keyType, const std::wstring& saveAs,
                                     const std::wstring& password) {
    // A value holding a double quote (or ending in a backslash) would end its argument early and hand
    // the rest to the tool as options: each is escaped as the Windows command-line rules read it back.
    auto q = [](const std::wstring& value) { return L"\"" + packaging::quotedBody(value) + L"\""; };
    return L" -cn " + q(publisher) + L" -ou " + q(unit) + L" -o " + q(organisation) + L" -c " + q(country) +
           L" " + keyType + L" " + q(saveAs) + L" " + q(password);
}

void CSelfSignDlg::ok() {
    const std::wstring saveAs = dialog_.text(idcSaveAs);
    const std::wstring password = dialog_.text(idcPassword);
    const std::wstring confirm = dialog_.text(idcConfirm);
    for (int id : {idcPublisher, idcUnit, idcOrganisation, idcCountry}) {
        if (dialog_.text(id).empty()) {
            message(8009);
            return;
        }
    }
    if (saveAs.empty() || password.empty()) {
        message(8009);
        return;
    }
    if (confirm.empty() || password != confirm) {
        message(8006);
        return;
    }
    if (win::pathExists(saveAs) &&
        message(8008, win::mb::okCancel | win::mb::iconWarning) != win::idbutton::ok)
        return;
    const int type = dialog_.selection(idcKeyType);
    const std::wstring args =
        arguments(dialog_.text(idcPublisher), dialog_.text(idcUnit), dialog_.text(idcOrganisation),
                  dialog_.text(idcCountry), type == 1 ? L"2048-RSA" : L"1024-RSA", saveAs, password);
    created_ = createSelfSignedCertificateInExtension(store_, args, saveAs) == 1;
    if (created_) store_.set(key::certPath, forwardSlashes(saveAs));
    dialog_.end(1);
}

}  // namespace vireo

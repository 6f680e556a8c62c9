#include "vireo/dialogs/digital_signature_dialog.h"

#include "vireo/dialogs/self_sign_dialog.h"
#include "vireo/paths.h"
#include "vireo/resources/dialog_templates.h"
#include "vireo/user_prefs.h"

namespace vireo {

namespace {

enum : int {
    idcTimestamp = 5001,
    idcSign = 5079,
    idcPrepare = 5080,
    idcBrowse = 5082,
    idcCreate = 5083,
    idcPassword = 5084,
    idcRemember = 5085,
    idcHelp = 5090,
    idcCertificate = 5110,
};

}  // namespace

CDigitalSigDlg::CDigitalSigDlg(SettingsStore& store)
    : VireoDialog(digitalSignatureTemplate()), store_(store) {
    dialog_.onInit([this] { open(); });
    dialog_.onCommand(idcSign, [this] {
        addHistory();
        dialog_.setSelection(idcCertificate, dialog_.items(idcCertificate).empty() ? -1 : 0);
        enableCertificate(true);
    });
    dialog_.onCommand(idcPrepare, [this] { enableCertificate(false); });
    dialog_.onCommand(idcTimestamp, [this] {
        store_.set(key::timestamp, dialog_.checked(idcTimestamp) ? L"true" : L"false");
    });
    dialog_.onCommand(idcBrowse, [this] {
        win::ui::FileDialogRequest request;
        request.mustExist = true;
        request.filter = filterPart(8077, L"*.p12") + filterPart(8078, L"*.pfx") + L"|";
        std::wstring path;
        if (dialog_.fileDialog(request, path)) addCertificate(path);
    });
    dialog_.onCommand(idcCreate, [this] {
        CSelfSignDlg create(store_);
        // The dialog closes with OK after a failed creation too; only a made file is offered.
        if (create.doModal() == 1 && create.created())
            addCertificate(backSlashes(store_.value(key::certPath)));
    });
    dialog_.onCommand(idcHelp, [this] { openHelp(); });
    dialog_.onCommand(1, [this] { ok(); });
    dialog_.onCommand(2, [this] { dialog_.end(2); });
}

void CDigitalSigDlg::open() {
    const bool prepare = store_.value(key::signing) == L"prepare";
    dialog_.setCheck(idcSign, prepare ? 0 : 1);
    dialog_.setCheck(idcPrepare, prepare ? 1 : 0);
    if (prepare) {
        dialog_.setCheck(idcTimestamp, 1);
        enableCertificate(false);
    } else {
        dialog_.setItems(idcCertificate, {});
        addHistory();
        std::wstring last;
        userprefs::readValue(userprefs::kLastSelectedCert, last);
        const int at = last.empty() ? -1 : dialog_.findItem(idcCertificate, backSlashes(last));
        dialog_.setSelection(idcCertificate, at >= 0 ? at : dialog_.items(idcCertificate).empty() ? -1 : 0);
        enableCertificate(true);
    }
    if (store_.value(key::rememberPassword) == L"true") {
        dialog_.setCheck(idcRemember, 1);
        std::wstring password;
        if (store_.get(key::certPassword, password)) dialog_.setText(idcPassword, password);
    }
    dialog_.setCheck(idcTimestamp, store_.value(key::timestamp) == L"false" ? 0 : 1);
}

void CDigitalSigDlg::addHistory() {
    std::vector<std::wstring> history;
    userprefs::readList(userprefs::kCertPathList, history);
    for (const auto& path : history)
        if (!path.empty() && fileExists(path) && dialog_.findItem(idcCertificate, path) < 0)
            dialog_.insertItem(idcCertificate, -1, path);
}

void CDigitalSigDlg::enableCertificate(bool on) {
    for (int id : {idcCertificate, idcPassword, idcRemember, idcTimestamp, idcBrowse, idcCreate})
        dialog_.enable(id, on);
}

void CDigitalSigDlg::addCertificate(const std::wstring& path) {
    if (path.empty()) return;
    int at = dialog_.findItem(idcCertificate, path);
    if (at < 0) {
        dialog_.insertItem(idcCertificate, -1, path);
        at = static_cast<int>(dialog_.items(idcCertificate).size()) - 1;
    }
    // The file just chosen is the one the user means.
    dialog_.setSelection(idcCertificate, at);
}

void CDigitalSigDlg::ok() {
    if (dialog_.checked(idcPrepare)) {
        store_.set(key::signing, L"prepare");
    } else {
        store_.set(key::signing, L"sign");
        const std::wstring path = dialog_.text(idcCertificate);
        if (path.empty() || !fileExists(path)) {
            message(path.empty() ? 8001 : 8003);
            open();
            return;
        }
        store_.set(key::certPath, forwardSlashes(path));
        userprefs::writeValue(userprefs::kLastSelectedCert, forwardSlashes(path));
        const int at = dialog_.findItem(idcCertificate, path);
        if (at >= 0) dialog_.removeItem(idcCertificate, at);
        dialog_.insertItem(idcCertificate, 0, path);
        dialog_.setSelection(idcCertificate, 0);
        userprefs::writeList(userprefs::kCertPathList, dialog_.items(idcCertificate),
                             userprefs::kCertPathMaximum);
        const std::wstring password = dialog_.text(idcPassword);
        if (password.empty()) {
            message(8005);
            open();
            return;
        }
        if (dialog_.checked(idcTimestamp))
            store_.set(key::timestamp, L"true");
        else
            store_.set(key::timestamp, message(8053, win::mb::yesNo | win::mb::iconWarning |
                                                         win::mb::defButton2) == win::idbutton::yes
                                           ? L"false"
                                           : L"true");
        store_.set(key::certPassword, password);
    }
    store_.set(key::rememberPassword, dialog_.checked(idcRemember) ? L"true" : L"false");
    dialog_.end(1);
}

}  // namespace vireo

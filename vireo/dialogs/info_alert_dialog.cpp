#include "vireo/dialogs/info_alert_dialog.h"

#include "vireo/resources/dialog_templates.h"
#include "vireo/string_table.h"
#include "vireo/user_prefs.h"

namespace vireo {

namespace {

enum : int { idcDontShow = 5035, idcTitle = 5036, idcLink = 5040, idcPicture = 5041 };

}  // namespace

CInfoAlertDlg::CInfoAlertDlg() : VireoDialog(infoAlertTemplate()), link_(dialog_, idcLink) {
    dialog_.onInit([this] {
        link_.setTarget(resourceString(8027));
        link_.draw();
        dialog_.setFont(idcTitle, {L"Arial", 16, 900, true});
        dialog_.setImage(idcPicture, loadBitmapFile(kIntroBitmap), 0);
    });
    dialog_.onCommand(idcLink, [this] { link_.click(); });
    dialog_.onCommand(1, [this] {
        userprefs::writeValue(userprefs::kDontShowMe, dialog_.checked(idcDontShow) ? L"1" : L"0");
        dialog_.end(1);
    });
    dialog_.onCommand(2, [this] { dialog_.end(2); });
}

}  // namespace vireo

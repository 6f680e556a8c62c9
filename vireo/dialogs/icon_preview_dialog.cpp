#include "vireo/dialogs/icon_preview_dialog.h"

#include "vireo/paths.h"
#include "vireo/resources/dialog_templates.h"

namespace vireo {

namespace {

struct IconRow {
    const wchar_t* key;
    int size;
    int preview, edit, browse, clear;
};

constexpr IconRow kRows[] = {{key::icon128, 128, 5044, 5054, 5058, 5062},
                             {key::icon48, 48, 5045, 5055, 5059, 5063},
                             {key::icon32, 32, 5046, 5056, 5060, 5064},
                             {key::icon16, 16, 5047, 5057, 5061, 5065}};

}  // namespace

CIconPreviewDlg::CIconPreviewDlg(SettingsStore& store) : VireoDialog(iconPreviewTemplate()), store_(store) {
    dialog_.onInit([this] { open(); });
    for (const IconRow& row : kRows) {
        dialog_.onCommand(row.browse, [this, row] {
            win::ui::FileDialogRequest request;
            request.mustExist = true;
            request.filter = filterPart(8049, L"*.png") + L"|";
            std::wstring path;
            if (!dialog_.fileDialog(request, path)) return;
            dialog_.setText(row.edit, path);
            dialog_.setImage(row.preview, imageFile(path), kPreviewBackground);
        });
        dialog_.onCommand(row.clear, [this, row] {
            dialog_.setText(row.edit, L"");
            dialog_.setImage(row.preview, {}, kPreviewBackground);
        });
    }
    dialog_.onCommand(1, [this] { ok(); });
    dialog_.onCommand(2, [this] { dialog_.end(2); });
}

void CIconPreviewDlg::open() {
    std::wstring host = store_.value(key::hostFolder);
    if (!host.empty() && host.back() == L'/') host.pop_back();  // the host folder ends in "/" already
    for (const IconRow& row : kRows) {
        std::wstring path = store_.value(row.key);
        // Nothing chosen yet: the runtime kit's sample icon is proposed.
        if (path.empty()) path = host + L"/KIK/samples/icons/KITEApp_" + std::to_wstring(row.size) + L".png";
        dialog_.setText(row.edit, path == L"none" ? path : backSlashes(path));
        if (path != L"none") dialog_.setImage(row.preview, imageFile(backSlashes(path)), kPreviewBackground);
    }
}

void CIconPreviewDlg::ok() {
    for (const IconRow& row : kRows) {
        const std::wstring path = dialog_.text(row.edit);
        store_.set(row.key, path.empty() ? L"none" : forwardSlashes(path));
    }
    dialog_.end(1);
}

}  // namespace vireo

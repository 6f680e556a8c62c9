// Dialog 206, the wizard's one window, as its resource template holds it (dialog units, MS Shell Dlg 8).
#pragma once
#include "platform/ui/dialog_template.h"

namespace mw {

enum WizardControl : int {
    idcNext = 1,  // Next / Retry / Finish
    idcCancel = 2,
    idcHeading = 204,
    idcProgress = 205,
    idcStatus = 206,
    idcHeaderBand = 208,
    idcSeparator = 210,
    idcRunningApps = 212,
    idcMainMessage = -1,  // the one static text without an id of its own
};

inline win::ui::DialogTemplate wizardDialogTemplate() {
    using win::ui::ControlKind;
    namespace st = win::ui::style;
    win::ui::DialogTemplate t;
    t.id = 206;
    t.fontName = L"MS Shell Dlg";
    t.fontPoints = 8;
    t.cx = 364;
    t.cy = 204;
    t.controls = {
        {idcHeaderBand, ControlKind::whiteRect, L"", 0, 0, 364, 59, 0},
        {idcHeading, ControlKind::text, L"Welcome", 7, 8, 332, 43, st::headingFont},
        {idcMainMessage, ControlKind::text, L"", 16, 67, 275, 32, 0},
        {idcProgress, ControlKind::progress, L"", 48, 106, 238, 14, st::smooth | st::hidden},
        {idcStatus, ControlKind::text, L"", 47, 120, 237, 33, st::hidden},
        {idcRunningApps, ControlKind::edit, L"", 41, 105, 244, 55,
         st::multiline | st::readOnly | st::vscroll | st::hidden},
        {idcSeparator, ControlKind::etchedLine, L"", 0, 177, 364, 1, 0},
        {idcCancel, ControlKind::button, L"Cancel", 213, 184, 66, 13, 0},
        {idcNext, ControlKind::button, L"Next", 285, 184, 66, 13, st::defaultButton},
    };
    return t;
}

}  // namespace mw

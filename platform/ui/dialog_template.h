// Dialog templates as data: the dialog's size, caption and font, and per control its id, kind, text,
// rectangle in dialog units and styles, as a Windows dialog resource holds them.
#pragma once
#include <string>
#include <vector>

namespace win::ui {

enum class ControlKind {
    text,
    whiteRect,
    etchedLine,
    progress,
    edit,
    button,
    checkBox,     // BS_AUTOCHECKBOX: a click toggles it
    radioButton,  // BS_AUTORADIOBUTTON: a click checks it and clears the others of its group
    groupBox,
    comboBox,  // CBS_DROPDOWN: an edit with a list of items
    dropList,  // CBS_DROPDOWNLIST: the selected item only
    listBox,
    image,  // SS_OWNERDRAW picture: an encoded image (PNG, BMP) drawn on a cleared background
    link,   // SS_NOTIFY static text drawn underlined in a colour of its own; a click is a command
};

namespace style {
constexpr unsigned hidden = 0x1;     // created without WS_VISIBLE
constexpr unsigned multiline = 0x2;  // edit: ES_MULTILINE
constexpr unsigned readOnly = 0x4;   // edit: ES_READONLY
constexpr unsigned vscroll = 0x8;    // WS_VSCROLL
constexpr unsigned smooth = 0x10;    // progress: PBS_SMOOTH
constexpr unsigned defaultButton = 0x20;
constexpr unsigned headingFont = 0x40;  // drawn in the dialog font scaled by 1.5, on white
constexpr unsigned password = 0x80;     // edit: ES_PASSWORD
constexpr unsigned number = 0x100;      // edit: ES_NUMBER
constexpr unsigned flat = 0x200;        // button: BS_FLAT, raised only while the mouse is over it
constexpr unsigned group = 0x400;       // WS_GROUP: a radio button that starts a new group
}  // namespace style

struct ControlTemplate {
    int id = -1;  // -1 as IDC_STATIC; 0 is the dialog itself
    ControlKind kind = ControlKind::text;
    std::wstring text;
    int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    unsigned styles = 0;
};

struct DialogTemplate {
    int id = 0;
    std::wstring caption;
    std::wstring fontName = L"MS Shell Dlg";
    int fontPoints = 8;
    int cx = 0, cy = 0;  // dialog units
    std::vector<ControlTemplate> controls;
};

// Dialog units to pixels as Windows converts them: horizontal units are a quarter of the font's average
// character width, vertical units an eighth of its height (MapDialogRect).
struct DialogBaseUnits {
    int x = 1, y = 1;  // average character width and character height of the dialog font, in pixels
    int toPixelsX(int units) const { return (units * x + 2) / 4; }
    int toPixelsY(int units) const { return (units * y + 4) / 8; }
};

}  // namespace win::ui

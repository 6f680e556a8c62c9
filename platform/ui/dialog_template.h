// Dialog templates as data: the dialog's size, caption and font, and per control its id, kind, text,
// rectangle in dialog units and styles, as a Windows dialog resource holds them.
#pragma once
#include <string>
#include <vector>

namespace win::ui {

enum class ControlKind { text, whiteRect, etchedLine, progress, edit, button };

namespace style {
constexpr unsigned hidden = 0x1;     // created without WS_VISIBLE
constexpr unsigned multiline = 0x2;  // edit: ES_MULTILINE
constexpr unsigned readOnly = 0x4;   // edit: ES_READONLY
constexpr unsigned vscroll = 0x8;    // WS_VSCROLL
constexpr unsigned smooth = 0x10;    // progress: PBS_SMOOTH
constexpr unsigned defaultButton = 0x20;
constexpr unsigned headingFont = 0x40;  // drawn in the dialog font scaled by 1.5, on white
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

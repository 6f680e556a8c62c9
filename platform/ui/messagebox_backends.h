// The backends behind messageBox().
#pragma once
#include <string_view>
#include <vector>

namespace win::ui {

// The buttons of a box type, in display order, and the index of its default button.
struct BoxButtons {
    std::vector<int> ids;
    std::size_t defaultIndex = 0;
    int defaultId() const { return ids[defaultIndex]; }
};
BoxButtons boxButtons(unsigned type);

// Makes the process's Qt application when there is none yet (it lives as long as the process).
bool ensureQtApplication();
// True when a user can see windows: a display, and Qt not told to draw offscreen.
bool displayAvailable();
// True when Qt can draw: a display, or QT_QPA_PLATFORM naming a platform (offscreen included).
bool qtCanDraw();

// Qt Widgets: false when no application could be made (the caller falls back).
bool qtMessageBox(std::wstring_view text, std::wstring_view caption, unsigned type, const BoxButtons& buttons,
                  int& answer);

}  // namespace win::ui

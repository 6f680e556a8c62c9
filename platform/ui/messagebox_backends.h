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

// Qt Widgets: false when no application could be made (the caller falls back).
bool qtMessageBox(std::wstring_view text, std::wstring_view caption, unsigned type, const BoxButtons& buttons,
                  int& answer);

}  // namespace win::ui

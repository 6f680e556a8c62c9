// CStaticLink: a static text of a dialog that opens its target when clicked, drawn underlined in blue,
// purple once visited.
#pragma once
#include <cstdint>
#include <string>

#include "platform/ui/dialog.h"

namespace vireo {

class CStaticLink {
  public:
    static constexpr std::uint32_t kUnvisited = 0xFF0000FF;  // RGB 0,0,255
    static constexpr std::uint32_t kVisited = 0xFF800080;    // RGB 128,0,128

    CStaticLink(win::ui::Dialog& dialog, int id) : dialog_(dialog), id_(id) {}
    // An empty target opens the control's own text.
    void setTarget(std::wstring target) { target_ = std::move(target); }
    const std::wstring& target() const { return target_; }
    bool visited() const { return visited_; }
    // Before the first drawing: the colour of its state (the underline comes with the link kind).
    void draw();
    // Opens the target with the shell's "open" verb; a failure (32 or less) beeps.
    void click();

  private:
    win::ui::Dialog& dialog_;
    int id_;
    std::wstring target_;
    bool visited_ = false;
};

}  // namespace vireo

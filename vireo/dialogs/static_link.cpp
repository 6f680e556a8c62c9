#include "vireo/dialogs/static_link.h"

namespace vireo {

void CStaticLink::draw() {
    dialog_.setColor(id_, visited_ ? kVisited : kUnvisited);
}

void CStaticLink::click() {
    const std::wstring target = target_.empty() ? dialog_.text(id_) : target_;
    if (dialog_.shellOpen(target) <= 32) {
        dialog_.beep();
        return;
    }
    visited_ = true;
    draw();
}

}  // namespace vireo

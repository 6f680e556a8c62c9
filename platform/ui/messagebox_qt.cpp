// The Qt Widgets backend of messageBox().
#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <memory>
#include <mutex>

#include "platform/ui/messagebox.h"
#include "platform/ui/messagebox_backends.h"

namespace win::ui {

namespace {

QString qtText(std::wstring_view text) {
    return QString::fromWCharArray(text.data(), static_cast<qsizetype>(text.size()));
}

QMessageBox::StandardButton qtButton(int id) {
    switch (id) {
        case idbutton::ok:
            return QMessageBox::Ok;
        case idbutton::cancel:
            return QMessageBox::Cancel;
        case idbutton::abort:
            return QMessageBox::Abort;
        case idbutton::retry:
            return QMessageBox::Retry;
        case idbutton::ignore:
            return QMessageBox::Ignore;
        case idbutton::yes:
            return QMessageBox::Yes;
        case idbutton::no:
            return QMessageBox::No;
        default:
            return QMessageBox::NoButton;
    }
}

QMessageBox::Icon qtIcon(unsigned type) {
    switch (type & 0xF0) {
        case mb::iconError:
            return QMessageBox::Critical;
        case mb::iconQuestion:
            return QMessageBox::Question;
        case mb::iconWarning:
            return QMessageBox::Warning;
        case mb::iconInformation:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

}  // namespace

// A program without an application of its own gets one for as long as it runs.
bool ensureQtApplication() {
    if (QApplication::instance()) return true;
    static int argc = 1;
    static char name[] = "mendwell";
    static char* argv[] = {name, nullptr};
    // Never destroyed: at exit Qt's own globals may already be gone, and deleting it then crashes.
    static std::once_flag once;
    std::call_once(once, [] { new QApplication(argc, argv); });
    return QApplication::instance() != nullptr;
}

bool qtMessageBox(std::wstring_view text, std::wstring_view caption, unsigned type, const BoxButtons& buttons,
                  int& answer) {
    if (!ensureQtApplication()) return false;
    QMessageBox box(qtIcon(type), qtText(caption), qtText(text));
    for (int id : buttons.ids) box.addButton(qtButton(id));
    box.setDefaultButton(qtButton(buttons.defaultId()));
    // Escape answers Cancel where there is one, as on Windows; an OK-only box answers OK.
    for (int id : buttons.ids)
        if (id == idbutton::cancel || buttons.ids.size() == 1) box.setEscapeButton(qtButton(id));
    box.exec();
    answer = buttons.defaultId();
    for (int id : buttons.ids)
        if (box.clickedButton() == box.button(qtButton(id))) answer = id;
    return true;
}

}  // namespace win::ui

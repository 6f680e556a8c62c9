// Message boxes. Backends: Qt Widgets when a display is available; a scripted backend when
// MENDWELL_UI_SCRIPT names a file (answers read from it, every box shown recorded in it); otherwise a
// line on standard error and the default button.
//
// Script file (UTF-8 lines; shared by every process of a run, so it also works across processes):
//   messagebox: 6          answer for the next box, in order: a button id, or ok, cancel, abort,
//                          retry, ignore, yes, no, or "default"
//   # ...                  comment
// Every box shown is appended as one line (CR and LF in texts written as \r and \n):
//   shown messagebox caption=<Caption> text=<Text> type=0x00000034; answer=6
// The n-th box takes the n-th answer line (n counted by the records already in the file); when the
// answers run out, or an answer is not one of the box's buttons, the box takes its default button.
#pragma once
#include <string_view>

namespace win {

namespace mb {
constexpr unsigned ok = 0x0;
constexpr unsigned okCancel = 0x1;
constexpr unsigned abortRetryIgnore = 0x2;
constexpr unsigned yesNoCancel = 0x3;
constexpr unsigned yesNo = 0x4;
constexpr unsigned retryCancel = 0x5;
constexpr unsigned iconError = 0x10;
constexpr unsigned iconQuestion = 0x20;
constexpr unsigned iconWarning = 0x30;
constexpr unsigned iconInformation = 0x40;
constexpr unsigned defButton1 = 0x000;
constexpr unsigned defButton2 = 0x100;
constexpr unsigned defButton3 = 0x200;
}  // namespace mb

namespace idbutton {
constexpr int ok = 1;
constexpr int cancel = 2;
constexpr int abort = 3;
constexpr int retry = 4;
constexpr int ignore = 5;
constexpr int yes = 6;
constexpr int no = 7;
}  // namespace idbutton

// MessageBoxW: returns the id of the button chosen.
int messageBox(std::wstring_view text, std::wstring_view caption, unsigned type);

}  // namespace win

// What the extension's dialogs share: a window from one of the library's templates, run modally with the
// process's dialog script (when there is one), message boxes captioned "Orvex Lumen TX4", the help page.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/dialog.h"
#include "platform/ui/messagebox.h"

namespace vireo {

inline constexpr wchar_t kBoxCaption[] = L"Orvex Lumen TX4";
inline constexpr unsigned kWarning = win::mb::ok | win::mb::iconWarning;

class VireoDialog {
  public:
    explicit VireoDialog(win::ui::DialogTemplate layout);
    virtual ~VireoDialog() = default;
    VireoDialog(const VireoDialog&) = delete;
    VireoDialog& operator=(const VireoDialog&) = delete;

    // The button that closed the dialog (1 OK, 2 Cancel, ...); -1 when nobody could answer it.
    int doModal();
    win::ui::Dialog& window() { return dialog_; }

  protected:
    // Message box over the dialog; `flags` as win::messageBox.
    int message(const std::wstring& text, unsigned flags = kWarning);
    int message(std::uint16_t stringId, unsigned flags = kWarning);
    // Opens the help page of string `stringId` with the shell's "open" verb.
    void openHelp(std::uint16_t stringId = 8026);

    std::unique_ptr<win::ui::DialogBackend> backend_;
    win::ui::Dialog dialog_;
};

// The library's string `id`.
std::wstring resourceString(std::uint16_t id);
// The bytes of an image file for a preview; empty when it cannot be read.
std::vector<std::uint8_t> imageFile(const std::wstring& path);
inline constexpr std::uint32_t kPreviewBackground = 0xFFF5F5F5;

// A file dialog filter piece: "Файл P12" + " (*.p12)|*.p12|".
std::wstring filterPart(std::uint16_t nameId, const wchar_t* pattern);

}  // namespace vireo

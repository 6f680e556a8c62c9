#include "vireo/dialogs/file_type_dialog.h"

#include <cstring>
#include <cwchar>

#include "platform/fs/file.h"
#include "platform/text/text.h"
#include "vireo/paths.h"
#include "vireo/resources/dialog_templates.h"

namespace vireo {

namespace {

enum : int {
    idcName = 5155,
    idcExtension = 5156,
    idcDescription = 5157,
    idcContentType = 5158,
    idcHelp = 5152
};
constexpr int kPreviews[] = {5159, 5160, 5161, 5162};  // 128, 48, 32, 16
constexpr int kEdits[] = {5163, 5164, 5165, 5166};
constexpr int kBrowse[] = {5168, 5169, 5170, 5171};
constexpr int kClear[] = {5172, 5173, 5174, 5175};
constexpr wchar_t kIconFolder[] = L"FileTypeIconsForKITEPublish";

template <std::size_t N>
std::wstring fromField(const char (&field)[N]) {
    return fieldText(field, N);
}

template <std::size_t N>
void toField(const std::wstring& text, char (&field)[N]) {
    setField(field, N, text);
}

template <std::size_t N>
void toWide(const std::wstring& text, wchar_t (&field)[N]) {
    const std::size_t n = std::min(text.size(), N - 1);
    std::wmemcpy(field, text.data(), n);
    field[n] = L'\0';
}

bool ascii(wchar_t c, bool dot) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
           (dot && c == L'.');
}

std::wstring fileNameOf(const std::wstring& path) {
    const auto slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool startsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
    return !prefix.empty() && text.size() >= prefix.size() &&
           win::iequals(text.substr(0, prefix.size()), prefix);
}

}  // namespace

CFileTypeDlg::CFileTypeDlg(FileTypeRecord& record, std::wstring contentRoot)
    : VireoDialog(fileTypeTemplate()), record_(record), root_(backSlashes(contentRoot)) {
    if (!root_.empty() && root_.back() != L'\\') root_ += L'\\';
    dialog_.onInit([this] { open(); });
    for (int i = 0; i < 4; ++i) {
        dialog_.onCommand(kBrowse[i], [this, i] {
            win::ui::FileDialogRequest request;
            request.mustExist = true;
            request.filter = filterPart(8049, L"*.png") + L"|";
            std::wstring path;
            if (!dialog_.fileDialog(request, path)) return;
            if (startsWithNoCase(path, root_)) {
                dialog_.setText(kEdits[i], forwardSlashes(path.substr(root_.size())));
            } else {
                if (message(8020, win::mb::okCancel | win::mb::iconWarning) != win::idbutton::ok) return;
                const std::wstring copied = copyUnderRoot(path);
                if (copied.empty()) return;
                dialog_.setText(kEdits[i], copied);
            }
            preview(i);
        });
        dialog_.onCommand(kClear[i], [this, i] {
            dialog_.setText(kEdits[i], L"");
            preview(i);
        });
    }
    dialog_.onCommand(idcHelp, [this] { openHelp(); });
    dialog_.onCommand(1, [this] { ok(); });
    dialog_.onCommand(2, [this] { dialog_.end(2); });
}

bool CFileTypeDlg::validName(std::wstring_view name) {
    if (name.empty() || name.size() > 38 || name[0] == L'.' || (name[0] >= L'0' && name[0] <= L'9'))
        return false;
    for (wchar_t c : name)
        if (!ascii(c, true)) return false;
    return true;
}

bool CFileTypeDlg::validExtension(std::wstring_view extension) {
    if (extension.empty() || extension.size() > 38) return false;
    for (wchar_t c : extension)
        if (!ascii(c, false)) return false;
    return true;
}

void CFileTypeDlg::open() {
    dialog_.setText(idcName, fromField(record_.name));
    dialog_.setText(idcExtension, fromField(record_.extension));
    dialog_.setText(idcDescription, std::wstring(record_.description, ::wcsnlen(record_.description, 256)));
    dialog_.setText(idcContentType, std::wstring(record_.contentType, ::wcsnlen(record_.contentType, 256)));
    const std::wstring icons[] = {fromField(record_.image128x128), fromField(record_.image48x48),
                                  fromField(record_.image32x32), fromField(record_.image16x16)};
    for (int i = 0; i < 4; ++i) {
        dialog_.setText(kEdits[i], icons[i]);
        preview(i);
    }
}

void CFileTypeDlg::preview(int index) {
    std::wstring path = backSlashes(dialog_.text(kEdits[index]));
    if (!path.empty() && !win::pathExists(path)) path = root_ + path;
    dialog_.setImage(kPreviews[index], imageFile(path), kPreviewBackground);
}

std::wstring CFileTypeDlg::copyUnderRoot(const std::wstring& path) {
    const std::wstring folder = root_ + kIconFolder;
    if (!win::isDirectory(folder)) win::createDirectory(folder);
    const std::wstring name = fileNameOf(path);
    if (!win::copyFile(path, folder + L"\\" + name, false)) return {};
    return std::wstring(kIconFolder) + L"/" + name;
}

bool CFileTypeDlg::resolveIcon(std::wstring& field) {
    const std::wstring path = backSlashes(field);
    if (!win::pathExists(path)) {
        if (win::pathExists(root_ + path)) {
            field = forwardSlashes(path);
            return true;
        }
        message(8045);
        field.clear();
        return false;
    }
    if (startsWithNoCase(path, root_)) {
        field = forwardSlashes(path.substr(root_.size()));
        return true;
    }
    const std::wstring copied = copyUnderRoot(path);
    if (copied.empty()) return false;
    field = copied;
    return true;
}

void CFileTypeDlg::ok() {
    const std::wstring name = dialog_.text(idcName);
    const std::wstring extension = dialog_.text(idcExtension);
    if (name.empty() || extension.empty()) {
        message(8047);
        return;
    }
    if (!validName(name)) {
        message(resourceString(8063) + resourceString(8064));
        return;
    }
    if (!validExtension(extension)) {
        message(resourceString(8065) + resourceString(8066));
        return;
    }
    std::wstring icons[4];
    for (int i = 0; i < 4; ++i) {
        icons[i] = dialog_.text(kEdits[i]);
        if (icons[i].empty()) continue;
        const bool resolved = resolveIcon(icons[i]);
        dialog_.setText(kEdits[i], icons[i]);
        if (!resolved) {
            preview(i);
            return;
        }
    }
    toField(name, record_.name);
    toField(extension, record_.extension);
    toWide(dialog_.text(idcDescription), record_.description);
    toWide(dialog_.text(idcContentType), record_.contentType);
    toField(icons[0], record_.image128x128);
    toField(icons[1], record_.image48x48);
    toField(icons[2], record_.image32x32);
    toField(icons[3], record_.image16x16);
    record_.present = 1;
    dialog_.end(1);
}

}  // namespace vireo

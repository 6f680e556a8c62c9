// CFileTypeDlg: one file type of the descriptor — name, extension, description, content type and its
// four icons, which are copied under the content root when they lie outside it.
#pragma once
#include <string>

#include "vireo/descriptor.h"
#include "vireo/dialogs/vireo_dialog.h"

namespace vireo {

class CFileTypeDlg : public VireoDialog {
  public:
    // `record` is filled on OK; `contentRoot` is the LMV folder.
    CFileTypeDlg(FileTypeRecord& record, std::wstring contentRoot);

    // 1 to 38 characters of a-z, A-Z, 0-9 and "."; not starting with "." or a digit.
    static bool validName(std::wstring_view name);
    // 1 to 38 characters of a-z, A-Z and 0-9.
    static bool validExtension(std::wstring_view extension);

  private:
    void open();
    void ok();
    // An icon path as the descriptor keeps it: relative to the content root, copied under it first when
    // it lies outside. False (after 8045) when the file is missing.
    bool resolveIcon(std::wstring& field);
    // Copies a file from outside the content root into its icon folder; the relative path, or empty.
    std::wstring copyUnderRoot(const std::wstring& path);
    void preview(int index);

    FileTypeRecord& record_;
    std::wstring root_;  // "\" separators, trailing "\"
};

}  // namespace vireo

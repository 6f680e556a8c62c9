// One manifest file entry carried out on the product's files: the base of the operation family, the
// helpers its classes share (subclasses in other files use them too) and the dispatcher.
#pragma once
#include <memory>
#include <string>

#include "mendwell/engine/file_probe.h"
#include "mendwell/engine/manifest.h"
#include "platform/fs/file.h"
#include "platform/win.h"

namespace mw {

// Results of validate.
enum FileValidation : int { validationGo = 0, validationNothingToDo = 1, validationCannot = 2 };
// Results of execute and of runFileOperation.
enum FileOperationResult : int {
    fileOpUnknown = 0,  // unknown operation, or a touch of a missing file: neither counted nor failed
    fileOpFailed = 3,
    fileOpDone = 4,  // counted, and its undo entry is recorded
    fileOpNothingToDo = 5,
};

// Kind number a versioner reports for a colour profile.
inline constexpr int kColorProfileKind = 2;
inline constexpr int kNoFileKind = 0;

// Whose messages verifyChecksum logs.
enum class ChecksumMessages { patch, rename, remove };

class cFileOperation {
  public:
    virtual ~cFileOperation() = default;
    cFileOperation(const cFileOperation&) = delete;
    cFileOperation& operator=(const cFileOperation&) = delete;

    virtual int validate(const FileRecord& record) = 0;
    // Calls validate itself (in normal mode).
    virtual int execute(const FileRecord& record) = 0;

    const std::wstring& sourcePath() const { return sourcePath_; }
    const std::wstring& targetPath() const { return targetPath_; }
    const std::wstring& backupPath() const { return backupPath_; }
    // The target's attributes before the entry; a backup taken of it carries its read-only bit.
    void setOriginalAttributes(win::DWORD attributes) { originalAttributes_ = attributes; }

    // validate then asks `probe` instead of the machine (the pre-flight judges an entry this way).
    void judgeWith(FileProbe& probe) { probe_ = &probe; }

  protected:
    cFileOperation() = default;

    // The process-wide rollback mode: 0 normal, 1 undo; other values are refused by the operations.
    static int rollbackMode();
    static std::wstring stagedFile(const std::wstring& objectName);  // work folder\StagingArea\<name>
    static std::wstring backupFile(const std::wstring& objectName);  // work folder\BackUp\<name>
    // Add, Overwrite and Remove: staged source and backup in normal mode, the backup as source in
    // rollback mode; the target is DestinationPath.
    void setStagedPaths(const FileRecord& record);

    // Copies the target to the backup without overwriting; on failure logs the two locations and the
    // ERROR line and returns false, and the caller fails before touching the target.
    bool takeBackup() const;
    // For an entry that replaces the whole target: the target itself becomes the backup, by a rename on
    // the same volume (no copy), leaving no file at the target; a takeBackup copy where it cannot be
    // renamed (another volume, or open without delete sharing). The same failure lines as takeBackup.
    bool moveToBackup() const;
    // Copies `from` to the backup under a temporary name and renames it into place, so that a backup
    // that exists is always complete (a recovery restores it). Fails when the backup exists.
    bool writeBackup(const std::wstring& from) const;
    // After copying the staged file to a target that was missing: done when the target now exists,
    // else failed with the copy's error code logged.
    int addedInPlace(win::DWORD copyError) const;
    // Touch step, then (when asked) the colour-profile step with `fileKind` and the install flag.
    void commonTrailingSteps(const FileRecord& record, bool colourStep, int fileKind, bool install) const;
    // Add and Overwrite: the colour step runs when the versioner recognises the target as a profile.
    void trailingStepsAskingKind(const FileRecord& record) const;

    std::wstring sourcePath_;
    std::wstring targetPath_;
    std::wstring backupPath_;
    FileProbe* probe_ = &liveProbe();
    win::DWORD originalAttributes_ = win::attr::invalid;
};

// Shared helpers.
bool fileExists(const std::wstring& path);
// Creates every missing folder of `path` but its last component; false (with an ERROR line) when one
// cannot be made.
bool createDirectoryTree(const std::wstring& path);
// Removes the emptied folders above a deleted or moved-away file, nearest first, up to the first that
// stays. The bare drive is never tried.
// Never the product's install folder or a folder above it, once the run has named it.
void pruneEmptyFolders(const std::wstring& file);
void setProductFolder(std::wstring folder);
// Attributes without read-only, plus normal. True when the attributes could be set.
bool clearReadOnly(const std::wstring& path);
bool isReadOnly(const std::wstring& path);
// The file's MD5 text compared case-insensitively with `expected`; a missing file is false, silently.
bool verifyChecksum(const std::wstring& path, const std::wstring& expected, ChecksumMessages messages);
bool verifyChecksum(FileProbe& probe, const std::wstring& path, const std::wstring& expected,
                    ChecksumMessages messages);
bool sameChecksum(const std::wstring& md5, const std::wstring& expected);
bool sameTextIgnoringCase(const std::wstring& a, const std::wstring& b);
// Every "/" becomes "\".
void normalizeSlashes(std::wstring& path);

// The entry's operation object; null for an operation name that is not one of the seven.
std::unique_ptr<cFileOperation> makeFileOperation(const FileRecord& record);
// Builds the entry's operation, executes it once and destroys it. Operation names are exact and lower
// case; any other name returns 0 and touches nothing.
int runFileOperation(const FileRecord& record);

// Binary patch operation of an entry; null while it is not part of the build.
std::unique_ptr<cFileOperation> makePatchOperation(const FileRecord& record);

}  // namespace mw

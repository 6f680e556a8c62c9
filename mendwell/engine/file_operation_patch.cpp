#include "mendwell/engine/file_operation_patch.h"

#include "mendwell/engine/file_operations.h"
#include "mendwell/base/patch_state.h"
#include "mendwell/base/patchlog.h"
#include "mendwell/base/workfolder.h"
#include "platform/fs/file.h"
#include "platform/fs/path.h"
#include "platform/process/process.h"
#include "platform/system/system.h"
#include "platform/text/text.h"

namespace mw {

namespace {

// Each line the tool wrote, at CRITICALINFO: a trace of what it did, kept out of the patcher's output.
void logToolOutput(const std::string& output) {
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find_first_of("\r\n", start);
        if (end == std::string::npos) end = output.size();
        std::wstring line;
        // A console program writes in the OEM code page.
        if (end > start && win::fromCodePage(output.substr(start, end - start), win::oemCodePage(), line))
            logCritical(L"Patch tool: %s", line);
        start = end + 1;
    }
}

void removeWorkingFile(const std::wstring& path) {
    if (isReadOnly(path)) clearReadOnly(path);
    win::deleteFile(path);
}

}  // namespace

cFileOperationPatch::cFileOperationPatch(const FileRecord& record) {
    targetPath_ = record.destinationPath;
    if (rollbackMode() == 0) {
        sourcePath_ = workPath(L"\\StagingArea\\");
        backupPath_ = backupFile(record.objectName);
    }
    // Made when the tool is about to run: judging the entry ahead of the run must leave no folder behind.
    patchFolder_ = win::removeBackslash(win::windowsDirectory()) + L"\\Temp\\Patcher" +
                   std::to_wstring(win::currentProcessId());
}

int cFileOperationPatch::validate(const FileRecord& record) {
    if (!probe_->exists(targetPath_)) {
        logError(L"File to be patched is not present on the target machine.");
        return validationCannot;
    }
    logInfo(L"Patcher successfully located the file to be patched at: %s", targetPath_);
    logInfo(L"Checksum before of the file as specified in Manifest XML file: %s", record.beforePatch);
    if (verifyChecksum(*probe_, targetPath_, record.beforePatch, ChecksumMessages::patch)) {
        logInfo(
            L"Patcher verified the checksum before of the file. The file is good-for-patch and patcher will "
            L"patch the file.");
        return validationGo;
    }
    logInfo(L"checksum after of the file as specified in the manifest XML file: %s", record.afterPatch);
    if (verifyChecksum(*probe_, targetPath_, record.afterPatch, ChecksumMessages::patch)) {
        logInfo(
            L"Patcher verified the checksum after of the file. The file is already updated and need not be "
            L"patched.");
        return validationNothingToDo;
    }
    logError(
        L"Patcher was unable to verify the checksum before and checksum after of the file to be patched. "
        L"Patch will fail.");
    return validationCannot;
}

int cFileOperationPatch::execute(const FileRecord& record) {
    normalizeSlashes(targetPath_);
    int result = fileOpFailed;
    // A patched file is restored through its "overwrite" undo entry; a patch entry never runs backwards.
    const int verdict = rollbackMode() == 0 ? validate(record) : validationCannot;
    if (verdict == validationNothingToDo) {
        logInfo(L"File patch is success.");
        result = fileOpNothingToDo;
    } else if (verdict == validationGo) {
        if (!takeBackup()) return fileOpFailed;
        result = applyDifference(record);
        if (result < 0) return fileOpFailed;  // the difference could not be copied: nothing was touched
    }
    commonTrailingSteps(record, false, kNoFileKind, false);
    return result;
}

// -1 when it fails before anything ran (no trailing steps), else the operation's result.
int cFileOperationPatch::applyDifference(const FileRecord& record) {
    win::createDirectory(patchFolder_.substr(0, patchFolder_.rfind(L'\\')));
    win::createDirectory(patchFolder_);
    const std::wstring tool = workPath(L"\\Quadrel\\Patch.exe");
    logInfo(L"Location of the Patch.exe file: %s", tool);

    const std::wstring stagedDiff = sourcePath_ + record.objectName;
    const std::wstring diffCopy = patchFolder_ + L"\\" + record.objectName + L".QDR";
    if (!win::copyFile(stagedDiff, diffCopy, false)) {
        const win::DWORD error = win::lastError();
        logInfo(L"Location of the diff file on the target machine without QDR extension: %s", stagedDiff);
        logInfo(L"Location of the diff file on the target machine with QDR extension: %s", diffCopy);
        logError(
            L"Unable to take copy the file without extension to file with extension. Patcher will fail. "
            L"Return error code: %d",
            static_cast<int>(error));
        return -1;
    }
    logInfo(L"Location of the diff (.QDR file): %s", diffCopy);

    std::wstring workingFile;
    std::wstring folderOperand;
    if (record.ascii == L"true") {
        if (targetPath_.find(L'\\') != std::wstring::npos) {
            const std::wstring name =
                record.defaultFileName.empty() ? win::fileNamePart(targetPath_) : record.defaultFileName;
            workingFile = patchFolder_ + L"\\" + name;
            win::copyFile(targetPath_, workingFile, false);
        }
        folderOperand = patchFolder_;
    } else if (record.ascii == L"false") {
        workingFile = patchFolder_ + L"\\" + record.objectName;
        win::copyFile(targetPath_, workingFile, false);
        folderOperand = patchFolder_;
    }

    // The tool splits its arguments at the first blank, so its own path stays unquoted.
    const std::wstring commandLine = tool + L" \"" + folderOperand + L"\" \"" + diffCopy + L"\"";
    logInfo(L"Command line to patch the file: %s", commandLine);
    patchGlobals().validationReason = reasonPatchToolRunning;

    win::ChildProcess child;
    win::ChildOptions options;
    options.hideWindow = true;
    // The tool gets none of the patcher's handles: its progress lines would otherwise reach the standard
    // output of a silent or update-manager run. They go to the log instead.
    options.captureOutput = true;
    // A killed patcher takes its tool along: nothing may write the target while a recovery restores it.
    options.endWithParent = true;
    if (!child.start(commandLine, options)) {
        logError(L"File patching fails. Command line returned error.");
        return fileOpFailed;
    }
    child.wait(win::kInfinite);
    logToolOutput(child.output());
    win::DWORD exitCode = 0;
    // Logged for the record only: the checksum after decides.
    if (child.exitCode(exitCode))
        logInfo(L"The patch tool ended with exit code %d.",
                static_cast<int>(static_cast<std::int32_t>(exitCode)));

    // A working file is put back only when one was made; without it the target would be deleted for
    // nothing (the "true" case with a target that names no folder).
    // The working file is a copy of the target and so may be read-only: it is cleared before it is
    // deleted, or it would stay behind. The target keeps its own read-only bit through the copy.
    if (record.ascii == L"true" && !workingFile.empty()) {
        if ((!isReadOnly(targetPath_) || clearReadOnly(targetPath_)) && win::deleteFile(targetPath_)) {
            win::copyFile(workingFile, targetPath_, false);
            removeWorkingFile(workingFile);
            win::deleteFile(diffCopy);
        }
    } else if (record.ascii == L"false") {
        // Outcomes unchecked, as the checksum after decides; a read-only target is cleared first, or it
        // could be neither deleted nor replaced.
        if (isReadOnly(targetPath_)) clearReadOnly(targetPath_);
        win::deleteFile(targetPath_);
        win::copyFile(workingFile, targetPath_, false);
        removeWorkingFile(workingFile);
        win::deleteFile(diffCopy);
    }

    logInfo(
        L"Patcher has successfully patched the file. Patcher will now verify the file with checksum after.");
    logInfo(L"checksum after of the file as specified in the manifest XML file: %s", record.afterPatch);
    if (verifyChecksum(targetPath_, record.afterPatch, ChecksumMessages::patch)) {
        logInfo(L"Checksum of the file verified after patching. File patch is success.");
        return fileOpDone;
    }
    logError(L"Checksum verification of the file failed after patching.");
    return fileOpFailed;
}

std::unique_ptr<cFileOperation> makePatchOperation(const FileRecord& record) {
    return std::make_unique<cFileOperationPatch>(record);
}

}  // namespace mw

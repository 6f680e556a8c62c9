#include "mendwell/base/payload_extractor.h"

#include "mendwell/base/patch_state.h"
#include "mendwell/base/patchlog.h"
#include "mendwell/base/resource_writer.h"
#include "mendwell/base/workfolder.h"
#include "mendwell/base/zip_extractor.h"
#include "platform/fs/file.h"

namespace mw {

PayloadExtractor::PayloadExtractor(const win::Module& module) {
    logInfo(L"==========================Begin: Manifest XML Processing===========================");
    success_ = false;
    if (patchGlobals().rollbackMode) {
        // The rollback run reads the undo entries; the payload of the failed run is not touched.
        manifestPath_ = workPath(L"\\RollbackManifest.xml");
        success_ = true;
        return;
    }

    const std::wstring folder = workFolder();
    manifestPath_ = folder + L"\\manifest.xml";
    logInfo(L"Manifest XML will be extracted at %s ", manifestPath_);
    const std::wstring zipped = folder + L"\\ZippedStagingArea";
    win::createDirectory(zipped);
    archivePath_ = zipped + L"\\PatchFiles.zip";
    stagingArea_ = folder + L"\\StagingArea";
    logInfo(L"Staging Area will be extracted at %s ", stagingArea_);
    win::createDirectory(stagingArea_);
    quadrelFolder_ = folder + L"\\Quadrel";
    win::createDirectory(quadrelFolder_);

    if (writeResourceToFile(module, 100, L"MANIFEST", manifestPath_) != 0) {
        logError(L"Manifest XML failed to extract from EXE.");
        logError(L"Manifest extraction failed.");
        return;
    }
    logInfo(L"Manifest XML file Parser succeessfully");
    logInfo(L"Manifest extracted successfully.");

    if (writeResourceToFile(module, 100, L"PATCHFILES", archivePath_) != 0) {
        logError(L"Zipped PatchFiles failed to extract from EXE");
        logInfo(L"Staging Area extraction failed.");
        return;
    }
    TVRZipExtractor zip;
    const bool unpacked = zip.open(archivePath_) && zip.extractAll(stagingArea_, false) == 1;
    zip.close();
    // A staging area with missing or damaged files must not be patched from.
    if (!unpacked) {
        logError(L"Zipped PatchFiles could not be unpacked into the staging area.");
        logInfo(L"Staging Area extraction failed.");
        return;
    }
    logInfo(L"Zipped PatchFiles successfully extracted.");
    logInfo(L"Staging area extracted successfully.");

    if (writeResourceToFile(module, 100, L"QUADRELFILES", quadrelFolder_ + L"\\patch.exe") != 0 ||
        writeResourceToFile(module, 200, L"QUADRELFILES", quadrelFolder_ + L"\\quadw32.dll") != 0) {
        logError(L"Quadrel files failed to extract from EXE");
        return;
    }
    logInfo(L"Quadrel Files extracted Succesfully");
    success_ = true;
}

}  // namespace mw

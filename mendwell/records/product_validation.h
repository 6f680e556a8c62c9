// Locating the installed product and deciding whether this patch may be applied to it.
// Each check logs its own lines; a refusal leaves its code in patchGlobals().validationReason.
#pragma once
#include <string>
#include <string_view>

#include "mendwell/base/config_record.h"

namespace mw {

// Outcome of locateProduct.
enum LocateResult : int { productNotFound = 1, productFound = 3 };

// Dotted versions of up to four decimal parts; a missing part counts as 0.
// 1 when a is greater, -1 when smaller, 0 when equal.
int compareVersions(std::wstring_view a, std::wstring_view b);

// Asks the installed-product database for each of config.productCodes; the first code whose folder
// exists is marked selected and appended to config.detectedProductCodes. `installDir` gets that
// folder (no trailing backslash) or stays empty. Returns productFound or productNotFound.
// The mode-specific log line about the found folder is the caller's.
int locateProduct(PatcherConfigRecord& config, std::wstring& installDir);

// True when the database reports `folder` (exact, case-sensitive) for one of the detected codes.
bool isKnownInstallDir(const PatcherConfigRecord& config, const std::wstring& folder);

// Compares the history file of the detected product with the database. False when the history shows
// a newer version than this patch brings (qudUserMessage is then set); true otherwise. An out-of-date
// history file is deleted here.
// A check run (`changeNothing`) leaves a stale history file in place.
bool validateHistory(const PatcherConfigRecord& config, bool changeNothing = false);

// Checks the installed version against oldVersion/newVersion (combo rules included) and then the disk
// space. False with validationReason 4 (version does not fit), 6 (product newer than the patch),
// 10 or 11 (space).
bool validateVersion(const PatcherConfigRecord& config, const std::wstring& installDir);

// Free space on the install folder's drive and on the system drive against targetSpaceKb and
// systemSpaceKb. False with validationReason 10 or 11.
bool checkDiskSpace(const PatcherConfigRecord& config, const std::wstring& installDir);

// The detected product code the history file and the time stamps are kept for ("" when none).
std::wstring detectedProductCode(const PatcherConfigRecord& config);

}  // namespace mw

// MD5 texts the pre-flight took, kept for the run so that each target is read for its checksum once.
#pragma once
#include <string>

namespace mw {

// MD5 text of a file as fileMd5Text gives it, taken from the memo when the file was hashed before and
// still has the size and last-write time it had then; hashed (and kept) otherwise. A file last written
// just before it was hashed is not kept: a change in the same clock tick would not show in its time.
std::wstring memoMd5Text(const std::wstring& path);
// An entry of the run may have changed these files.
void forgetDigest(const std::wstring& path);
void forgetDigests();

}  // namespace mw

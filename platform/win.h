// Common types of the platform layer: Win32 error numbers, the thread-local last error, FILETIME.
#pragma once
#include <cstdint>

namespace win {

using DWORD = std::uint32_t;
using LONG = std::int32_t;
// 100-nanosecond intervals since 1601-01-01 UTC, as Windows FILETIME.
using FileTime = std::uint64_t;

constexpr DWORD kInfinite = 0xFFFFFFFF;

// Win32 error numbers the system logs and tests against.
namespace err {
constexpr DWORD success = 0;
constexpr DWORD invalidFunction = 1;
constexpr DWORD fileNotFound = 2;
constexpr DWORD pathNotFound = 3;
constexpr DWORD accessDenied = 5;
constexpr DWORD invalidHandle = 6;
constexpr DWORD notEnoughMemory = 8;
constexpr DWORD badFormat = 11;
constexpr DWORD invalidData = 13;
constexpr DWORD noMoreFiles = 18;
constexpr DWORD notSameDevice = 17;
constexpr DWORD writeFault = 29;
constexpr DWORD readFault = 30;
constexpr DWORD genFailure = 31;
constexpr DWORD sharingViolation = 32;
constexpr DWORD handleEof = 38;
constexpr DWORD notSupported = 50;
constexpr DWORD fileExists = 80;
constexpr DWORD invalidParameter = 87;
constexpr DWORD diskFull = 112;
constexpr DWORD insufficientBuffer = 122;
constexpr DWORD invalidName = 123;
constexpr DWORD modNotFound = 126;
constexpr DWORD procNotFound = 127;
constexpr DWORD dirNotEmpty = 145;
constexpr DWORD badPathname = 161;
constexpr DWORD alreadyExists = 183;
constexpr DWORD badExeFormat = 193;
constexpr DWORD filenameTooLong = 206;
constexpr DWORD moreData = 234;
constexpr DWORD noMoreItems = 259;
constexpr DWORD directory = 267;
constexpr DWORD resourceDataNotFound = 1812;
constexpr DWORD resourceTypeNotFound = 1813;
constexpr DWORD resourceNameNotFound = 1814;
constexpr DWORD resourceLangNotFound = 1815;
constexpr DWORD serviceRequestTimeout = 1053;
constexpr DWORD serviceAlreadyRunning = 1056;
constexpr DWORD serviceDisabled = 1058;
constexpr DWORD serviceDoesNotExist = 1060;
constexpr DWORD serviceCannotAcceptCtrl = 1061;
constexpr DWORD serviceNotActive = 1062;
constexpr DWORD noUnicodeTranslation = 1113;
constexpr DWORD badEnvironment = 10;
}  // namespace err

DWORD lastError();
void setLastError(DWORD error);

}  // namespace win

#include "platform/system/error_text.h"

#include <utility>

namespace win {

std::wstring errorText(DWORD error) {
    static const std::pair<DWORD, const wchar_t*> kTexts[] = {
        {err::success, L"The operation completed successfully."},
        {err::invalidFunction, L"Incorrect function."},
        {err::fileNotFound, L"The system cannot find the file specified."},
        {err::pathNotFound, L"The system cannot find the path specified."},
        {err::accessDenied, L"Access is denied."},
        {err::invalidHandle, L"The handle is invalid."},
        {err::notEnoughMemory, L"Not enough memory resources are available to process this command."},
        {err::badEnvironment, L"The environment is incorrect."},
        {err::badFormat, L"An attempt was made to load a program with an incorrect format."},
        {err::invalidData, L"The data is invalid."},
        {err::sharingViolation,
         L"The process cannot access the file because it is being used by another process."},
        {err::fileExists, L"The file exists."},
        {err::invalidParameter, L"The parameter is incorrect."},
        {err::diskFull, L"There is not enough space on the disk."},
        {err::invalidName, L"The filename, directory name, or volume label syntax is incorrect."},
        {err::modNotFound, L"The specified module could not be found."},
        {err::procNotFound, L"The specified procedure could not be found."},
        {err::dirNotEmpty, L"The directory is not empty."},
        {err::badPathname, L"The specified path is invalid."},
        {err::alreadyExists, L"Cannot create a file when that file already exists."},
        {err::badExeFormat, L"%1 is not a valid Win32 application."},
        {err::filenameTooLong, L"The filename or extension is too long."},
        {err::directory, L"The directory name is invalid."},
    };
    for (const auto& [number, text] : kTexts)
        if (number == error) return std::wstring(text) + L"\r\n";
    return L"Unknown error " + std::to_wstring(error) + L".\r\n";
}

}  // namespace win

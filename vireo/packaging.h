// Packaging and signing: `packageApplication` turns the published movie, its descriptor, icons and
// included items into a KITE package by running the runtime's developer tool; `createSelfSignedCertificate`
// runs the same tool to make a certificate file.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "vireo/settings_store.h"

namespace vireo {

// Answers of the timestamp retry dialog.
namespace retry {
constexpr int again = 1;
constexpr int cancel = 2;
constexpr int withoutTimestamp = 12;
}  // namespace retry

// What packaging uses from the rest of the extension: the settings store, strings, message boxes, the
// signing dialogs, the descriptor operations and the child-process runner.
class PackagingHost {
  public:
    virtual ~PackagingHost() = default;
    virtual std::wstring setting(const std::wstring& key) = 0;  // empty when missing
    virtual void setSetting(const std::wstring& key, const std::wstring& value) = 0;
    virtual void eraseSetting(const std::wstring& key) = 0;
    virtual std::wstring string(int id);  // the library's string resource; packagingString by default
    // Caption "Orvex Lumen TX4", flags and answer as win::messageBox.
    virtual int messageBox(const std::wstring& text, unsigned flags) = 0;
    virtual bool digitalSignatureDialog() = 0;  // true when closed with OK
    virtual int timestampRetryDialog() = 0;     // retry::
    virtual int defaultDescriptorCheck() = 0;   // 0 when usable
    virtual int customDescriptorCheck() = 0;
    virtual bool descriptorName(std::wstring& name) = 0;      // text of the first `name` element, trimmed
    virtual void updateDescriptorIcons() = 0;                 // icon update of the default descriptor, saved
    virtual std::vector<std::wstring> descriptorIcons() = 0;  // the icon collection
    // CreateWinProcess in capture mode: the exit code, the output in `output` (at most `limit` bytes).
    virtual int runCaptured(const std::wstring& commandLine, std::string& output, std::size_t limit) = 0;
    // The RFC 3161 timestamp authority the tool is sent to.
    virtual std::wstring timestampAuthority();
};

// The public timestamp authority used when signing with timestamps.
inline constexpr const wchar_t* kTimestampAuthority = L"http://timestamp.digicert.com";

// 1 when the run reached the tool (whatever the tool's result), 0 when it stopped before.
int packageApplication(PackagingHost& host);
// `arguments` as the self-signed certificate dialog builds them (starting with a blank), `file` the
// certificate they name. 1 when the tool ran, said nothing and made the file.
int createSelfSignedCertificate(PackagingHost& host, const std::wstring& arguments, const std::wstring& file);

// Packaging for the extension's own commands: the library's settings store, strings, message boxes,
// descriptor and CreateWinProcess. 1 when the run reached the tool.
int packageApplicationInExtension(SettingsStore& store);
int createSelfSignedCertificateInExtension(SettingsStore& store, const std::wstring& arguments,
                                           const std::wstring& file);

// The texts of the strings packaging shows (8011, 8014-8016, 8018, 8031-8046, 8054-8060, 8072-8074,
// 8081, 8082, 8084, 8085).
std::wstring packagingString(int id);

// Pieces of the work, for tests.
namespace packaging {
// `text` as it must stand between double quotes so that a child reading its command line by the
// Windows rules gets it back whole: quotes escaped, backslashes before a quote or the end doubled.
std::wstring quotedBody(std::wstring_view text);
// Output of at most `limit` bytes (the buffer, its terminating zero included) cut at the last whole
// UTF-8 character, as wide text.
std::wstring outputText(const std::string& output, std::size_t limit);
// The message part and detail of a tool run that ended with `exitCode`; both empty for success
// (0 without output) and for exit code 10.
void interpretResult(int exitCode, const std::wstring& output, PackagingHost& host, std::wstring& part,
                     std::wstring& detail);
// The destination with the package extension as its extension (see docs/formats.md).
std::wstring withPackageExtension(const std::wstring& destination, const std::wstring& extension);
// 0 when `name` + `extension` can be a file name; else the string that says why not (8084, 8085).
int packageNameProblem(const std::wstring& name, const std::wstring& extension);
}  // namespace packaging

}  // namespace vireo

// The parsed config.xml: what the patch is for and the checks to make before patching.
#pragma once
#include <string>
#include <vector>

namespace mw {

struct RegistryLocation {
    std::wstring hive;
    std::wstring path;
    std::wstring key;
};

struct ProductCodeEntry {
    std::wstring code;
    std::wstring installDir;  // filled by product location
    bool selected = false;
};

struct PatcherConfigRecord {
    std::wstring productName;
    std::wstring patchExecutableName;
    std::wstring patcherVersion;
    std::wstring patcherId;
    std::wstring buildNumber;
    std::wstring comboPatch;
    std::wstring productFamily;
    std::wstring qudAppId;
    std::wstring qudVersion;
    std::wstring oldVersion;
    std::wstring newVersion;
    std::wstring targetSpaceKb;
    std::wstring systemSpaceKb;
    std::wstring md5CheckPath;
    std::wstring md5CheckValue;
    std::wstring validityProductCode;
    std::vector<RegistryLocation> installDirRegistry;
    std::vector<RegistryLocation> validityRegistry;
    std::vector<ProductCodeEntry> productCodes;
    std::vector<std::wstring> aliases;
    std::vector<std::wstring> installPaths;
    std::vector<std::wstring> appRunningPatterns;
    std::vector<std::wstring> keyFilePaths;
    std::vector<std::wstring> detectedProductCodes;  // filled by product location
};

// The one process-wide configuration that the controller fills after a successful parse.
PatcherConfigRecord& globalConfig();

}  // namespace mw

#include "mendwell/base/config_reader.h"

#include "mendwell/base/fast_xml_parser.h"
#include "mendwell/base/patchlog.h"
#include "mendwell/base/resource_writer.h"
#include "mendwell/base/workfolder.h"
#include "platform/resources/resources.h"

namespace mw {

namespace {

constexpr std::uint16_t kConfigId = 100;

// One list of registry locations. An incomplete Registry element fails only while nothing complete
// has been collected yet.
bool readRegistryList(const XMLDocumentNode& root, std::wstring_view path,
                      std::vector<RegistryLocation>& out) {
    for (const XMLDocumentNode* reg : root.selectNodes(path)) {
        const XMLDocumentNode* hive = reg->selectNode(L"HIVE");
        const XMLDocumentNode* keyPath = reg->selectNode(L"Path");
        const XMLDocumentNode* key = reg->selectNode(L"Key");
        if (hive && keyPath && key) {
            out.push_back({hive->text(), keyPath->text(), key->text()});
        } else if (out.empty()) {
            return false;
        }
    }
    return true;
}

// Items of every list element along `listPath`; a list element without items fails while the list is
// still empty.
bool readStringList(const XMLDocumentNode& root, std::wstring_view listPath, std::wstring_view item,
                    std::vector<std::wstring>& out) {
    for (const XMLDocumentNode* list : root.selectNodes(listPath)) {
        const XMLNodeList items = list->selectNodes(item);
        if (items.empty() && out.empty()) return false;
        for (const XMLDocumentNode* node : items) out.push_back(node->text());
    }
    return true;
}

bool readSingle(const XMLDocumentNode& root, std::wstring_view path, std::wstring& out) {
    const XMLDocumentNode* node = root.selectNode(path);
    if (!node) return false;
    out = node->text();
    return true;
}

bool parseTree(const XMLDocumentNode& root, PatcherConfigRecord& r) {
    bool ok = true;
    ok &= readSingle(root, L"Name", r.productName);
    readSingle(root, L"PatchExecutableName", r.patchExecutableName);
    readSingle(root, L"Version", r.patcherVersion);
    ok &= readSingle(root, L"PatcherID", r.patcherId);
    ok &= readSingle(root, L"BuildNumber", r.buildNumber);
    readSingle(root, L"ComboPatch", r.comboPatch);

    // From here on each step runs only while everything so far was fine.
    if (ok && root.selectNode(L"ProductData/QUD")) {
        ok = readSingle(root, L"ProductData/QUD/AppID", r.qudAppId);
        readSingle(root, L"ProductData/QUD/Version", r.qudVersion);
    }
    if (ok) readSingle(root, L"Family", r.productFamily);
    if (ok) ok = readRegistryList(root, L"ProductData/PDS/Win/Registry", r.installDirRegistry);
    if (ok) {
        for (const XMLDocumentNode* code : root.selectNodes(L"ProductData/OrvexCode")) {
            const XMLNodeList guids = code->selectNodes(L"GUID");
            if (guids.empty() && r.productCodes.empty()) {
                ok = false;
                break;
            }
            for (const XMLDocumentNode* guid : guids) r.productCodes.push_back({guid->text(), L"", false});
        }
    }
    if (ok) ok = readStringList(root, L"ProductData/AliasList", L"Alias", r.aliases);
    if (ok) ok = readStringList(root, L"ProductData/PathList", L"Path", r.installPaths);
    if (ok) {
        readSingle(root, L"ProductData/OldVersion", r.oldVersion);
        readSingle(root, L"ProductData/NewVersion", r.newVersion);
    }
    if (ok)
        ok = readStringList(root, L"PrePatchValidation/AppRunningList", L"AppRunning", r.appRunningPatterns);
    if (ok) {
        ok = readStringList(root, L"PrePatchValidation/AppValidityCheck/KeyFilePathList", L"KeyFilePath",
                            r.keyFilePaths);
    }
    if (ok) {
        readSingle(root, L"PrePatchValidation/SpaceRequirement/Target", r.targetSpaceKb);
        readSingle(root, L"PrePatchValidation/SpaceRequirement/System", r.systemSpaceKb);
        for (const XMLDocumentNode* check :
             root.selectNodes(L"PrePatchValidation/AppValidityCheck/MD5Check")) {
            const XMLDocumentNode* path = check->selectNode(L"Path");
            const XMLDocumentNode* value = check->selectNode(L"MD5Value");
            if (!path || !value) {
                ok = false;
                break;
            }
            r.md5CheckPath = path->text();
            r.md5CheckValue = value->text();
        }
    }
    if (ok) readSingle(root, L"PrePatchValidation/AppValidityCheck/OrvexCode", r.validityProductCode);
    if (ok)
        ok = readRegistryList(root, L"PrePatchValidation/AppValidityCheck/PDS/Win/Registry",
                              r.validityRegistry);
    return ok;
}

}  // namespace

// Names what made parseTree fail: the first required element missing, else the kind of incomplete one.
std::wstring whyIncomplete(const XMLDocumentNode& root) {
    for (const wchar_t* required : {L"Name", L"PatcherID", L"BuildNumber"})
        if (!root.selectNode(required))
            return L"the required element <" + std::wstring(required) + L"> is missing";
    if (root.selectNode(L"ProductData/QUD") && !root.selectNode(L"ProductData/QUD/AppID"))
        return L"<ProductData><QUD> has no <AppID>";
    return L"an element is incomplete: a list without items, a <Registry> without <HIVE>, <Path> and <Key>, "
           L"or an <MD5Check> without <Path> and <MD5Value>";
}

bool parseConfigFile(const std::wstring& path, PatcherConfigRecord& record, std::wstring* problem) {
    record = PatcherConfigRecord();
    CFastXMLParser parser;
    std::wstring why;
    // A document that cannot be read as XML, or has another root, leaves the record empty; the missing
    // values show up in the log and fail the later checks.
    bool parsed = true;
    const XMLDocumentNode* root = nullptr;
    if (!parser.parseFile(path)) {
        why = L"config.xml does not read as XML: " + parser.errorText();
    } else if (root = parser.root(); !root || root->name() != L"PatcherConfig") {
        why = L"the root element of config.xml is <" + (root ? root->name() : std::wstring()) +
              L">, not <PatcherConfig>";
    } else if (!parseTree(*root, record)) {
        why = L"config.xml: " + whyIncomplete(*root);
        record = PatcherConfigRecord();
        parsed = false;
    }
    if (problem) *problem = why;
    return parsed;
}

ConfigReader::ConfigReader(const win::Module& module)
    : path_(workPath(L"\\config.xml")), record_(std::make_unique<PatcherConfigRecord>()) {
    if (writeResourceToFile(module, kConfigId, L"CONFIG", path_) != 0) {
        problem_ = L"config.xml cannot be extracted from the program to " + path_;
        return;
    }
    parsed_ = parseConfigFile(path_, *record_, &problem_);
}

void ConfigReader::copyTo(PatcherConfigRecord& target) const {
    if (parsed_) target = *record_;
}

void ConfigReader::logValues() const {
    if (parsed_) logConfigValues(*record_);
}

void logConfigValues(const PatcherConfigRecord& r) {
    if (r.productName.empty()) {
        logInfo(L"Mandotory tag \"ProductName\" not defined in config.xml");
    } else {
        logInfo(L"Product Name = %s", r.productName);
    }
    if (!r.patchExecutableName.empty()) logInfo(L"PatchExecutableName = %s", r.patchExecutableName);
    if (!r.patcherVersion.empty()) logInfo(L"Patcher Version = %s", r.patcherVersion);
    if (r.patcherId.empty()) {
        logInfo(L"Mandotory tag \"PatcherID\" not defined in config.xml");
    } else {
        logInfo(L"PatcherID = %s", r.patcherId);
    }
    if (r.buildNumber.empty()) {
        logInfo(L"Mandotory tag \"TVR Build Number\" not defined in config.xml");
    } else {
        logInfo(L"TVR Build Number = %s", r.buildNumber);
    }
    if (r.comboPatch.empty()) {
        logInfo(L"Mandotory tag \"Combo Patch\" not defined in config.xml");
    } else {
        logInfo(L"Is ComboPatch = %s", r.comboPatch);
    }
    if (!r.qudAppId.empty()) logInfo(L"QUD AppID = %s", r.qudAppId);
    if (!r.qudVersion.empty()) logInfo(L"QUD Version = %s", r.qudVersion);
    if (!r.productFamily.empty()) logInfo(L"Product Family = %s", r.productFamily);
    if (!r.installDirRegistry.empty()) {
        const RegistryLocation& first = r.installDirRegistry.front();
        if (!first.hive.empty() && !first.path.empty() && !first.key.empty()) {
            logInfo(L"RegistryHive = %s", first.hive);
            logInfo(L"RegistryPath = %s", first.path);
            logInfo(L"RegistryKey = %s", first.key);
        }
    }
    if (!r.oldVersion.empty()) logInfo(L"Old Version = %s", r.oldVersion);
    if (!r.newVersion.empty()) logInfo(L"New Version = %s", r.newVersion);
    if (r.detectedProductCodes.empty()) {
        logCritical(L"no orvex code mentioned in the config.xml");
    } else {
        for (const std::wstring& code : r.detectedProductCodes) logInfo(L"Orvexcode: %s", code);
    }
}

}  // namespace mw

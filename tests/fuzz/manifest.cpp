// libFuzzer target: manifest.xml (or a rollback manifest) through the document tree and every set reader,
// in both run modes. The readers must never crash or read outside the tree, whatever the document.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "mendwell/engine/manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    mw::CFastXMLParser parser;
    if (!parser.parseBuffer(std::string_view(reinterpret_cast<const char*>(data), size))) return 0;
    for (const mw::XMLDocumentNode* file : parser.selectNodes(mw::kFileSetPath)) {
        for (bool rollback : {false, true}) {
            mw::FileRecord record;
            mw::readFileRecord(*file, L"en_US", rollback, record);
        }
        mw::hasMandatoryFileTags(*file);
    }
    for (const mw::XMLDocumentNode* directory : parser.selectNodes(mw::kDirectorySetPath)) {
        mw::readDirectoryRecord(*directory);
    }
    for (const mw::XMLDocumentNode* pds : parser.selectNodes(mw::kPdsSetPath))
        mw::readRegistryRecord(*pds, L"en_US");
    for (const mw::XMLDocumentNode* service : parser.selectNodes(mw::kServiceSetPath))
        mw::readServiceRecord(*service);
    for (const mw::XMLDocumentNode* info : parser.selectNodes(mw::kAddRemoveInfoPath))
        mw::readAddRemoveRecord(*info);
    return 0;
}

// The DOM that the history and rollback-manifest files are built with (Xerces): what reads is
// selected, and what it writes reads back with the same elements.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/text/text.h"
#include "platform/xmldom/xmldom.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    win::xml::Document doc;
    if (!doc.parse(std::string_view(reinterpret_cast<const char*>(data), size))) return 0;
    const std::size_t elements = doc.select(L"//*").size();
    doc.select(L"//Patcher//*/" + doc.root().name());
    doc.root().text();
    const std::wstring text = doc.toString();
    if (text.empty()) return 0;  // holds what XML 1.0 cannot carry (an XML 1.1 document)
    win::xml::Document back;
    FUZZ_CHECK(back.parse("\xFF\xFE" + win::toUtf16le(text)), win::toUtf8(back.error() + L"\n" + text));
    FUZZ_CHECK(back.select(L"//*").size() == elements, win::toUtf8(text));
    // A copy into another document writes the same text.
    win::xml::Document copy;
    if (copy.create(L"Copy") && copy.root().appendCopy(back.root()))
        FUZZ_CHECK(copy.select(L"//*").size() == elements + 1, win::toUtf8(text));
    return 0;
}

// Fuzz target: the string dictionary reader (text in its three encodings, the binary form) and both
// escape passes, as a lookup meets them.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "mendwell/base/dictionary_escapes.h"
#include "mendwell/base/dictionary_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    glossa::DictionaryReader dictionary;
    dictionary.read(bytes);
    for (const auto& [key, value] : dictionary.entries()) {
        (void)dictionary.find(key);
        // Values are stored unescaped already; a second round must still be safe.
        (void)glossa::unescapeValue(value);
    }
    return 0;
}

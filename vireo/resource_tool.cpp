// vireo-strings LIBRARY STRINGS [BITMAP.bmp]: carries the string resources listed in STRINGS, and the
// introduction's bitmap, in LIBRARY's resource table (replacing any table it has). Run by the build after
// linking the extension.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/resources/resources.h"
#include "platform/text/text.h"
#include "vireo/resources/dialog_templates.h"
#include "vireo/string_table.h"

namespace {

// One line `8000 "text"`; false for anything else that is not blank or a comment.
bool parseLine(const std::string& line, std::map<std::uint16_t, std::wstring>& strings) {
    std::size_t pos = 0;
    unsigned long id = 0;
    try {
        id = std::stoul(line, &pos);
    } catch (...) {
        return false;
    }
    const auto open = line.find('"', pos);
    const auto close = line.rfind('"');
    if (id > 0xFFFF || open == std::string::npos || close == open) return false;
    std::string text;
    for (std::size_t i = open + 1; i < close; ++i) {
        if (line[i] == '\\' && i + 1 < close) {
            const char c = line[++i];
            text.push_back(c == 'n' ? '\n' : c);
        } else {
            text.push_back(line[i]);
        }
    }
    strings[static_cast<std::uint16_t>(id)] = win::fromUtf8(text);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::cerr << "usage: vireo-strings LIBRARY STRINGS [BITMAP.bmp]\n";
        return 2;
    }
    const std::filesystem::path library = argv[1];
    std::ifstream in(argv[2]);
    if (!in) {
        std::cerr << "vireo-strings: cannot read " << argv[2] << "\n";
        return 1;
    }
    std::map<std::uint16_t, std::wstring> strings;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.empty() || line[0] == '#') continue;
        if (!parseLine(line, strings)) {
            std::cerr << "vireo-strings: " << argv[2] << ":" << number << ": not a string line\n";
            return 1;
        }
    }
    win::ResourceWriter writer;
    for (auto& [blockId, bytes] : vireo::buildStringBlocks(strings))
        writer.add(vireo::kStringResourceType, blockId, win::kLangNeutral, std::move(bytes));
    if (argc == 4) {
        std::ifstream bmp(argv[3], std::ios::binary);
        const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(bmp)),
                                             std::istreambuf_iterator<char>());
        std::vector<std::uint8_t> dib = vireo::bitmapResourceFromFile(file);
        if (dib.empty()) {
            std::cerr << "vireo-strings: " << argv[3] << " is not a bitmap file\n";
            return 1;
        }
        writer.add(vireo::kBitmapResourceType, static_cast<std::uint16_t>(vireo::kIntroBitmap),
                   win::kLangNeutral, std::move(dib));
    }
    const std::filesystem::path temporary = library.string() + ".strings";
    std::string error;
    if (!writer.write(library, temporary, error)) {
        std::cerr << "vireo-strings: " << error << "\n";
        return 1;
    }
    std::error_code ec;
    std::filesystem::rename(temporary, library, ec);
    if (ec) {
        std::cerr << "vireo-strings: cannot replace " << library << ": " << ec.message() << "\n";
        return 1;
    }
    return 0;
}

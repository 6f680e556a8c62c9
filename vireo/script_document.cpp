#include "vireo/document_link.h"
#include "vireo/script_text.h"

namespace vireo {

LumenValue ScriptDocument::run(std::wstring_view script) {
    LumenValue result = 0;
    host_.runScript(context_, object_, script, result);
    return result;
}

DocumentValue ScriptDocument::read(std::wstring_view key) {
    DocumentValue v;
    const LumenValue result = run(script::readData(key));
    v.isZero = result == LUMEN_INT_VALUE(0);
    v.present = host_.valueToText(context_, result, v.text);
    return v;
}

void ScriptDocument::write(std::wstring_view key, std::wstring_view value) {
    run(script::writeData(key, value));
}

void ScriptDocument::erase(std::wstring_view key) {
    run(script::eraseData(key));
}

void ScriptDocument::publish() {
    run(script::publish());
}

std::wstring ScriptDocument::path() {
    std::wstring text;
    host_.valueToText(context_, run(script::documentPath()), text);
    return text;
}

}  // namespace vireo

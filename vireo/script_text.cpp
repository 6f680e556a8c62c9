#include "vireo/script_text.h"

#include <cstdio>

namespace vireo::script {

std::wstring literal(std::wstring_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        switch (c) {
            case L'"':
                out += L"\\\"";
                break;
            case L'\\':
                out += L"\\\\";
                break;
            case L'\n':
                out += L"\\n";
                break;
            case L'\r':
                out += L"\\r";
                break;
            case L'\t':
                out += L"\\t";
                break;
            default:
                // Other control characters and the two line separators would end or break the line.
                if (c < 0x20 || c == 0x2028 || c == 0x2029) {
                    wchar_t buffer[8];
                    std::swprintf(buffer, 8, L"\\u%04x", static_cast<unsigned>(c));
                    out += buffer;
                } else {
                    out.push_back(c);
                }
        }
    }
    return out;
}

std::wstring readData(std::wstring_view key) {
    return L"lx.activeDocument().readDocumentData(\"" + literal(key) + L"\");";
}

std::wstring writeData(std::wstring_view key, std::wstring_view value) {
    return L"lx.activeDocument().writeDocumentData(\"" + literal(key) + L"\", \"string\", \"" +
           literal(value) + L"\");";
}

std::wstring eraseData(std::wstring_view key) {
    return L"lx.activeDocument().eraseDocumentData(\"" + literal(key) + L"\");";
}

std::wstring publish() {
    return L"lx.activeDocument().publish()";
}

std::wstring documentPath() {
    return L"d = lx.activeDocument(); if ( d ) thepath = d.path;";
}

std::wstring launchDebugSession(std::wstring_view hostFolder, std::wstring_view descriptor) {
    const std::wstring host = literal(hostFolder);
    return L"lx.activeDocument().launchDebugSession(\"" + host + L"/KIK//bin//kdl.exe\", \"" + host +
           L"/KIK//runtimes//kite//win\", \"" + literal(descriptor) + L"\");";
}

std::wstring ensureKitePublishProfile() {
    return L"var prfName = \"Orvex KITE 1.0\";"
           L"var prfFileName = \"OrvexKITE1_0.xml\";"
           L"d = lx.activeDocument();"
           L"var curPrf = d.activePublishProfile;"
           L"if(curPrf != prfName) {"
           L"var documentClass = d.mainClass;"
           L"var exportInFrame = d.lsExportFrame;"
           L"var strictMode = d.lsStrictMode;"
           L"var warningMode = d.lsWarningsMode;"
           L"var autoDeclare = d.lsAutoDeclare;"
           L"var dialect = d.lsDialect;"
           L"var kitePrf = lx.settingsURI + \"Publish Profiles/\" + prfFileName;"
           L"d.loadPublishProfile(kitePrf);"
           L"d.activePublishProfile = prfName;"
           L"d.mainClass = documentClass;"
           L"d.lsExportFrame = exportInFrame;"
           L"d.lsStrictMode = strictMode;"
           L"d.lsWarningsMode = warningMode;"
           L"d.lsAutoDeclare = autoDeclare;"
           L"d.lsDialect = dialect;"
           L"d.publish();}";
}

}  // namespace vireo::script

// The tool's scripting: a Duktape heap with the object model extensions use (`lx.activeDocument()` and
// the document's data store, publishing, debugging and publish profiles), the script values that cross
// to extensions as words, and the functions extensions register.
#pragma once
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "outside/lumen/document.h"
#include "outside/lumen/lumen_api.h"

struct duk_hthread;

namespace lumen {

struct RegisteredFunction {
    std::wstring library;  // the object the function is reached through, e.g. Vireo.Publish(...)
    std::wstring name;
    LumenNativeFunction function = nullptr;
    unsigned argc = 0;
};

// How a command's script ended.
enum class ScriptEnd { completed, functionFailed, error };

class ScriptHost {
  public:
    ScriptHost(Document& document, std::wstring settingsFolder, bool verbose);
    ~ScriptHost();
    ScriptHost(const ScriptHost&) = delete;
    ScriptHost& operator=(const ScriptHost&) = delete;

    // The one host of this process (the entries extensions call are plain functions).
    static ScriptHost* current();

    void addFunction(RegisteredFunction function);
    const std::vector<RegisteredFunction>& functions() const { return functions_; }

    // Runs a command's script; the values handed to extensions live until the next command.
    ScriptEnd runCommand(std::wstring_view script);
    // Publishes the document: writes the movie file and, for a KITE profile, calls the extension's
    // "Publish" with the document's and the movie's URIs. False when either step fails.
    bool publish(std::wstring_view movieSuffix = {});
    // The movie file a test run writes (`suffix` e.g. "_Scene 1"), without calling "Publish".
    bool writeMovie(const std::wstring& moviePath);

    // Entries 19 and 37.
    const wchar_t* valueToText(LumenValue value, unsigned* length);
    int runScript(std::wstring_view text, std::wstring_view label, unsigned line, LumenValue* result);

    // Internal: used by the Duktape bindings.
    Document& document() { return document_; }
    const std::wstring& settingsFolder() const { return settingsFolder_; }
    LumenValue toValue(duk_hthread* ctx, int index);
    void pushValue(duk_hthread* ctx, LumenValue value);
    // Calls a registered function with the script's arguments; false when it reported failure.
    bool invoke(duk_hthread* ctx, std::size_t index, LumenValue& result);
    const char* functionLabel(std::size_t index) const { return labels_.at(index).c_str(); }
    bool verbose() const { return verbose_; }
    int launchDebugSession(const std::wstring& launcher, const std::wstring& runtime,
                           const std::wstring& descriptor);
    std::wstring fileUri(std::wstring_view path) const;

  private:
    struct Value {
        enum Kind { string, number, boolean } kind = string;
        std::wstring text;
    };
    LumenValue store(Value value);

    duk_hthread* ctx_ = nullptr;
    Document& document_;
    std::wstring settingsFolder_;
    bool verbose_ = false;
    std::vector<RegisteredFunction> functions_;
    std::vector<std::string> labels_;  // "Vireo.Publish", kept for error texts
    std::deque<Value> values_;
    std::deque<std::wstring> texts_;
    int failureDepth_ = 0;
};

// The tool's own conversion of its "file:///C|/..." URIs back to Windows paths.
std::wstring pathFromUri(std::wstring_view uri);

}  // namespace lumen

// Entries 19 and 37 of the table given to extensions.
extern "C" {
const wchar_t* lumenValueToText(void* context, LumenValue value, unsigned* length);
int lumenRunScript(void* context, void* object, const wchar_t* text, unsigned length,
                   const wchar_t* sourceLabel, unsigned line, LumenValue* result);
}

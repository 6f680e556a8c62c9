#include "outside/lumen/script_host.h"

#include <duktape.h>

#include <cmath>
#include <cstdio>
#include <iostream>

#include "platform/fs/file.h"
#include "platform/process/process.h"
#include "platform/text/text.h"

namespace lumen {

namespace {

ScriptHost* g_host = nullptr;
constexpr const char* kFunctionFailed = "lumenFunctionFailed";

std::string utf8(std::wstring_view text) {
    return win::toUtf8(text);
}

std::wstring wide(duk_context* ctx, duk_idx_t index) {
    return win::fromUtf8(duk_safe_to_string(ctx, index));
}

ScriptHost& host() {
    return *g_host;
}

// Document properties, by magic number.
enum Property { path, activeProfile, mainClass, exportFrame, strictMode, warningsMode, autoDeclare, dialect };
constexpr const char* kPropertyNames[] = {
    "path",         "activePublishProfile", "mainClass",     "lsExportFrame",
    "lsStrictMode", "lsWarningsMode",       "lsAutoDeclare", "lsDialect"};

duk_ret_t getProperty(duk_context* ctx) {
    Document& d = host().document();
    PublishProfile& p = d.active();
    switch (duk_get_current_magic(ctx)) {
        case path:
            duk_push_string(ctx, utf8(d.path()).c_str());
            break;
        case activeProfile:
            duk_push_string(ctx, utf8(p.name).c_str());
            break;
        case mainClass:
            duk_push_string(ctx, utf8(p.mainClass).c_str());
            break;
        case exportFrame:
            duk_push_int(ctx, p.exportFrame);
            break;
        case strictMode:
            duk_push_boolean(ctx, p.strictMode);
            break;
        case warningsMode:
            duk_push_boolean(ctx, p.warningsMode);
            break;
        case autoDeclare:
            duk_push_boolean(ctx, p.autoDeclare);
            break;
        default:
            duk_push_string(ctx, utf8(p.dialect).c_str());
    }
    return 1;
}

duk_ret_t setProperty(duk_context* ctx) {
    Document& d = host().document();
    PublishProfile& p = d.active();
    switch (duk_get_current_magic(ctx)) {
        case path:
            return duk_error(ctx, DUK_ERR_TYPE_ERROR, "path is read-only");
        case activeProfile:
            if (!d.activate(wide(ctx, 0)))
                return duk_error(ctx, DUK_ERR_ERROR, "no publish profile named %s",
                                 duk_safe_to_string(ctx, 0));
            break;
        case mainClass:
            p.mainClass = wide(ctx, 0);
            break;
        case exportFrame:
            p.exportFrame = duk_to_int(ctx, 0);
            break;
        case strictMode:
            p.strictMode = duk_to_boolean(ctx, 0);
            break;
        case warningsMode:
            p.warningsMode = duk_to_boolean(ctx, 0);
            break;
        case autoDeclare:
            p.autoDeclare = duk_to_boolean(ctx, 0);
            break;
        default:
            p.dialect = wide(ctx, 0);
    }
    return 0;
}

duk_ret_t readDocumentData(duk_context* ctx) {
    auto& data = host().document().data();
    auto it = data.find(wide(ctx, 0));
    if (it == data.end())
        duk_push_int(ctx, 0);  // the tool's answer for a key the document does not hold
    else
        duk_push_string(ctx, utf8(it->second).c_str());
    return 1;
}

duk_ret_t writeDocumentData(duk_context* ctx) {
    if (wide(ctx, 1) != L"string") return duk_error(ctx, DUK_ERR_TYPE_ERROR, "only \"string\" data is kept");
    host().document().data()[wide(ctx, 0)] = wide(ctx, 2);
    return 0;
}

duk_ret_t eraseDocumentData(duk_context* ctx) {
    host().document().data().erase(wide(ctx, 0));
    return 0;
}

duk_ret_t publish(duk_context* ctx) {
    duk_push_boolean(ctx, host().publish());
    return 1;
}

duk_ret_t launchDebugSession(duk_context* ctx) {
    duk_push_int(ctx, host().launchDebugSession(wide(ctx, 0), wide(ctx, 1), wide(ctx, 2)));
    return 1;
}

// Loading makes the profile the document's active one, with the profile's own settings. False with
// the reason in `error` (a fixed buffer: nothing with a destructor may be alive when Duktape throws).
bool loadProfile(duk_context* ctx, char (&error)[512]) {
    PublishProfile profile;
    std::wstring message;
    if (!loadProfileFile(pathFromUri(wide(ctx, 0)), profile, message)) {
        std::snprintf(error, sizeof error, "%s", utf8(message).c_str());
        return false;
    }
    host().document().addProfile(profile);
    host().document().activate(profile.name);
    return true;
}

duk_ret_t loadPublishProfile(duk_context* ctx) {
    char error[512];
    if (!loadProfile(ctx, error)) return duk_error(ctx, DUK_ERR_ERROR, "%s", error);
    duk_push_true(ctx);
    return 1;
}

duk_ret_t activeDocument(duk_context* ctx) {
    duk_push_global_stash(ctx);
    duk_get_prop_string(ctx, -1, "document");
    return 1;
}

duk_ret_t callRegistered(duk_context* ctx) {
    const auto index = static_cast<std::size_t>(duk_get_current_magic(ctx));
    LumenValue result = 0;
    if (!host().invoke(ctx, index, result)) {
        // A failed native function ends the script that called it, without an error report of its own.
        duk_push_error_object(ctx, DUK_ERR_ERROR, "%s failed", host().functionLabel(index));
        duk_push_true(ctx);
        duk_put_prop_string(ctx, -2, kFunctionFailed);
        return duk_throw(ctx);
    }
    host().pushValue(ctx, result);
    return 1;
}

void putMethod(duk_context* ctx, const char* name, duk_c_function f, duk_idx_t nargs) {
    duk_push_c_function(ctx, f, nargs);
    duk_put_prop_string(ctx, -2, name);
}

void buildObjectModel(duk_context* ctx, const std::wstring& settingsUri) {
    // The document object, kept in the stash and handed out by lx.activeDocument().
    duk_push_global_stash(ctx);
    duk_push_object(ctx);
    putMethod(ctx, "readDocumentData", readDocumentData, 1);
    putMethod(ctx, "writeDocumentData", writeDocumentData, 3);
    putMethod(ctx, "eraseDocumentData", eraseDocumentData, 1);
    putMethod(ctx, "publish", publish, 0);
    putMethod(ctx, "launchDebugSession", launchDebugSession, 3);
    putMethod(ctx, "loadPublishProfile", loadPublishProfile, 1);
    for (int i = 0; i <= dialect; ++i) {
        duk_push_string(ctx, kPropertyNames[i]);
        duk_push_c_function(ctx, getProperty, 0);
        duk_set_magic(ctx, -1, i);
        duk_push_c_function(ctx, setProperty, 1);
        duk_set_magic(ctx, -1, i);
        duk_def_prop(ctx, -4, DUK_DEFPROP_HAVE_GETTER | DUK_DEFPROP_HAVE_SETTER | DUK_DEFPROP_SET_ENUMERABLE);
    }
    duk_put_prop_string(ctx, -2, "document");
    duk_pop(ctx);

    duk_push_global_object(ctx);
    duk_push_object(ctx);
    putMethod(ctx, "activeDocument", activeDocument, 0);
    duk_push_string(ctx, utf8(settingsUri).c_str());
    duk_put_prop_string(ctx, -2, "settingsURI");
    duk_put_prop_string(ctx, -2, "lx");
    duk_pop(ctx);
}

bool isFunctionFailure(duk_context* ctx, duk_idx_t index) {
    if (!duk_is_object(ctx, index)) return false;
    duk_get_prop_string(ctx, index, kFunctionFailed);
    const bool failed = duk_to_boolean(ctx, -1);
    duk_pop(ctx);
    return failed;
}

void fatal(void*, const char* message) {
    std::cerr << "lumen: script engine failure: " << (message ? message : "") << "\n";
    std::abort();
}

}  // namespace

std::wstring pathFromUri(std::wstring_view uri) {
    std::wstring_view rest = uri;
    if (rest.size() >= 8 && win::iequals(rest.substr(0, 8), L"file:///")) rest.remove_prefix(8);
    std::wstring out;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == L'/')
            out += L'\\';
        else if (rest[i] == L'|')
            out += L':';
        else if (rest[i] == L'%' && i + 2 < rest.size() && rest.substr(i + 1, 2) == L"20") {
            out += L' ';
            i += 2;
        } else
            out += rest[i];
    }
    return out;
}

ScriptHost::ScriptHost(Document& document, std::wstring settingsFolder, bool verbose)
    : document_(document), settingsFolder_(std::move(settingsFolder)), verbose_(verbose) {
    g_host = this;
    ctx_ = duk_create_heap(nullptr, nullptr, nullptr, nullptr, fatal);
    buildObjectModel(ctx_, fileUri(settingsFolder_));
}

ScriptHost::~ScriptHost() {
    duk_destroy_heap(ctx_);
    g_host = nullptr;
}

ScriptHost* ScriptHost::current() {
    return g_host;
}

std::wstring ScriptHost::fileUri(std::wstring_view path) const {
    std::wstring uri = L"file:///";
    for (wchar_t c : path) {
        if (c == L'\\')
            uri += L'/';
        else if (c == L':')
            uri += L'|';
        else if (c == L' ')
            uri += L"%20";
        else
            uri += c;
    }
    return uri;
}

void ScriptHost::addFunction(RegisteredFunction function) {
    // Each library's functions are reached through an object named after it.
    duk_push_global_object(ctx_);
    const std::string library = utf8(function.library);
    if (!duk_get_prop_string(ctx_, -1, library.c_str())) {
        duk_pop(ctx_);
        duk_push_object(ctx_);
        duk_dup_top(ctx_);
        duk_put_prop_string(ctx_, -3, library.c_str());
    }
    duk_push_c_function(ctx_, lumen::callRegistered, DUK_VARARGS);
    duk_set_magic(ctx_, -1, static_cast<duk_int_t>(functions_.size()));
    duk_put_prop_string(ctx_, -2, utf8(function.name).c_str());
    duk_pop_2(ctx_);
    if (verbose_)
        std::cout << "lumen: " << library << " registered " << utf8(function.name) << " (" << function.argc
                  << (function.argc == 1 ? " argument)\n" : " arguments)\n");
    labels_.push_back(library + "." + utf8(function.name));
    functions_.push_back(std::move(function));
}

LumenValue ScriptHost::store(Value value) {
    values_.push_back(std::move(value));
    return static_cast<LumenValue>(values_.size()) << 1;
}

LumenValue ScriptHost::toValue(duk_context* ctx, int index) {
    if (duk_is_null_or_undefined(ctx, index)) return 0;
    if (duk_is_number(ctx, index)) {
        const double n = duk_get_number(ctx, index);
        if (std::floor(n) == n && std::fabs(n) < 1073741824.0)
            return LUMEN_INT_VALUE(static_cast<intptr_t>(n));
        return store({Value::number, wide(ctx, index)});
    }
    if (duk_is_boolean(ctx, index))
        return store({Value::boolean, duk_get_boolean(ctx, index) ? L"true" : L"false"});
    return store({Value::string, wide(ctx, index)});
}

void ScriptHost::pushValue(duk_context* ctx, LumenValue value) {
    if (value == 0) {
        duk_push_undefined(ctx);
    } else if (LUMEN_VALUE_IS_INT(value)) {
        duk_push_number(ctx, static_cast<double>(LUMEN_VALUE_INT(value)));
    } else {
        const std::size_t index = (value >> 1) - 1;
        if (index >= values_.size()) {
            duk_push_undefined(ctx);
            return;
        }
        const Value& v = values_[index];
        if (v.kind == Value::boolean)
            duk_push_boolean(ctx, v.text == L"true");
        else if (v.kind == Value::number)
            duk_push_number(ctx, std::wcstod(v.text.c_str(), nullptr));
        else
            duk_push_string(ctx, utf8(v.text).c_str());
    }
}

const wchar_t* ScriptHost::valueToText(LumenValue value, unsigned* length) {
    const std::wstring* text = nullptr;
    if (value == 0) return nullptr;
    if (LUMEN_VALUE_IS_INT(value)) {
        texts_.push_back(std::to_wstring(LUMEN_VALUE_INT(value)));
        text = &texts_.back();
    } else {
        const std::size_t index = (value >> 1) - 1;
        if (index >= values_.size()) return nullptr;
        text = &values_[index].text;
    }
    if (length) *length = static_cast<unsigned>(text->size());
    return text->c_str();
}

int ScriptHost::runScript(std::wstring_view text, std::wstring_view label, unsigned line,
                          LumenValue* result) {
    if (result) *result = 0;
    const std::string source = utf8(text);
    duk_push_string(ctx_, (utf8(label) + ":" + std::to_string(line)).c_str());
    if (duk_eval_raw(ctx_, source.data(), source.size(),
                     1 | DUK_COMPILE_EVAL | DUK_COMPILE_SAFE | DUK_COMPILE_NOSOURCE) != 0) {
        if (!isFunctionFailure(ctx_, -1))
            std::cerr << "lumen: script error: " << duk_safe_to_string(ctx_, -1) << "\n";
        duk_pop(ctx_);
        return 0;
    }
    if (result) *result = toValue(ctx_, -1);
    duk_pop(ctx_);
    return 1;
}

ScriptEnd ScriptHost::runCommand(std::wstring_view script) {
    values_.clear();
    texts_.clear();
    const std::string source = utf8(script);
    duk_push_string(ctx_, "command");
    ScriptEnd end = ScriptEnd::completed;
    if (duk_eval_raw(ctx_, source.data(), source.size(),
                     1 | DUK_COMPILE_EVAL | DUK_COMPILE_SAFE | DUK_COMPILE_NOSOURCE) != 0) {
        if (isFunctionFailure(ctx_, -1)) {
            end = ScriptEnd::functionFailed;
        } else {
            std::cerr << "lumen: script error: " << duk_safe_to_string(ctx_, -1) << "\n";
            end = ScriptEnd::error;
        }
    }
    duk_pop(ctx_);
    return end;
}

bool ScriptHost::invoke(duk_context* ctx, std::size_t index, LumenValue& result) {
    const RegisteredFunction& f = functions_.at(index);
    const duk_idx_t count = duk_get_top(ctx);
    std::vector<LumenValue> argv;
    for (duk_idx_t i = 0; i < count; ++i) argv.push_back(toValue(ctx, i));
    void* self = this;
    if (f.function(self, self, static_cast<unsigned>(argv.size()), argv.data(), &result)) return true;
    if (verbose_) std::cout << "lumen: " << labels_.at(index) << " reported failure\n";
    return false;
}

bool ScriptHost::writeMovie(const std::wstring& moviePath) {
    const PublishProfile& p = document_.active();
    const std::string movie = "LMV 1\r\nmainClass=" + utf8(p.mainClass) +
                              "\r\nlsExportFrame=" + std::to_string(p.exportFrame) +
                              "\r\nlsStrictMode=" + (p.strictMode ? "true" : "false") +
                              "\r\nlsWarningsMode=" + (p.warningsMode ? "true" : "false") +
                              "\r\nlsAutoDeclare=" + (p.autoDeclare ? "true" : "false") +
                              "\r\nlsDialect=" + utf8(p.dialect) + "\r\n";
    if (!win::writeFile(moviePath, movie)) {
        std::cerr << "lumen: cannot write " << utf8(moviePath) << " (error " << win::lastError() << ")\n";
        return false;
    }
    return true;
}

bool ScriptHost::publish(std::wstring_view movieSuffix) {
    const std::wstring movie = document_.moviePath(movieSuffix);
    if (!writeMovie(movie)) return false;
    if (verbose_) std::cout << "lumen: published " << utf8(movie) << "\n";
    if (document_.active().target != L"KITE") return true;
    for (std::size_t i = 0; i < functions_.size(); ++i) {
        if (functions_[i].name != L"Publish") continue;
        std::vector<LumenValue> argv = {store({Value::string, fileUri(document_.path())}),
                                        store({Value::string, fileUri(movie)})};
        LumenValue result = 0;
        void* self = this;
        if (!functions_[i].function(self, self, 2, argv.data(), &result)) {
            std::cerr << "lumen: " << utf8(functions_[i].library) << ".Publish reported failure\n";
            return false;
        }
    }
    return true;
}

int ScriptHost::launchDebugSession(const std::wstring& launcher, const std::wstring& runtime,
                                   const std::wstring& descriptor) {
    win::ChildProcess child;
    const std::wstring line = win::quoteArgument(launcher) + L" -runtime " + win::quoteArgument(runtime) +
                              L" -debug " + win::quoteArgument(descriptor);
    if (verbose_) std::cout << "lumen: debug session " << utf8(line) << "\n";
    win::ChildOptions options;
    options.hideWindow = true;
    if (!child.start(line, options)) {
        std::cerr << "lumen: cannot start the debug launcher " << utf8(launcher) << " (error "
                  << win::lastError() << ")\n";
        return -1;
    }
    child.wait();
    win::DWORD code = 0;
    child.exitCode(code);
    return static_cast<int>(code);
}

}  // namespace lumen

extern "C" {

const wchar_t* lumenValueToText(void*, LumenValue value, unsigned* length) {
    auto* host = lumen::ScriptHost::current();
    return host ? host->valueToText(value, length) : nullptr;
}

int lumenRunScript(void*, void*, const wchar_t* text, unsigned length, const wchar_t* label, unsigned line,
                   LumenValue* result) {
    auto* host = lumen::ScriptHost::current();
    if (!host || !text) return 0;
    return host->runScript(std::wstring_view(text, length), label ? label : L"", line, result);
}
}

// The open document as the extension sees it: its data store, its path and publishing. The authoring
// tool provides it through scripts (ScriptDocument); tests provide it directly.
#pragma once
#include <string>
#include <string_view>

#include "outside/lumen/lumen_api.h"
#include "vireo/host_environment.h"

namespace vireo {

struct DocumentValue {
    bool present = false;  // the tool answered with a value that has a text
    bool isZero = false;   // the answer was the integer 0 (the tool's answer for a key it does not hold)
    std::wstring text;
};

class DocumentLink {
  public:
    virtual ~DocumentLink() = default;
    virtual DocumentValue read(std::wstring_view key) = 0;
    virtual void write(std::wstring_view key, std::wstring_view value) = 0;
    virtual void erase(std::wstring_view key) = 0;
    virtual void publish() = 0;
    // The document's path as the tool gives it; empty when it gives none.
    virtual std::wstring path() = 0;
};

// The document through the tool's scripts, in the script context of the running native function.
class ScriptDocument : public DocumentLink {
  public:
    ScriptDocument(const HostEnvironment& host, void* context, void* object)
        : host_(host), context_(context), object_(object) {}
    DocumentValue read(std::wstring_view key) override;
    void write(std::wstring_view key, std::wstring_view value) override;
    void erase(std::wstring_view key) override;
    void publish() override;
    std::wstring path() override;
    // Any script; the completion value (0 when the script could not run).
    LumenValue run(std::wstring_view script);
    const HostEnvironment& host() const { return host_; }
    void* context() const { return context_; }

  private:
    const HostEnvironment& host_;
    void* context_;
    void* object_;
};

}  // namespace vireo

// Dialogs run from templates: control access by id, command handlers, a modal run, a blocking send of a
// message from worker threads to the dialog's thread, timers, and an optional script of user actions
// (for tests and headless runs). What the window looks like is the backend's business: Qt Widgets for
// real windows, or the scripted backend that only records.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/ui/dialog_template.h"

namespace win::ui {

class Dialog;

struct ControlState {
    ControlTemplate layout;
    std::wstring text;
    bool visible = true;
    bool enabled = true;
    int progress = 0;
};

class DialogBackend {
  public:
    virtual ~DialogBackend() = default;
    virtual void create(Dialog&) {}
    // The modal loop: runs the dialog's pending work as it comes until the dialog has ended.
    virtual void run(Dialog&) = 0;
    // Work was queued from another thread; thread-safe.
    virtual void wake() = 0;
    // A control (or, with id 0, the caption) changed; called on the dialog's thread.
    virtual void changed(Dialog&, int id) {}
    virtual int messageBox(std::wstring_view text, std::wstring_view caption, unsigned type);
    // The window as an image file; false when the backend draws nothing.
    virtual bool screenshot(Dialog&, const std::string& path) { return false; }
    virtual void destroy(Dialog&) {}
};

// A script step: "click ID", "close", "answer BUTTON" (for the next message box: ok, cancel, yes, no,
// retry or a number), "await visible ID", "await hidden ID", "await text ID SUBSTRING", "await progress
// ID >= N" / "<= N", "await ended", "shot FILE". Steps run in order; an await holds the steps after it
// until it is true.
std::vector<std::string> parseScript(std::string_view text);

class Dialog {
  public:
    Dialog(DialogTemplate layout, DialogBackend& backend);
    ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    using Handler = std::function<void()>;
    void onInit(Handler h) { init_ = std::move(h); }
    void onCommand(int id, Handler h) { commands_[id] = std::move(h); }
    void onMessage(unsigned message, std::function<std::intptr_t(std::intptr_t)> h) {
        messages_[message] = std::move(h);
    }
    void setScript(std::vector<std::string> steps);

    // Creates the window, runs the init handler and the loop; returns the code given to end().
    int runModal();
    void end(int code);
    bool ended() const { return ended_; }

    // Control access, on the dialog's thread.
    void setCaption(std::wstring caption);
    const std::wstring& caption() const { return caption_; }
    void setText(int id, std::wstring text);
    std::wstring text(int id) const;
    void show(int id, bool visible);
    bool visible(int id) const;
    void enable(int id, bool enabled);
    bool enabled(int id) const;
    void setProgress(int id, int position);  // clamped to 0..100
    int progress(int id) const;
    // The user pressed a button (the close box arrives as the Cancel button, id 2).
    void click(int id);
    int messageBox(std::wstring_view text, std::wstring_view caption, unsigned type);

    // From a worker thread: runs the message's handler on the dialog's thread and waits for its answer.
    // 0 at once when the dialog is not running (a window that is gone answers nothing).
    std::intptr_t sendMessage(unsigned message, std::intptr_t param);
    // Calls `h` on the dialog's thread every `ms` milliseconds until killed.
    void setTimer(int id, unsigned ms, Handler h);
    void killTimer(int id);

    // For backends: runs queued messages, due timers and the script's next steps; true when anything ran.
    bool runPending();
    // When the next timer is due; max() when there is none.
    std::chrono::steady_clock::time_point nextTimer() const;
    // The script has steps left; hasScript: one was given at all.
    bool scriptPending() const { return scriptAt_ < script_.size(); }
    bool hasScript() const { return !script_.empty(); }
    const DialogTemplate& layout() const { return layout_; }
    const std::vector<ControlState>& controls() const { return controls_; }
    // Every change and user action, one line each ("text 204 <Welcome>", "show 205 1", "click 1", ...).
    const std::vector<std::string>& record() const { return record_; }

  private:
    struct Sent {
        unsigned message;
        std::intptr_t param;
        std::intptr_t answer = 0;
        bool done = false;
    };
    struct Timer {
        unsigned ms;
        std::chrono::steady_clock::time_point due;
        Handler handler;
    };
    ControlState* find(int id);
    const ControlState* find(int id) const;
    void note(std::string line);
    bool stepScript();
    void finishSends();

    DialogTemplate layout_;
    DialogBackend& backend_;
    std::vector<ControlState> controls_;
    std::wstring caption_;
    Handler init_;
    std::map<int, Handler> commands_;
    std::map<unsigned, std::function<std::intptr_t(std::intptr_t)>> messages_;
    std::map<int, Timer> timers_;
    std::vector<std::string> script_;
    std::size_t scriptAt_ = 0;
    std::deque<int> answers_;
    std::vector<std::string> record_;
    bool ended_ = false;
    bool inPending_ = false;  // a backend's nested event loop (a message box) must not re-enter
    int endCode_ = 0;

    mutable std::mutex mutex_;  // guards the send queue and running_
    std::condition_variable sentDone_;
    std::deque<Sent*> sent_;
    bool running_ = false;
    std::thread::id owner_;
};

// Headless: no window; the loop plays the script and records. When nothing is queued and the script
// cannot go on for `stallLimit`, the dialog ends with -1 (a script waiting for what never comes);
// without any script it ends with -1 as soon as it is idle, as nobody could answer it.
class ScriptedBackend : public DialogBackend {
  public:
    explicit ScriptedBackend(std::chrono::milliseconds stallLimit = std::chrono::seconds(20))
        : stallLimit_(stallLimit) {}
    void run(Dialog& dialog) override;
    void wake() override;
    int messageBox(std::wstring_view text, std::wstring_view caption, unsigned type) override;

  private:
    std::chrono::milliseconds stallLimit_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool woken_ = false;
};

// The steps of the file named by MENDWELL_DIALOG_SCRIPT (a host path); none without it. When
// MENDWELL_DIALOG_RECORD names a file, every dialog's record is appended to it when the dialog ends.
std::vector<std::string> scriptFromEnvironment();

// Qt Widgets on a display, or offscreen (QT_QPA_PLATFORM=offscreen) when a script drives the dialog
// (for screenshots); else the scripted backend.
std::unique_ptr<DialogBackend> makeDialogBackend(bool scripted);

}  // namespace win::ui

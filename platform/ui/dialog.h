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

// A font of its own for one control; an empty name keeps the dialog's font.
struct FontSpec {
    std::wstring name;
    int pixelHeight = 0;  // as a LOGFONT height: the character cell, in pixels
    int weight = 400;     // 100 to 900, as LOGFONT weights
    bool antialiased = true;
};

struct ControlState {
    ControlTemplate layout;
    std::wstring text;  // for combo boxes and drop lists: the edit text or the selected item
    bool visible = true;
    bool enabled = true;
    int progress = 0;
    int checked = 0;
    std::vector<std::wstring> items;
    int selection = -1;
    std::vector<std::uint8_t> image;  // encoded image bytes; empty draws the background only
    std::uint32_t background = 0;     // ARGB the image area is cleared to; 0 leaves the dialog's colour
    std::uint32_t color = 0;          // ARGB of the text; 0 is the default colour
    FontSpec font;
};

// A common file dialog. `filter` is written as the framework writes it: "Text (*.txt)|*.txt|All|*.*||".
struct FileDialogRequest {
    bool save = false;
    bool mustExist = false;
    std::wstring title;
    std::wstring filter;
    std::wstring defaultExtension;  // without the dot
    std::wstring fileName;          // proposed name
};

// The steps of a script and the answers queued by them, shared by every dialog that plays it: a dialog
// opened from another one plays the following steps and hands the rest back when it ends.
struct ScriptSession {
    std::vector<std::string> steps;
    std::size_t at = 0;
    std::deque<std::string> answers;  // "box N", "file PATH", "file", "folder PATH", "folder"
    bool pending() const { return at < steps.size(); }
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
    // Pickers and the shell, when no script answers them. Headless: cancelled; "open" succeeds (42)
    // without opening anything.
    virtual bool fileDialog(Dialog&, const FileDialogRequest&, std::wstring& path) { return false; }
    virtual bool folderDialog(Dialog&, std::wstring_view title, std::wstring& path) { return false; }
    virtual int shellOpen(std::wstring_view target) { return 42; }
    virtual void beep() {}
    // Where a control is drawn, in pixels of the dialog's client area, and the base units that placed
    // it; false when nothing is drawn.
    virtual bool placement(Dialog&, int id, int& x, int& y, int& cx, int& cy) { return false; }
    virtual DialogBaseUnits baseUnits() const { return {}; }
};

// A script step: "click ID" (check boxes and radio buttons toggle as they do for a mouse click),
// "close", "type ID TEXT" (the user's text in an edit or combo box; the rest of the line), "select ID N"
// (the user picks item N of a list or combo box), "answer BUTTON" (for the next message box: ok,
// cancel, yes, no, retry or a number), "file PATH" / "file cancel" and "folder PATH" / "folder cancel"
// (for the next file or folder picker; PATH is a Windows path), "await visible ID", "await hidden ID",
// "await text ID SUBSTRING" (of a list: of one of its items), "await progress ID >= N" / "<= N", "shot FILE"
// (the window as a PNG, a host path). Steps run in order; an await holds the steps after it until it is true.
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
    // The user changed the selection of a list or combo box, or the text of an edit.
    void onSelect(int id, Handler h) { selects_[id] = std::move(h); }
    void onEdit(int id, Handler h) { edits_[id] = std::move(h); }
    void onMessage(unsigned message, std::function<std::intptr_t(std::intptr_t)> h) {
        messages_[message] = std::move(h);
    }
    void setScript(std::vector<std::string> steps);
    // Plays a shared session (null: none).
    void setScript(std::shared_ptr<ScriptSession> session) { script_ = std::move(session); }
    const std::shared_ptr<ScriptSession>& script() const { return script_; }

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
    void setCheck(int id, int state);
    int checked(int id) const;
    // List and combo box items.
    void setItems(int id, std::vector<std::wstring> items);
    void insertItem(int id, int index, std::wstring item);  // index -1 appends
    void removeItem(int id, int index);
    std::vector<std::wstring> items(int id) const;
    // The index of the item equal to `text` (case-insensitive, as CB_FINDSTRINGEXACT); -1 when none.
    int findItem(int id, std::wstring_view text) const;
    // Selects item `index` (-1 none); a combo box or drop list shows it as its text.
    void setSelection(int id, int index);
    int selection(int id) const;
    void setImage(int id, std::vector<std::uint8_t> encoded, std::uint32_t background);
    void setColor(int id, std::uint32_t argb);
    void setFont(int id, FontSpec font);

    // The user pressed a button (the close box arrives as the Cancel button, id 2).
    void click(int id);
    // The user typed into an edit or combo box, or picked an item of a list or combo box.
    void userText(int id, std::wstring text);
    void userSelect(int id, int index);
    int messageBox(std::wstring_view text, std::wstring_view caption, unsigned type);
    // Pickers and the shell: a script's answer when one is queued, else the backend's.
    bool fileDialog(const FileDialogRequest& request, std::wstring& path);
    bool folderDialog(std::wstring_view title, std::wstring& path);
    int shellOpen(std::wstring_view target);  // > 32 when opened
    void beep();
    DialogBackend& backend() { return backend_; }

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
    bool scriptPending() const { return script_ && script_->pending(); }
    bool hasScript() const { return script_ && !script_->steps.empty(); }
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
    // The next queued answer of a kind ("box", "file", "folder"); false when none is queued.
    bool takeAnswer(const std::string& kind, std::string& value);

    DialogTemplate layout_;
    DialogBackend& backend_;
    std::vector<ControlState> controls_;
    std::wstring caption_;
    Handler init_;
    std::map<int, Handler> commands_;
    std::map<int, Handler> selects_;
    std::map<int, Handler> edits_;
    std::map<unsigned, std::function<std::intptr_t(std::intptr_t)>> messages_;
    std::map<int, Timer> timers_;
    std::shared_ptr<ScriptSession> script_;
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
// That script as one session for every dialog of the process (read once); null without one.
std::shared_ptr<ScriptSession> processScript();

// Qt Widgets on a display, or offscreen (QT_QPA_PLATFORM=offscreen) when a script drives the dialog
// (for screenshots); else the scripted backend.
std::unique_ptr<DialogBackend> makeDialogBackend(bool scripted);

}  // namespace win::ui

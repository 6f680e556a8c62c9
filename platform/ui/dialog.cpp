#include "platform/ui/dialog.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/text/text.h"
#include "platform/ui/messagebox.h"
#include "platform/ui/messagebox_backends.h"

namespace win::ui {

namespace {

std::string quoted(std::wstring_view text) {
    std::string out = "<";
    for (char c : toUtf8(text)) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out.push_back(c);
    }
    return out + ">";
}

int buttonByName(const std::string& name) {
    static const std::pair<const char*, int> names[] = {
        {"ok", idbutton::ok},       {"cancel", idbutton::cancel}, {"abort", idbutton::abort},
        {"retry", idbutton::retry}, {"ignore", idbutton::ignore}, {"yes", idbutton::yes},
        {"no", idbutton::no}};
    for (const auto& [n, id] : names)
        if (name == n) return id;
    return std::atoi(name.c_str());
}

}  // namespace

int DialogBackend::messageBox(std::wstring_view text, std::wstring_view caption, unsigned type) {
    return win::messageBox(text, caption, type);
}

std::vector<std::string> parseScript(std::string_view text) {
    std::vector<std::string> steps;
    std::istringstream lines{std::string(text)};
    std::string line;
    while (std::getline(lines, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        const auto first = line.find_first_not_of(' ');
        if (first == std::string::npos || line[first] == '#') continue;
        steps.push_back(line.substr(first));
    }
    return steps;
}

std::vector<std::string> scriptFromEnvironment() {
    const char* path = std::getenv("MENDWELL_DIALOG_SCRIPT");
    if (!path || !*path) return {};
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return parseScript(text.str());
}

Dialog::Dialog(DialogTemplate layout, DialogBackend& backend)
    : layout_(std::move(layout)), backend_(backend) {
    caption_ = layout_.caption;
    for (const auto& c : layout_.controls) {
        ControlState s;
        s.layout = c;
        s.text = c.text;
        s.visible = !(c.styles & style::hidden);
        controls_.push_back(std::move(s));
    }
}

Dialog::~Dialog() {
    finishSends();
}

std::shared_ptr<ScriptSession> processScript() {
    static const std::shared_ptr<ScriptSession> session = [] {
        std::vector<std::string> steps = scriptFromEnvironment();
        if (steps.empty()) return std::shared_ptr<ScriptSession>();
        auto s = std::make_shared<ScriptSession>();
        s->steps = std::move(steps);
        return s;
    }();
    return session;
}

void Dialog::setScript(std::vector<std::string> steps) {
    script_ = std::make_shared<ScriptSession>();
    script_->steps = std::move(steps);
}

int Dialog::runModal() {
    owner_ = std::this_thread::get_id();
    ended_ = false;
    backend_.create(*this);
    {
        std::lock_guard lock(mutex_);
        running_ = true;
    }
    if (init_) init_();
    if (!ended_) backend_.run(*this);
    {
        std::lock_guard lock(mutex_);
        running_ = false;
    }
    finishSends();
    backend_.destroy(*this);
    if (const char* path = std::getenv("MENDWELL_DIALOG_RECORD"); path && *path) {
        std::ofstream out(path, std::ios::binary | std::ios::app);
        for (const auto& line : record_) out << line << "\n";
    }
    return endCode_;
}

void Dialog::end(int code) {
    if (ended_) return;
    ended_ = true;
    endCode_ = code;
    note("end " + std::to_string(code));
    backend_.wake();
}

ControlState* Dialog::find(int id) {
    for (auto& c : controls_)
        if (c.layout.id == id) return &c;
    return nullptr;
}

const ControlState* Dialog::find(int id) const {
    for (const auto& c : controls_)
        if (c.layout.id == id) return &c;
    return nullptr;
}

void Dialog::note(std::string line) {
    record_.push_back(std::move(line));
}

void Dialog::setCaption(std::wstring caption) {
    if (caption == caption_) return;
    caption_ = std::move(caption);
    note("caption " + quoted(caption_));
    backend_.changed(*this, 0);
}

void Dialog::setText(int id, std::wstring text) {
    ControlState* c = find(id);
    if (!c || c->text == text) return;
    c->text = std::move(text);
    note("text " + std::to_string(id) + " " + quoted(c->text));
    backend_.changed(*this, id);
}

std::wstring Dialog::text(int id) const {
    const ControlState* c = find(id);
    return c ? c->text : std::wstring{};
}

void Dialog::show(int id, bool visible) {
    ControlState* c = find(id);
    if (!c || c->visible == visible) return;
    c->visible = visible;
    note("show " + std::to_string(id) + (visible ? " 1" : " 0"));
    backend_.changed(*this, id);
}

bool Dialog::visible(int id) const {
    const ControlState* c = find(id);
    return c && c->visible;
}

void Dialog::enable(int id, bool enabled) {
    ControlState* c = find(id);
    if (!c || c->enabled == enabled) return;
    c->enabled = enabled;
    note("enable " + std::to_string(id) + (enabled ? " 1" : " 0"));
    backend_.changed(*this, id);
}

bool Dialog::enabled(int id) const {
    const ControlState* c = find(id);
    return c && c->enabled;
}

void Dialog::setProgress(int id, int position) {
    ControlState* c = find(id);
    position = std::clamp(position, 0, 100);
    if (!c || c->progress == position) return;
    c->progress = position;
    note("progress " + std::to_string(id) + " " + std::to_string(position));
    backend_.changed(*this, id);
}

int Dialog::progress(int id) const {
    const ControlState* c = find(id);
    return c ? c->progress : 0;
}

void Dialog::setCheck(int id, int state) {
    ControlState* c = find(id);
    if (!c || c->checked == state) return;
    c->checked = state;
    note("check " + std::to_string(id) + " " + std::to_string(state));
    backend_.changed(*this, id);
}

int Dialog::checked(int id) const {
    const ControlState* c = find(id);
    return c ? c->checked : 0;
}

void Dialog::setItems(int id, std::vector<std::wstring> items) {
    ControlState* c = find(id);
    if (!c) return;
    c->items = std::move(items);
    c->selection = -1;
    std::string line = "items " + std::to_string(id);
    for (const auto& item : c->items) line += " " + quoted(item);
    note(line);
    backend_.changed(*this, id);
}

void Dialog::insertItem(int id, int index, std::wstring item) {
    ControlState* c = find(id);
    if (!c) return;
    if (index < 0 || index > static_cast<int>(c->items.size())) index = static_cast<int>(c->items.size());
    note("insert " + std::to_string(id) + " " + std::to_string(index) + " " + quoted(item));
    c->items.insert(c->items.begin() + index, std::move(item));
    if (c->selection >= index) ++c->selection;
    backend_.changed(*this, id);
}

void Dialog::removeItem(int id, int index) {
    ControlState* c = find(id);
    if (!c || index < 0 || index >= static_cast<int>(c->items.size())) return;
    note("remove " + std::to_string(id) + " " + std::to_string(index));
    c->items.erase(c->items.begin() + index);
    if (c->selection == index)
        c->selection = -1;
    else if (c->selection > index)
        --c->selection;
    backend_.changed(*this, id);
}

std::vector<std::wstring> Dialog::items(int id) const {
    const ControlState* c = find(id);
    return c ? c->items : std::vector<std::wstring>{};
}

int Dialog::findItem(int id, std::wstring_view text) const {
    const ControlState* c = find(id);
    if (!c) return -1;
    for (std::size_t i = 0; i < c->items.size(); ++i)
        if (iequals(c->items[i], text)) return static_cast<int>(i);
    return -1;
}

void Dialog::setSelection(int id, int index) {
    ControlState* c = find(id);
    if (!c) return;
    if (index < -1 || index >= static_cast<int>(c->items.size())) index = -1;
    const bool shows = c->layout.kind == ControlKind::comboBox || c->layout.kind == ControlKind::dropList;
    if (c->selection == index && (!shows || index < 0 || c->text == c->items[index])) return;
    c->selection = index;
    if (shows && index >= 0) c->text = c->items[index];
    note("select " + std::to_string(id) + " " + std::to_string(index));
    backend_.changed(*this, id);
}

int Dialog::selection(int id) const {
    const ControlState* c = find(id);
    return c ? c->selection : -1;
}

void Dialog::setImage(int id, std::vector<std::uint8_t> encoded, std::uint32_t background) {
    ControlState* c = find(id);
    if (!c) return;
    c->image = std::move(encoded);
    c->background = background;
    char bg[16];
    std::snprintf(bg, sizeof bg, "%08X", background);
    note("image " + std::to_string(id) + " " + std::to_string(c->image.size()) + " bytes on " + bg);
    backend_.changed(*this, id);
}

void Dialog::setColor(int id, std::uint32_t argb) {
    ControlState* c = find(id);
    if (!c || c->color == argb) return;
    c->color = argb;
    char text[16];
    std::snprintf(text, sizeof text, "%08X", argb);
    note("color " + std::to_string(id) + " " + text);
    backend_.changed(*this, id);
}

void Dialog::setFont(int id, FontSpec font) {
    ControlState* c = find(id);
    if (!c) return;
    note("font " + std::to_string(id) + " " + quoted(font.name) + " " + std::to_string(font.pixelHeight) +
         " " + std::to_string(font.weight));
    c->font = std::move(font);
    backend_.changed(*this, id);
}

void Dialog::click(int id) {
    if (ended_) return;
    const ControlState* c = find(id);
    // A hidden or disabled button cannot be pressed; the close box (2) is always there.
    if (id != idbutton::cancel && (!c || !c->visible || !c->enabled)) return;
    note("click " + std::to_string(id));
    if (c && c->layout.kind == ControlKind::checkBox) {
        setCheck(id, c->checked ? 0 : 1);
    } else if (c && c->layout.kind == ControlKind::radioButton) {
        // The group: the run of radio buttons around this one, a group style starting a new run.
        const auto at = static_cast<std::size_t>(c - controls_.data());
        std::size_t first = at, last = at;
        while (first > 0 && controls_[first - 1].layout.kind == ControlKind::radioButton &&
               !(controls_[first].layout.styles & style::group))
            --first;
        while (last + 1 < controls_.size() && controls_[last + 1].layout.kind == ControlKind::radioButton &&
               !(controls_[last + 1].layout.styles & style::group))
            ++last;
        for (std::size_t i = first; i <= last; ++i) setCheck(controls_[i].layout.id, i == at ? 1 : 0);
    }
    auto it = commands_.find(id);
    if (it != commands_.end()) it->second();
}

void Dialog::userText(int id, std::wstring text) {
    ControlState* c = find(id);
    if (ended_ || !c || !c->visible || !c->enabled || c->text == text) return;
    c->text = std::move(text);
    note("type " + std::to_string(id) + " " + quoted(c->text));
    backend_.changed(*this, id);
    auto it = edits_.find(id);
    if (it != edits_.end()) it->second();
}

void Dialog::userSelect(int id, int index) {
    ControlState* c = find(id);
    if (ended_ || !c || !c->visible || !c->enabled || index < 0 || index >= static_cast<int>(c->items.size()))
        return;
    note("choose " + std::to_string(id) + " " + std::to_string(index));
    setSelection(id, index);
    auto it = selects_.find(id);
    if (it != selects_.end()) it->second();
}

bool Dialog::takeAnswer(const std::string& kind, std::string& value) {
    if (!script_) return false;
    for (auto it = script_->answers.begin(); it != script_->answers.end(); ++it) {
        if (it->rfind(kind, 0) != 0) continue;
        value = it->size() > kind.size() ? it->substr(kind.size() + 1) : std::string();
        script_->answers.erase(it);
        return true;
    }
    return false;
}

bool Dialog::fileDialog(const FileDialogRequest& request, std::wstring& path) {
    std::string answer;
    bool chosen;
    if (takeAnswer("file", answer)) {
        chosen = !answer.empty() && answer != "cancel";
        if (chosen) path = fromUtf8(answer);
    } else {
        chosen = backend_.fileDialog(*this, request, path);
    }
    note("file dialog " + quoted(request.filter) + " " + (chosen ? quoted(path) : std::string("cancelled")));
    return chosen;
}

bool Dialog::folderDialog(std::wstring_view title, std::wstring& path) {
    std::string answer;
    bool chosen;
    if (takeAnswer("folder", answer)) {
        chosen = !answer.empty() && answer != "cancel";
        if (chosen) path = fromUtf8(answer);
    } else {
        chosen = backend_.folderDialog(*this, title, path);
    }
    note("folder dialog " + quoted(title) + " " + (chosen ? quoted(path) : std::string("cancelled")));
    return chosen;
}

int Dialog::shellOpen(std::wstring_view target) {
    const int result = backend_.shellOpen(target);
    note("open " + quoted(target) + " " + std::to_string(result));
    return result;
}

void Dialog::beep() {
    note("beep");
    backend_.beep();
}

int Dialog::messageBox(std::wstring_view text, std::wstring_view caption, unsigned type) {
    int answer;
    std::string queued;
    if (takeAnswer("box", queued)) {
        answer = buttonByName(queued);
        const BoxButtons buttons = boxButtons(type);
        if (std::find(buttons.ids.begin(), buttons.ids.end(), answer) == buttons.ids.end())
            answer = buttons.defaultId();
    } else {
        answer = backend_.messageBox(text, caption, type);
    }
    note("box caption=" + quoted(caption) + " text=" + quoted(text) + " answer=" + std::to_string(answer));
    return answer;
}

std::intptr_t Dialog::sendMessage(unsigned message, std::intptr_t param) {
    if (std::this_thread::get_id() == owner_) {
        auto it = messages_.find(message);
        return it == messages_.end() ? 0 : it->second(param);
    }
    Sent sent{message, param};
    std::unique_lock lock(mutex_);
    if (!running_) return 0;
    sent_.push_back(&sent);
    backend_.wake();
    sentDone_.wait(lock, [&] { return sent.done; });
    return sent.answer;
}

void Dialog::finishSends() {
    std::lock_guard lock(mutex_);
    for (Sent* s : sent_) s->done = true;
    sent_.clear();
    sentDone_.notify_all();
}

void Dialog::setTimer(int id, unsigned ms, Handler h) {
    timers_[id] = Timer{ms, std::chrono::steady_clock::now() + std::chrono::milliseconds(ms), std::move(h)};
}

void Dialog::killTimer(int id) {
    timers_.erase(id);
}

std::chrono::steady_clock::time_point Dialog::nextTimer() const {
    auto next = std::chrono::steady_clock::time_point::max();
    for (const auto& [id, t] : timers_) next = std::min(next, t.due);
    return next;
}

bool Dialog::runPending() {
    if (inPending_) return false;
    inPending_ = true;
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave{inPending_};
    bool ran = false;
    for (;;) {
        Sent* s = nullptr;
        {
            std::lock_guard lock(mutex_);
            if (sent_.empty()) break;
            s = sent_.front();
            sent_.pop_front();
        }
        auto it = messages_.find(s->message);
        const std::intptr_t answer = it == messages_.end() ? 0 : it->second(s->param);
        {
            std::lock_guard lock(mutex_);
            s->answer = answer;
            s->done = true;
        }
        sentDone_.notify_all();
        ran = true;
    }
    const auto now = std::chrono::steady_clock::now();
    std::vector<int> due;
    for (auto& [id, t] : timers_)
        if (t.due <= now) due.push_back(id);
    for (int id : due) {
        auto it = timers_.find(id);
        if (it == timers_.end()) continue;  // killed by an earlier handler
        it->second.due = now + std::chrono::milliseconds(it->second.ms);
        Handler h = it->second.handler;
        h();
        ran = true;
    }
    while (!ended_ && stepScript()) ran = true;
    return ran;
}

bool Dialog::stepScript() {
    if (!scriptPending()) return false;
    std::size_t& at = script_->at;
    const std::string line = script_->steps[at];
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    if (verb == "await") {
        std::string what;
        int id = 0;
        in >> what >> id;
        bool holds = false;
        if (what == "visible") {
            holds = visible(id);
        } else if (what == "hidden") {
            holds = !visible(id);
        } else if (what == "text") {
            std::string part;
            std::getline(in >> std::ws, part);
            // A list's text is its items.
            holds = toUtf8(text(id)).find(part) != std::string::npos;
            for (const auto& item : items(id)) holds = holds || toUtf8(item).find(part) != std::string::npos;
        } else if (what == "progress") {
            std::string op;
            int n = 0;
            in >> op >> n;
            holds = op == ">=" ? progress(id) >= n : progress(id) <= n;
        }
        if (!holds) return false;
        ++at;
        return true;
    }
    ++at;
    if (verb == "click") {
        int id = 0;
        in >> id;
        click(id);
    } else if (verb == "close") {
        click(idbutton::cancel);
    } else if (verb == "answer") {
        std::string name;
        in >> name;
        script_->answers.push_back("box " + name);
    } else if (verb == "file" || verb == "folder") {
        std::string path;
        std::getline(in >> std::ws, path);
        script_->answers.push_back(verb + " " + path);
    } else if (verb == "type") {
        int id = 0;
        in >> id;
        std::string rest;
        if (in.peek() == ' ') in.get();
        std::getline(in, rest);
        userText(id, fromUtf8(rest));
    } else if (verb == "select") {
        int id = 0, index = -1;
        in >> id >> index;
        userSelect(id, index);
    } else if (verb == "shot") {
        std::string path;
        std::getline(in >> std::ws, path);
        note("shot " + path + (backend_.screenshot(*this, path) ? "" : " (not drawn)"));
    } else {
        note("script step not understood: " + line);
    }
    return true;
}

void ScriptedBackend::run(Dialog& dialog) {
    auto idleSince = std::chrono::steady_clock::now();
    while (!dialog.ended()) {
        if (dialog.runPending()) {
            idleSince = std::chrono::steady_clock::now();
            continue;
        }
        std::unique_lock lock(mutex_);
        const auto until =
            std::min(dialog.nextTimer(), std::chrono::steady_clock::now() + std::chrono::milliseconds(20));
        cv_.wait_until(lock, until, [&] { return woken_; });
        const bool woken = woken_;
        woken_ = false;
        lock.unlock();
        if (woken) continue;
        const auto limit = dialog.hasScript() ? stallLimit_ : std::chrono::milliseconds(0);
        if (std::chrono::steady_clock::now() - idleSince > limit) dialog.end(-1);
    }
}

void ScriptedBackend::wake() {
    std::lock_guard lock(mutex_);
    woken_ = true;
    cv_.notify_all();
}

int ScriptedBackend::messageBox(std::wstring_view text, std::wstring_view caption, unsigned type) {
    // A run with a message box script answers (and records) every box from it, dialogs' boxes too.
    if (const char* script = std::getenv("MENDWELL_UI_SCRIPT"); script && *script)
        return win::messageBox(text, caption, type);
    return boxButtons(type).defaultId();
}

}  // namespace win::ui

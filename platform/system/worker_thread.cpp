#include "platform/system/worker.h"

namespace win {

namespace {
thread_local std::shared_ptr<void> t_control;  // keeps the control block alive while the body runs
}

WorkerThread::~WorkerThread() {
    resume();  // a suspended worker would never reach its end
    join();
}

bool WorkerThread::start(std::function<void()> body) {
    if (thread_.joinable() || !body) return false;
    control_ = std::make_shared<Control>();
    auto control = control_;
    thread_ = std::thread([control, body = std::move(body)] {
        t_control = control;
        body();
        std::lock_guard lock(control->mutex);
        control->finished = true;
    });
    return true;
}

void WorkerThread::suspend() {
    if (!control_) return;
    std::lock_guard lock(control_->mutex);
    control_->suspended = true;
}

void WorkerThread::resume() {
    if (!control_) return;
    {
        std::lock_guard lock(control_->mutex);
        control_->suspended = false;
    }
    control_->cv.notify_all();
}

bool WorkerThread::running() const {
    if (!control_ || !thread_.joinable()) return false;
    std::lock_guard lock(control_->mutex);
    return !control_->finished;
}

void WorkerThread::join() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void WorkerThread::checkpoint() {
    auto* control = static_cast<Control*>(t_control.get());
    if (!control) return;
    std::unique_lock lock(control->mutex);
    control->cv.wait(lock, [control] { return !control->suspended; });
}

}  // namespace win

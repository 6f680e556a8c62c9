// A worker thread that can be suspended and resumed cooperatively: it pauses at its next checkpoint()
// and resumes exactly there, so it is never frozen while holding a lock.
#pragma once
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace win {

class WorkerThread {
  public:
    WorkerThread() = default;
    ~WorkerThread();  // joins
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    bool start(std::function<void()> body);
    void suspend();  // takes effect at the worker's next checkpoint()
    void resume();
    bool running() const;
    void join();

    // Called by the worker at its notification points: blocks while the thread is suspended.
    // A call from a thread that is not a WorkerThread does nothing.
    static void checkpoint();

  private:
    struct Control {
        std::mutex mutex;
        std::condition_variable cv;
        bool suspended = false;
        bool finished = false;
    };
    std::thread thread_;
    std::shared_ptr<Control> control_;
};

}  // namespace win

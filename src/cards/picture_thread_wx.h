#pragma once
// The list's pictures are drawn by the off-screen (EGL) renderer on a thread of their own: a
// thread has one current context, and the live view's GLX context keeps the main thread's.
// The main thread waits for each job, so the model is never used by two threads at once.
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace marrowin::cards {

class PictureThread {
public:
    PictureThread();
    ~PictureThread();
    PictureThread(const PictureThread&) = delete;
    PictureThread& operator=(const PictureThread&) = delete;

    // Runs `job` on the thread and returns when it has finished.
    void run(const std::function<void()>& job);

private:
    void loop();

    std::mutex mutex_;
    std::condition_variable wake_;
    const std::function<void()>* job_ = nullptr;
    bool done_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace marrowin::cards

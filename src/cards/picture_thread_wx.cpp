#include "cards/picture_thread_wx.h"

namespace marrowin::cards {

PictureThread::PictureThread() : thread_([this] { loop(); }) {}

PictureThread::~PictureThread() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void PictureThread::run(const std::function<void()>& job) {
    std::unique_lock<std::mutex> lock(mutex_);
    job_ = &job;
    done_ = false;
    wake_.notify_all();
    wake_.wait(lock, [this] { return done_; });
    job_ = nullptr;
}

void PictureThread::loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || (job_ && !done_); });
        if (stopping_) return;
        const std::function<void()>* job = job_;
        lock.unlock();
        (*job)();
        lock.lock();
        done_ = true;
        wake_.notify_all();
    }
}

}  // namespace marrowin::cards

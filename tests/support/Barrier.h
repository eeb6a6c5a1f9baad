// Starts threads together: each calls arriveAndWait() and all go on once `count` have arrived.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>

class Barrier {
public:
    explicit Barrier(std::size_t count) : _count(count) {}
    void arriveAndWait() {
        std::unique_lock<std::mutex> lock(_mutex);
        if (++_arrived >= _count) {
            _open = true;
            _cv.notify_all();
            return;
        }
        _cv.wait(lock, [this] { return _open; });
    }

private:
    std::mutex _mutex;
    std::condition_variable _cv;
    std::size_t _count;
    std::size_t _arrived = 0;
    bool _open = false;
};

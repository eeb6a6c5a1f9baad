// Fails a test that deadlocks instead of letting it hang CI: if the guard is still alive after
// `seconds`, the process prints the test's name and aborts.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

class Watchdog {
public:
    Watchdog(std::string what, std::chrono::seconds limit) : _what(std::move(what)) {
        _thread = std::thread([this, limit] {
            std::unique_lock<std::mutex> lock(_mutex);
            if (!_done.wait_for(lock, limit, [this] { return _finished; })) {
                std::fprintf(stderr, "WATCHDOG: '%s' still running after %lld s: deadlock\n",
                             _what.c_str(), static_cast<long long>(limit.count()));
                std::fflush(stderr);
                std::abort();
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(_mutex);
            _finished = true;
        }
        _done.notify_all();
        _thread.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::string _what;
    std::mutex _mutex;
    std::condition_variable _done;
    bool _finished = false;
    std::thread _thread;
};

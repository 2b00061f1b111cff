#pragma once

// Holds the picture preparer's work on chosen pictures until it is opened (or the work is
// abandoned), and records which pictures were started and whether any was prepared on the UI
// thread (header only).

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

struct PrepareGate
{
    std::mutex mutex;
    std::vector<int> started;
    bool onUiThread = false;
    std::atomic<bool> open = false;

    // The preparer's test hook: it holds each picture for which `held` is true. Made on the UI
    // thread.
    std::function<void(int, std::stop_token)> hook(std::function<bool(int)> held)
    {
        const std::thread::id ui = std::this_thread::get_id();
        return [this, ui, held](int index, std::stop_token stop) {
            {
                std::lock_guard lock(mutex);
                started.push_back(index);
                onUiThread = onUiThread || std::this_thread::get_id() == ui;
            }
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (held(index) && !open && !stop.stop_requested() &&
                   std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        };
    }
    bool hasStarted(int index)
    {
        std::lock_guard lock(mutex);
        return std::find(started.begin(), started.end(), index) != started.end();
    }
};

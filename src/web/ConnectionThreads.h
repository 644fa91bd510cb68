#pragma once

#include <httplib.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The HTTP server's connection threads: a thread for every connection being handled. A
// request that waits for the exchange's reply holds its thread for as long as that takes,
// so a fixed pool would let waiting commands starve the logins and files behind them;
// this one starts another thread whenever every thread is busy, up to MAX_THREADS. The
// threads stay for the next connections and are joined when the server stops.
class ConnectionThreads final : public httplib::TaskQueue {
public:
    // More than the command queue can hold, with room for logins and files beside them.
    static constexpr std::size_t MAX_THREADS = 320;

    ConnectionThreads() = default;
    ~ConnectionThreads() override;
    ConnectionThreads(const ConnectionThreads&) = delete;
    ConnectionThreads& operator=(const ConnectionThreads&) = delete;

    void enqueue(std::function<void()> job) override;
    void shutdown() override;

private:
    void work();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    std::vector<std::thread> m_threads;
    std::size_t m_idle = 0;
    bool m_shutdown = false;
};

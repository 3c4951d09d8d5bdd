#include "WorkerPool.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <csignal>
#include <new>

namespace qzm {

namespace {

// The pool whose task this thread is running, if any.
thread_local const WorkerPool* t_runningFor = nullptr;

// Bands per thread: a few, so that a thread slowed by another process's work
// leaves its share to the others.
constexpr int kBandsPerThread = 4;

}  // namespace

ScratchPool::~ScratchPool() {
    for (const Entry& e : m_free) {
        delete[] e.data;
    }
    for (const Entry& e : m_taken) {
        delete[] e.data;
    }
}

double* ScratchPool::Take(size_t doubles) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (size_t i = 0; i < m_free.size(); ++i) {
            if (m_free[i].size >= doubles) {
                const Entry e = m_free[i];
                m_free.erase(m_free.begin() + static_cast<std::ptrdiff_t>(i));
                m_taken.push_back(e);
                return e.data;
            }
        }
    }
    auto* data = new (std::nothrow) double[doubles];
    if (data != nullptr) {
        std::lock_guard<std::mutex> guard(m_lock);
        try {
            m_taken.push_back({data, doubles});
        } catch (const std::bad_alloc&) {
            delete[] data;
            return nullptr;
        }
    }
    return data;
}

void ScratchPool::Give(double* block) {
    if (block == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    for (size_t i = 0; i < m_taken.size(); ++i) {
        if (m_taken[i].data == block) {
            const Entry e = m_taken[i];
            m_taken.erase(m_taken.begin() + static_cast<std::ptrdiff_t>(i));
            try {
                m_free.push_back(e);
            } catch (const std::bad_alloc&) {
                delete[] e.data;
            }
            return;
        }
    }
}

int WorkerPool::AvailableProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        return std::max(1, CPU_COUNT(&set));
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

WorkerPool::WorkerPool(int threads, int64_t bandRows)
    : m_threads(std::clamp(threads > 0 ? threads : AvailableProcessors(), 1, kMaxThreads)),
      m_bandRows(bandRows) {}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    for (std::thread& t : m_workers) {
        t.join();
    }
}

void WorkerPool::Start() {
    if (!m_workers.empty() || m_threads <= 1) {
        return;
    }
    // The workers inherit a mask that blocks every signal.
    sigset_t all;
    sigset_t old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    try {
        for (int i = 1; i < m_threads; ++i) {
            m_workers.emplace_back([this] { Work(); });
        }
    } catch (...) {
        // Fewer workers (or none): the caller's thread does the rest.
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

void WorkerPool::Work() {
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || (m_task != nullptr && m_next < m_count); });
        if (m_stop) {
            return;
        }
        const std::function<void(int)>* task = m_task;
        const int i = m_next++;
        ++m_running;
        lock.unlock();
        t_runningFor = this;
        (*task)(i);
        t_runningFor = nullptr;
        lock.lock();
        if (--m_running == 0 && m_next >= m_count) {
            m_done.notify_all();
        }
    }
}

void WorkerPool::RunHere(int count, const std::function<void(int)>& task) {
    for (int i = 0; i < count; ++i) {
        task(i);
    }
}

void WorkerPool::Run(int count, const std::function<void(int)>& task) {
    if (count <= 0) {
        return;
    }
    if (count == 1 || m_threads <= 1 || t_runningFor == this) {
        RunHere(count, task);
        return;
    }
    std::lock_guard<std::mutex> step(m_stepLock);
    Start();
    if (m_workers.empty()) {
        RunHere(count, task);
        return;
    }
    std::unique_lock<std::mutex> lock(m_lock);
    m_task = &task;
    m_count = count;
    m_next = 0;
    lock.unlock();
    m_wake.notify_all();

    lock.lock();
    while (m_next < m_count) {
        const int i = m_next++;
        ++m_running;
        lock.unlock();
        t_runningFor = this;
        task(i);
        t_runningFor = nullptr;
        lock.lock();
        --m_running;
    }
    m_done.wait(lock, [this] { return m_running == 0; });
    m_task = nullptr;
    m_count = 0;
    m_next = 0;
}

int BandCount(int64_t rows, int64_t minRows, int threads) {
    if (rows <= 0) {
        return 0;
    }
    if (threads <= 1) {
        return 1;
    }
    const int64_t step = std::max<int64_t>(minRows, 1);
    const int64_t byRows = (rows + step - 1) / step;
    return static_cast<int>(std::clamp<int64_t>(byRows, 1, int64_t{threads} * kBandsPerThread));
}

int64_t BandFirst(int64_t rows, int count, int band) {
    return rows * band / count;
}

int WorkerPool::RunBands(int64_t rows, int64_t minRows,
                         const std::function<void(int64_t, int64_t)>& band) {
    const int count = BandCount(rows, BandRows(minRows), m_threads);
    Run(count, [&](int i) { band(BandFirst(rows, count, i), BandFirst(rows, count, i + 1)); });
    return count;
}

}  // namespace qzm

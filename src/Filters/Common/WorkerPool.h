// A small pool of worker threads for the image side: runs the row bands of
// one pipeline step at a time on the workers and the calling thread.
//
// A pool belongs to its owner (one printer object, one job); nothing of it
// is shared between pools. Its threads start on the first step that has more
// than one band and end with the pool. They block every signal, so a signal
// for the process (SIGTERM from CUPS) is handled by one of the owner's own
// threads. A pool of one thread runs every band on the caller's thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qzm {

// Working memory of the bands (blocks of doubles), kept for the next step
// and the next page: a fresh block costs a page fault per 4 KiB when first
// used. Safe to use from several threads.
class ScratchPool {
  public:
    ScratchPool() = default;
    ~ScratchPool();
    ScratchPool(const ScratchPool&) = delete;
    ScratchPool& operator=(const ScratchPool&) = delete;

    // A block of at least doubles doubles, or null when memory cannot be had.
    double* Take(size_t doubles);
    // Gives a block from Take back for the next band.
    void Give(double* block);

  private:
    struct Entry {
        double* data;
        size_t size;
    };
    std::mutex m_lock;
    std::vector<Entry> m_free;
    std::vector<Entry> m_taken;
};

class WorkerPool {
  public:
    // threads: how many threads work on a step, the caller's included; 0 =
    // the number of processors this process may run on. At most kMaxThreads.
    // bandRows, when positive, replaces every step's smallest band (tests
    // use 1 to cut pages into as many bands as the threads take).
    explicit WorkerPool(int threads = 0, int64_t bandRows = 0);
    ~WorkerPool();

    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    static constexpr int kMaxThreads = 8;

    // The processors this process may run on (its affinity), at least 1.
    static int AvailableProcessors();

    int Threads() const { return m_threads; }

    // The working memory of the bands.
    ScratchPool& Memory() { return m_memory; }

    // The smallest band of a step that asks for minRows.
    int64_t BandRows(int64_t minRows) const { return m_bandRows > 0 ? m_bandRows : minRows; }

    // Runs task(i) once for every i in 0 ... count - 1, spread over the
    // workers and the calling thread, and returns when all have finished.
    // Tasks must not throw. Steps from several threads on one pool run one
    // after the other; a task that itself runs a step on its pool has that
    // step run on its own thread.
    void Run(int count, const std::function<void(int)>& task);

    // Splits rows 0 ... rows - 1 into bands of at least minRows rows
    // (fewer only for the last band or a smaller page), a few per thread so
    // that a busy processor does not hold the step up, and runs
    // band(first, end) for each band as Run does. Returns the band count.
    int RunBands(int64_t rows, int64_t minRows,
                 const std::function<void(int64_t first, int64_t end)>& band);

  private:
    void Start();
    void Work();
    void RunHere(int count, const std::function<void(int)>& task);

    const int m_threads;
    const int64_t m_bandRows;
    ScratchPool m_memory;
    std::mutex m_stepLock;  // one step at a time
    std::mutex m_lock;      // guards everything below
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::vector<std::thread> m_workers;
    const std::function<void(int)>* m_task = nullptr;
    int m_count = 0;
    int m_next = 0;
    int m_running = 0;  // tasks taken and not yet finished
    bool m_stop = false;
    std::thread::id m_stepThread;
};

// The bands RunBands makes: band i of count covers rows
// [BandFirst(rows, count, i), BandFirst(rows, count, i + 1)).
int BandCount(int64_t rows, int64_t minRows, int threads);
int64_t BandFirst(int64_t rows, int count, int band);

}  // namespace qzm

#include "core/update/unzip_workers.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "core/update/archive_reader.h"
#include "core/update/entry_copy.h"

namespace core {

namespace {

// How often the calling thread shows the entries finished meanwhile, each one in turn. Waking it
// for every entry cost the workers a tenth of their time in thousands of thread switches.
constexpr std::chrono::milliseconds kProgressPace{20};

// The jobs, handed out one at a time, and what became of them. The first failure, or the
// launcher's stop, stops the walk: from then on no job is handed out, and the copies under way
// see the stop flag.
class JobQueue {
public:
    JobQueue(std::vector<FileJob> jobs, LauncherStop& launcherStop)
        : m_jobs(std::move(jobs)), m_launcherStop(launcherStop, m_stop)
    {
    }

    // The next job; none once every job was handed out or the walk stopped.
    const FileJob* Next()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_stop.load() || m_next == m_jobs.size()) return nullptr;
        return &m_jobs[m_next++];
    }

    // A written entry wakes nobody: the calling thread looks at the count at its own pace. A
    // failure wakes it at once.
    void Report(EntryOutcome outcome)
    {
        {
            std::lock_guard<std::mutex> hold(m_lock);
            if (outcome == EntryOutcome::Written) ++m_written;
            if (outcome != EntryOutcome::Failed) return;
            m_stop.store(true);
        }
        m_changed.notify_all();
    }

    // A thread takes part in the walk from Join() (called before it starts) to Leave().
    void Join()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        ++m_workers;
    }
    void Leave()
    {
        {
            std::lock_guard<std::mutex> hold(m_lock);
            --m_workers;
        }
        m_changed.notify_all();
    }

    struct Progress {
        std::size_t written;
        bool stopped;
        bool allLeft;
    };
    // Waits until the walk stopped or every thread left, at most for `pace`.
    Progress WaitAtMost(std::chrono::milliseconds pace)
    {
        std::unique_lock<std::mutex> hold(m_lock);
        m_changed.wait_for(hold, pace, [&] { return m_stop.load() || m_workers == 0; });
        return {m_written, m_stop.load(), m_workers == 0};
    }

    const std::atomic<bool>& StopFlag() const { return m_stop; }
    std::size_t Size() const { return m_jobs.size(); }

private:
    std::vector<FileJob> m_jobs;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::size_t m_next = 0;
    std::size_t m_written = 0;
    unsigned m_workers = 0;
    std::atomic<bool> m_stop{false};
    // Outlives the threads, which end before the queue: the launcher's wait ends with them.
    LauncherStop::Listener m_launcherStop;
};

// What one thread unpacks with: its own archive handle (a minizip handle has one read
// position) and its own buffers.
class Worker {
public:
    Worker(UpdateContext& ctx, const std::wstring& packagePath)
        : m_ctx(ctx), m_archive(OpenArchive(ctx, packagePath)), m_buffers(std::make_unique<Buffers>())
    {
    }

    bool Ready() const { return static_cast<bool>(m_archive); }

    EntryOutcome Unpack(const FileJob& job, const std::atomic<bool>& stop, EntryFault& fault)
    {
        const std::uint64_t number = job.position.num_of_file + 1;
        unz64_file_pos position = job.position;
        if (unzGoToFilePos64(m_archive.get(), &position) != UNZ_OK) {
            fault = {__LINE__, L"cannot reach entry " + std::to_wstring(number)};
            return EntryOutcome::Failed;
        }
        // Read and checked again on this handle: what it reads is what decides where the bytes go.
        EntryHeader header;
        fault = ReadEntryHeader(m_ctx, m_archive.get(), number, m_buffers->header, header);
        if (!fault) fault = CheckEntryTarget(m_ctx, header);
        if (fault) return EntryOutcome::Failed;
        return CopyFileEntry(m_ctx, m_archive, header, m_buffers->copy, stop, fault);
    }

private:
    struct Buffers {
        HeaderBuffer header;
        CopyBuffers copy;
    };
    UpdateContext& m_ctx;
    Archive m_archive;
    std::unique_ptr<Buffers> m_buffers;
};

// One thread's share of the walk: jobs from the queue until none is left or the walk stopped.
// written, when given, runs after each entry this thread wrote.
void RunWorker(UpdateContext& ctx, const std::wstring& packagePath, JobQueue& queue,
               const std::function<void()>& written)
{
    Worker worker(ctx, packagePath);
    if (!worker.Ready()) {
        queue.Report(EntryOutcome::Failed);
        LogFault(ctx, {__LINE__, L"cannot open the package to unpack its entries"});
    }
    while (const FileJob* job = queue.Next()) {
        EntryFault fault;
        const EntryOutcome outcome = worker.Unpack(*job, queue.StopFlag(), fault);
        // The others stop before the failure is logged: they need not wait for the log.
        queue.Report(outcome);
        if (fault) LogFault(ctx, fault);
        if (outcome == EntryOutcome::Written && written) written();
    }
    queue.Leave();
}

// The walk's threads, joined on every way out of the call that started them.
class WorkerThreads {
public:
    WorkerThreads() = default;
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;
    ~WorkerThreads()
    {
        for (std::thread& t : m_threads) t.join();
    }

    // Starts up to count threads (fewer when the system refuses more); how many started.
    std::size_t Start(unsigned count, UpdateContext& ctx, const std::wstring& packagePath, JobQueue& queue)
    {
        for (unsigned i = 0; i < count; ++i) {
            queue.Join();
            try {
                m_threads.emplace_back([&ctx, &packagePath, &queue] { RunWorker(ctx, packagePath, queue, {}); });
            } catch (const std::system_error&) {
                queue.Leave();
                break;
            }
        }
        return m_threads.size();
    }

private:
    std::vector<std::thread> m_threads;
};

// The order of hand-out: large entries by size, the rest after them as they come.
std::uint64_t HandOutWeight(const FileJob& job) { return job.size >= kLargeEntryBytes ? job.size : 0; }

}  // namespace

unsigned UnzipWorkerCount(unsigned hardwareThreads)
{
    return std::min(std::max(hardwareThreads, 1u), kMaxUnzipWorkers);
}

bool UnpackFiles(UpdateContext& ctx, const std::wstring& packagePath, std::vector<FileJob> jobs, unsigned workers,
                 const std::function<void()>& entryFinished)
{
    if (jobs.empty()) return true;
    workers = static_cast<unsigned>(std::min<std::size_t>(std::max(workers, 1u), jobs.size()));
    if (workers > 1)
        std::stable_sort(jobs.begin(), jobs.end(),
                         [](const FileJob& a, const FileJob& b) { return HandOutWeight(a) > HandOutWeight(b); });
    JobQueue queue(std::move(jobs), ctx.state.stop);

    std::size_t shown = 0;
    {
        WorkerThreads threads;
        if (workers == 1 || threads.Start(workers, ctx, packagePath, queue) == 0) {
            // One worker needs no thread of its own: this one unpacks and shows each entry.
            queue.Join();
            RunWorker(ctx, packagePath, queue, [&] {
                ++shown;
                entryFinished();
            });
        } else {
            for (;;) {
                const JobQueue::Progress progress = queue.WaitAtMost(kProgressPace);
                if (progress.stopped) break;
                for (; shown < progress.written; ++shown) entryFinished();
                if (progress.allLeft) break;
            }
        }
    }  // every thread has ended here: what failed has been logged, what was abandoned removed
    return !queue.StopFlag().load() && shown == queue.Size();
}

}  // namespace core

// Unpacking the package's file entries on several threads. The entries of a zip are
// independent, so each thread takes the next entry from one shared queue and inflates it on an
// archive handle and buffers of its own. The thread that called keeps the launcher window to
// itself: it hears of every finished entry and shows the progress.
#pragma once
#include <minizip/unzip.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/update/update_context.h"

namespace core {

// A file entry: where its header sits in the archive and how large it is once unpacked.
struct FileJob {
    unz64_file_pos position{};
    std::uint64_t size = 0;
};

// The most threads the walk unpacks with, however many the machine has: beyond this the disk,
// not the processors, sets the pace, and each thread costs its buffers.
constexpr unsigned kMaxUnzipWorkers = 8;

// One thread per hardware thread, at most kMaxUnzipWorkers; one when the number is unknown (0).
unsigned UnzipWorkerCount(unsigned hardwareThreads);

// Entries of this size or more are large: with several threads they are handed out first.
constexpr std::uint64_t kLargeEntryBytes = 1u << 20;

// Unpacks the jobs (their names checked and their folders made) with the given number of
// threads; with one, on the calling thread. With several, the large entries go first, largest
// first, so that a huge entry does not end the walk alone. The others keep the archive's order
// (with one thread, every entry does), which reads the package front to back. entryFinished
// runs on the calling thread once for each entry written, never after a failure. The first
// entry that fails, or the launcher's stop (ctx.state.stop), stops the walk: no entry starts
// after it, entries under way are abandoned within one block and their files removed, and the
// call returns false once every thread has ended. True when every job was written.
bool UnpackFiles(UpdateContext& ctx, const std::wstring& packagePath, std::vector<FileJob> jobs, unsigned workers,
                 const std::function<void()>& entryFinished);

}  // namespace core

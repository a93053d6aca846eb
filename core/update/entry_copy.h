// Copying one file entry of the package into its target, for whichever thread of the walk
// unpacks it: the file is written whole and its size and check value verified, or it is not
// left behind at all.
#pragma once
#include <atomic>
#include <vector>

#include "core/update/archive_reader.h"

namespace core {

enum class EntryOutcome {
    Written,    // the target holds the entry, verified
    Failed,     // the entry or its target failed; the fault names it
    Abandoned,  // the walk stopped (another entry failed) while this one was under way
};

// One thread's copy buffers, the same whatever the archive holds.
struct CopyBuffers {
    static constexpr unsigned kBlockBytes = 8192;
    char block[kBlockBytes];
    // The copy hands 8 KiB blocks to stdio; a larger stdio buffer for the target turns them into
    // fewer, larger writes to the system (the main cost with big entries).
    std::vector<char> targetStdio = std::vector<char>(256 * 1024);
};

// Copies the archive's current entry (a file, its target checked) into header.target, replacing
// any file of that name. stop is looked at before every block: once it is set the copy is
// abandoned. A target that was not written whole and verified is removed again, so an
// interrupted walk leaves only whole files. fault says why when the outcome is Failed.
EntryOutcome CopyFileEntry(UpdateContext& ctx, unzFile archive, const EntryHeader& header, CopyBuffers& buffers,
                           const std::atomic<bool>& stop, EntryFault& fault);

}  // namespace core

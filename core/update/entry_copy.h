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

// One thread's copy buffer, the same whatever the archive holds. Each block is inflated straight
// into it and handed to the system whole, with no stdio buffer between: one copy of the bytes
// fewer, and a small file takes a single write.
struct CopyBuffers {
    static constexpr unsigned kBlockBytes = 64 * 1024;
    std::vector<char> block = std::vector<char>(kBlockBytes);
};

// Copies the archive's current entry (a file, its target checked) into header.target, replacing
// any file of that name. stop is looked at before every block: once it is set the copy is
// abandoned. A target that was not written whole and verified is removed again, so an
// interrupted walk leaves only whole files. fault says why when the outcome is Failed.
EntryOutcome CopyFileEntry(UpdateContext& ctx, unzFile archive, const EntryHeader& header, CopyBuffers& buffers,
                           const std::atomic<bool>& stop, EntryFault& fault);

}  // namespace core

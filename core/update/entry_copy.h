// Copying one file entry of the package into its target, for whichever thread of the walk
// unpacks it: the file is written whole and its size and check value verified, or it is not
// left behind at all.
#pragma once
#include <libdeflate.h>
#include <zlib.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "core/update/archive_reader.h"

namespace core {

enum class EntryOutcome {
    Written,    // the target holds the entry, verified
    Failed,     // the entry or its target failed; the fault names it
    Abandoned,  // the walk stopped (another entry failed) while this one was under way
};

// One thread's inflaters and buffers, the same whatever the archive holds. minizip only finds
// an entry's data (it is opened raw); the bytes are read, inflated and checked here. An entry
// whose packed and unpacked bytes each fit kBlockBytes is read whole and inflated in one call
// by libdeflate, then written in one piece; a larger one streams through zlib's inflate (or,
// stored, straight through) a block at a time. Either way, libdeflate's CRC-32 checks it. With
// the most threads the walk has (8) that is 8 MiB of blocks, and a walk of small entries
// touches only as much of them as its largest entry.
struct CopyBuffers {
    static constexpr std::size_t kBlockBytes = 512 * 1024;
    CopyBuffers();
    ~CopyBuffers();
    CopyBuffers(const CopyBuffers&) = delete;
    CopyBuffers& operator=(const CopyBuffers&) = delete;

    // Left uninitialised: the system backs a page only once an entry reaches it.
    std::unique_ptr<unsigned char[]> packed{new unsigned char[kBlockBytes]};
    std::unique_ptr<unsigned char[]> unpacked{new unsigned char[kBlockBytes]};
    libdeflate_decompressor* whole;
    // Made for the first entry that streams.
    std::unique_ptr<z_stream> stream;
};

// Copies the archive's current entry (a file, its target checked) into header.target, replacing
// any file of that name. stop is looked at before every block: once it is set the copy is
// abandoned. A target that was not written whole and verified is removed again, so an
// interrupted walk leaves only whole files. fault says why when the outcome is Failed.
EntryOutcome CopyFileEntry(UpdateContext& ctx, const Archive& archive, const EntryHeader& header,
                           CopyBuffers& buffers, const std::atomic<bool>& stop, EntryFault& fault);

}  // namespace core

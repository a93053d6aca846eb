// Cutting a file into content-defined chunks: where a cut falls depends only on the bytes
// around it, so bytes inserted into the middle of a large file change the chunks near the
// insertion and leave the others, and their digests, as they were. A patch then fetches only
// the chunks whose digests the installed files lack.
#pragma once
#include <cstddef>
#include <cstdint>

namespace core {

struct ChunkLimits {
    std::size_t min;      // no cut before this many bytes (except at the end of the file)
    std::size_t average;  // the size chunks tend to; a power of two
    std::size_t max;      // a cut here at the latest
};

// Chosen by the patch benchmark: smaller chunks fetch fewer unchanged bytes around a change,
// but every chunk costs a request and a manifest line.
constexpr ChunkLimits kChunkLimits{32 * 1024, 128 * 1024, 512 * 1024};

// The length of the chunk that starts at data. available is what follows data in the file:
// at least limits.max bytes, or all that is left of the file (then endOfFile is true and the
// rest may be one short chunk). 0 for an empty rest, and when fewer than limits.max bytes are
// given before the end of the file.
std::size_t NextChunkLength(const std::uint8_t* data, std::size_t available, bool endOfFile,
                            const ChunkLimits& limits = kChunkLimits);

}  // namespace core

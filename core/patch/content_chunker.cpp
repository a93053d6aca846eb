#include "core/patch/content_chunker.h"

#include <algorithm>
#include <array>

namespace core {
namespace {

// The rolling "gear" hash: each byte shifts the hash left by one and adds a random word for the
// byte, so the hash's top bits depend on the last 64 bytes only. The words come from a fixed
// seed: publisher and launcher must cut the same bytes in the same places for ever.
constexpr std::array<std::uint64_t, 256> MakeGear()
{
    std::array<std::uint64_t, 256> gear{};
    std::uint64_t state = 0x6c61756e63686572ull;  // splitmix64
    for (std::uint64_t& word : gear) {
        state += 0x9e3779b97f4a7c15ull;
        std::uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        word = z ^ (z >> 31);
    }
    return gear;
}
constexpr std::array<std::uint64_t, 256> kGear = MakeGear();

int Log2(std::size_t value)
{
    int bits = 0;
    while (value > 1) {
        value >>= 1;
        ++bits;
    }
    return bits;
}

// A mask of the hash's top `bits` bits: a cut where they are all zero happens once in 2^bits.
std::uint64_t TopBits(int bits)
{
    return bits <= 0 ? 0 : ~std::uint64_t{0} << (64 - bits);
}

}  // namespace

std::size_t NextChunkLength(const std::uint8_t* data, std::size_t available, bool endOfFile,
                            const ChunkLimits& limits)
{
    if (!endOfFile && available < limits.max) return 0;  // a cut needs the bytes up to max
    const std::size_t end = std::min(available, limits.max);
    if (end <= limits.min) return end;
    // Normalised chunking: a harder test before the average and an easier one after it keep
    // most chunks near the average instead of spreading them from min to max.
    const int bits = Log2(limits.average);
    const std::uint64_t harder = TopBits(bits + 2);
    const std::uint64_t easier = TopBits(bits - 2);
    const std::size_t middle = std::min(std::max(limits.average, limits.min), end);
    std::uint64_t hash = 0;
    std::size_t i = limits.min;
    for (; i < middle; ++i) {
        hash = (hash << 1) + kGear[data[i]];
        if ((hash & harder) == 0) return i + 1;
    }
    for (; i < end; ++i) {
        hash = (hash << 1) + kGear[data[i]];
        if ((hash & easier) == 0) return i + 1;
    }
    return end;
}

}  // namespace core

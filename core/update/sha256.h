// SHA-256 (FIPS 180-4) in portable code, for checking a downloaded package against the digest
// a channel's configuration may carry.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace core {

class Sha256 {
public:
    Sha256();
    void Update(const void* data, std::size_t size);
    // 64 lower-case hex digits; the object is spent afterwards.
    std::string HexDigest();

private:
    void Block(const std::uint8_t* block);
    std::array<std::uint32_t, 8> m_state;
    std::array<std::uint8_t, 64> m_buffer{};
    std::size_t m_buffered = 0;
    std::uint64_t m_bytes = 0;
};

}  // namespace core

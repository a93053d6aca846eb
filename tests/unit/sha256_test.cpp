#include "core/update/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Digest(const std::string& text, std::size_t piece = 0)
{
    core::Sha256 sha;
    if (piece == 0) piece = text.size() ? text.size() : 1;
    for (std::size_t i = 0; i < text.size(); i += piece) sha.Update(text.data() + i, std::min(piece, text.size() - i));
    return sha.HexDigest();
}

// The FIPS 180-4 examples, fed whole and in awkward pieces (padding crosses a block edge).
TEST(Sha256, KnownDigests)
{
    EXPECT_EQ(Digest(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Digest("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    for (std::size_t piece : {0u, 1u, 7u, 63u})
        EXPECT_EQ(Digest(two, piece), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1") << piece;
    EXPECT_EQ(Digest(std::string(1000000, 'a'), 4096),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

}  // namespace

// The key files' text: what keygen writes is what publish --sign-key reads back.
#include "core/publish/channel_key_text.h"

#include <gtest/gtest.h>

namespace {

TEST(ChannelKeyText, SecretKeyRoundTripsAndMatchesItsPublicKey)
{
    core::ChannelSecretSeed seed{}, other{};
    ASSERT_TRUE(core::NewChannelSecretSeed(seed));
    ASSERT_TRUE(core::NewChannelSecretSeed(other));
    EXPECT_NE(seed, other);  // 256 random bits twice alike would be a broken random source

    core::ChannelSecretSeed read{};
    std::string error;
    ASSERT_TRUE(core::ParseSecretKeyText(core::SecretKeyText(seed), read, error)) << error;
    EXPECT_EQ(read, seed);

    core::ChannelPublicKey key{};
    ASSERT_TRUE(core::ChannelPublicKeyFromSeed(seed, key));
    const std::string pub = core::PublicKeyText(key);
    ASSERT_EQ(pub.size(), 65u);
    EXPECT_EQ(pub.back(), '\n');
    // A document signed with the read-back secret verifies with the public key's text.
    core::ChannelPublicKey parsed{};
    ASSERT_TRUE(core::HexToBytes(pub.substr(0, 64), parsed.data(), parsed.size()));
    std::string document = "ClientVersion=1.0.0.1\n";
    ASSERT_TRUE(core::SignConfigDocument(document, read, "ctx"));
    EXPECT_EQ(core::CheckConfigSignature(document, {parsed}, "ctx").verdict, core::SignatureVerdict::Valid);
}

TEST(ChannelKeyText, RefusesWhatIsNotOneSecretKey)
{
    const std::string hex = "channel-secret-key=" + std::string(64, 'a');
    struct Case {
        const char* what;
        std::string text;
        bool ok;
    };
    const Case cases[] = {
        {"the key alone", hex, true},
        {"comments, blank lines and CR LF", "# note\r\n\r\n" + hex + "\r\n", true},
        {"empty", "", false},
        {"comments only", "# a\n# b\n", false},
        {"two keys", hex + "\n" + hex + "\n", false},
        {"63 digits", hex.substr(0, hex.size() - 1), false},
        {"not hex", "channel-secret-key=" + std::string(64, 'g'), false},
        {"a public key file", std::string(64, 'a') + "\n", false},
        {"a blank before the key", " " + hex, false},
    };
    for (const Case& c : cases) {
        core::ChannelSecretSeed seed{};
        std::string error;
        EXPECT_EQ(core::ParseSecretKeyText(c.text, seed, error), c.ok) << c.what;
        EXPECT_EQ(error.empty(), c.ok) << c.what;
    }
}

}  // namespace

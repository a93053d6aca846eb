// The channel's configuration signature: Ed25519 against the published test vectors, and the
// signed form of a document (what the signature covers, where its line may stand).
#include "core/update/config_signature.h"

#include <gtest/gtest.h>

#include <cctype>

namespace {

using core::SignatureVerdict;

template <std::size_t N>
std::array<unsigned char, N> Hex(const std::string& hex)
{
    std::array<unsigned char, N> bytes{};
    EXPECT_TRUE(core::HexToBytes(hex, bytes.data(), N)) << hex;
    return bytes;
}

std::string Bytes(const std::string& hex)
{
    std::string bytes(hex.size() / 2, '\0');
    EXPECT_TRUE(core::HexToBytes(hex, reinterpret_cast<unsigned char*>(&bytes[0]), bytes.size()));
    return bytes;
}

// The Ed25519 test vectors of RFC 8032, section 7.1 (TEST 1, 2 and 3).
struct Vector {
    const char* secret;
    const char* publicKey;
    const char* message;
    const char* signature;
};
const Vector kVectors[] = {
    {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
     "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
     "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e06522490155"
     "5fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b"},
    {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
     "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
     "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da"
     "085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb00d291612bb0c00"},
    {"c5aa8df43f9f837bedb7442f31dcb7b166d38535076f094b85ce3a2e0b4458f7",
     "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
     "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac"
     "18ff9b538d16f290ae67f760984dc6594a7c15e9716ed28dc027beceea1ec40a"},
};

TEST(ConfigSignature, Rfc8032TestVectors)
{
    for (const Vector& v : kVectors) {
        SCOPED_TRACE(v.publicKey);
        const auto seed = Hex<32>(v.secret);
        const auto expectedKey = Hex<32>(v.publicKey);
        const std::string message = Bytes(v.message);
        const auto* data = reinterpret_cast<const unsigned char*>(message.data());

        core::ChannelPublicKey key{};
        ASSERT_TRUE(core::ChannelPublicKeyFromSeed(seed, key));
        EXPECT_EQ(key, expectedKey);
        core::ConfigSignature signature{};
        ASSERT_TRUE(core::SignBytes(seed, data, message.size(), signature));
        EXPECT_EQ(core::BytesToHex(signature.data(), signature.size()), v.signature);
        EXPECT_TRUE(core::VerifyBytes(expectedKey, data, message.size(), signature));

        // One bit anywhere breaks it: in the signature, in the message, in the key.
        core::ConfigSignature flipped = signature;
        flipped[63] ^= 0x01;
        EXPECT_FALSE(core::VerifyBytes(expectedKey, data, message.size(), flipped));
        const std::string longer = message + "x";
        EXPECT_FALSE(core::VerifyBytes(expectedKey, reinterpret_cast<const unsigned char*>(longer.data()), longer.size(),
                                       signature));
        core::ChannelPublicKey otherKey = expectedKey;
        otherKey[0] ^= 0x01;
        EXPECT_FALSE(core::VerifyBytes(otherKey, data, message.size(), signature));
    }
    // TEST 1 signs the empty message: it is also the signed document whose covered bytes are empty.
    const std::string document = std::string("ClientConfigSignature=") + kVectors[0].signature;
    const auto check = core::CheckConfigSignature(document, {Hex<32>(kVectors[0].publicKey)}, "");
    EXPECT_EQ(check.verdict, SignatureVerdict::Valid);
    EXPECT_EQ(check.coveredBytes, 0u);
}

class SignedDocument : public ::testing::Test {
protected:
    core::ChannelSecretSeed current = Hex<32>(kVectors[1].secret);
    core::ChannelSecretSeed next = Hex<32>(kVectors[2].secret);
    core::ChannelKeys keys{Hex<32>(kVectors[1].publicKey), Hex<32>(kVectors[2].publicKey)};
    const std::string context = core::ConfigSigningContext("qorn", "palmet");

    std::string Signed(std::string document, const core::ChannelSecretSeed& seed)
    {
        EXPECT_TRUE(core::SignConfigDocument(document, seed, context));
        return document;
    }
    SignatureVerdict Verdict(const std::string& document)
    {
        return core::CheckConfigSignature(document, keys, context).verdict;
    }
};

const std::string kDocument =
    "ClientVersion=1.0.3.7\nClientMiniUpdateVersion=1.0.0.0\n"
    "ClientDownloadUrl=http://127.0.0.1:8080/packages/{ditch_name}/qorn_{version}.zip\n"
    "ClientPackageSha256=0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef\n";

TEST_F(SignedDocument, SigningAppendsOneLineAfterTheCoveredBytes)
{
    const std::string document = Signed(kDocument, current);
    ASSERT_EQ(document.compare(0, kDocument.size(), kDocument), 0);
    EXPECT_EQ(document.substr(kDocument.size(), 22), "ClientConfigSignature=");
    EXPECT_EQ(document.size(), kDocument.size() + 22 + 128 + 1);
    const auto check = core::CheckConfigSignature(document, keys, context);
    EXPECT_EQ(check.verdict, SignatureVerdict::Valid);
    EXPECT_EQ(check.coveredBytes, kDocument.size());
    EXPECT_EQ(check.keyIndex, 0);

    // A document without a final LF gets one before the signature line, which must start a line.
    const std::string noFinalLf = Signed("A=1", current);
    EXPECT_EQ(noFinalLf.substr(0, 26), "A=1\nClientConfigSignature=");
    EXPECT_EQ(Verdict(noFinalLf), SignatureVerdict::Valid);

    // A document that already holds a signature line is not signed again.
    std::string twice = document;
    EXPECT_FALSE(core::SignConfigDocument(twice, current, context));
    EXPECT_EQ(twice, document);
}

// The signature covers the game and the channel the launcher was built for, which the document
// itself need not name: a document signed for another channel or game of the same studio
// (same key) verifies on no other launcher.
TEST_F(SignedDocument, ASignatureHoldsOnlyForItsGameAndChannel)
{
    EXPECT_EQ(context, "game-launcher-channel-config/2\nGameCode=qorn\nDitchCode=palmet\n");
    const std::string document = Signed(kDocument, current);
    struct Case {
        const char* what;
        std::string context;
    };
    const Case others[] = {
        {"another channel", core::ConfigSigningContext("qorn", "qa")},
        {"another game", core::ConfigSigningContext("vorn", "palmet")},
        {"the codes swapped", core::ConfigSigningContext("palmet", "qorn")},
        {"no context (the document's bytes alone)", ""},
    };
    for (const Case& c : others)
        EXPECT_EQ(core::CheckConfigSignature(document, keys, c.context).verdict, SignatureVerdict::NoMatchingKey) << c.what;
    // What is signed is the context followed by the covered bytes.
    const std::string message = context + kDocument;
    core::ConfigSignature signature{};
    ASSERT_TRUE(core::HexToBytes(document.substr(kDocument.size() + 22, 128), signature.data(), signature.size()));
    EXPECT_TRUE(core::VerifyBytes(keys[0], reinterpret_cast<const unsigned char*>(message.data()), message.size(), signature));
}

TEST_F(SignedDocument, TheNextKeyVerifiesAndAnUnknownKeyDoesNot)
{
    const auto check = core::CheckConfigSignature(Signed(kDocument, next), keys, context);
    EXPECT_EQ(check.verdict, SignatureVerdict::Valid);
    EXPECT_EQ(check.keyIndex, 1);
    EXPECT_EQ(Verdict(Signed(kDocument, Hex<32>(kVectors[0].secret))), SignatureVerdict::NoMatchingKey);
    EXPECT_EQ(core::CheckConfigSignature(Signed(kDocument, current), {}, context).verdict, SignatureVerdict::NoKeys);
}

TEST_F(SignedDocument, EveryCoveredByteCounts)
{
    const std::string document = Signed(kDocument, current);
    const std::size_t covered = kDocument.size();
    const std::string signatureLine = document.substr(covered);
    struct Case {
        const char* what;
        std::string document;
    };
    std::string oneBit = document;
    oneBit[5] ^= 0x20;
    std::string otherUrl = document;
    otherUrl.replace(otherUrl.find("127.0.0.1"), 9, "127.0.0.2");
    std::string crlf;
    for (char c : kDocument) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const Case cases[] = {
        {"one bit of a value", oneBit},
        {"another package URL", otherUrl},
        {"a line added before the signature", kDocument + "EntryUrl=http://127.0.0.1/evil\n" + signatureLine},
        {"a line removed", kDocument.substr(kDocument.find('\n') + 1) + signatureLine},
        {"LF line ends turned into CR LF", crlf + signatureLine},
        {"a blank appended to the covered bytes", kDocument + " \n" + signatureLine},
    };
    for (const Case& c : cases) EXPECT_EQ(Verdict(c.document), SignatureVerdict::NoMatchingKey) << c.what;

    // A document signed with CR LF line ends verifies as served.
    EXPECT_EQ(Verdict(Signed(crlf, current)), SignatureVerdict::Valid);
}

TEST_F(SignedDocument, WhereTheSignatureLineMayStand)
{
    const std::string document = Signed(kDocument, current);
    const std::string line = document.substr(kDocument.size());        // with its LF
    const std::string value = line.substr(22, 128);
    std::string upper = value;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    struct Case {
        const char* what;
        std::string document;
        SignatureVerdict verdict;
    };
    const Case cases[] = {
        {"ending in LF", document, SignatureVerdict::Valid},
        {"ending without a line end", document.substr(0, document.size() - 1), SignatureVerdict::Valid},
        {"ending in CR LF", document.substr(0, document.size() - 1) + "\r\n", SignatureVerdict::Valid},
        {"upper-case hex", kDocument + "ClientConfigSignature=" + upper + "\n", SignatureVerdict::Valid},
        {"no signature line", kDocument, SignatureVerdict::Missing},
        {"an empty document", "", SignatureVerdict::Missing},
        {"the key not at the start of a line", kDocument + "X=ClientConfigSignature=" + value,
         SignatureVerdict::Missing},
        {"a blank before the key", kDocument + " ClientConfigSignature=" + value, SignatureVerdict::Missing},
        {"a line after it", document + "EntryUrl=http://127.0.0.1/evil\n", SignatureVerdict::NotLast},
        {"an empty line after it", document + "\n", SignatureVerdict::NotLast},
        {"a CR after its line end", document + "\r", SignatureVerdict::NotLast},
        {"first instead of last", line + kDocument, SignatureVerdict::NotLast},
        {"twice at the end", document + line, SignatureVerdict::Duplicate},
        {"a second one among the covered bytes", line + document, SignatureVerdict::Duplicate},
        {"127 digits", kDocument + "ClientConfigSignature=" + value.substr(1) + "\n", SignatureVerdict::Malformed},
        {"129 digits", kDocument + "ClientConfigSignature=" + value + "0\n", SignatureVerdict::Malformed},
        {"a digit that is not hex", kDocument + "ClientConfigSignature=g" + value.substr(1) + "\n",
         SignatureVerdict::Malformed},
        {"a blank after the digits", kDocument + "ClientConfigSignature=" + value + " \n", SignatureVerdict::Malformed},
        {"an empty value", kDocument + "ClientConfigSignature=\n", SignatureVerdict::Malformed},
    };
    for (const Case& c : cases) EXPECT_EQ(Verdict(c.document), c.verdict) << c.what;
}

TEST(ConfigSignatureText, HexRoundTripAndRefusals)
{
    const unsigned char bytes[] = {0x00, 0x7f, 0x80, 0xff};
    EXPECT_EQ(core::BytesToHex(bytes, 4), "007f80ff");
    unsigned char back[4];
    EXPECT_TRUE(core::HexToBytes("007F80fF", back, 4));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(back), 4), std::string(reinterpret_cast<const char*>(bytes), 4));
    EXPECT_FALSE(core::HexToBytes("007f80f", back, 4));
    EXPECT_FALSE(core::HexToBytes("007f80fff", back, 4));
    EXPECT_FALSE(core::HexToBytes("007f80fx", back, 4));
    EXPECT_FALSE(core::HexToBytes("+07f80ff", back, 4));
}

}  // namespace

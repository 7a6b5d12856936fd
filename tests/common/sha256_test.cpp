#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/sha256.h"

namespace {

std::string Hex(const Sha256::Digest& digest) {
    std::string text;
    char pair[3];
    for (std::uint8_t byte : digest) {
        std::snprintf(pair, sizeof(pair), "%02x", byte);
        text += pair;
    }
    return text;
}

struct Vector {
    std::string message;
    std::string digest;
};

// Published test vectors, plus lengths around the 56-byte padding boundary.
const Vector kVectors[] = {
    {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
    {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
    {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
    {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
};

TEST(Sha256Digest, MatchesKnownVectorsWhateverThePieceSizesAndRounds) {
    for (const Vector& v : kVectors) {
        for (std::size_t piece : {std::size_t{1}, std::size_t{63}, std::size_t{64}, std::size_t{65},
                                  std::size_t{8192}}) {
            for (Sha256::Rounds rounds : {Sha256::Rounds::kFastest, Sha256::Rounds::kPortable}) {
                Sha256 hash(rounds);
                for (std::size_t at = 0; at < v.message.size(); at += piece) {
                    hash.Update(v.message.data() + at, std::min(piece, v.message.size() - at));
                }
                EXPECT_EQ(Hex(hash.Finish()), v.digest)
                    << v.message.size() << " bytes in pieces of " << piece << " with "
                    << (rounds == Sha256::Rounds::kFastest ? "the fastest" : "portable")
                    << " rounds";
            }
        }
    }
}

}  // namespace

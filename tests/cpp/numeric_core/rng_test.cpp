// Tests of the ChaCha generator: published known-answer vectors, draw order, refills and reseeding.
#include "numeric_core/rng.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "numeric_core/failure.hpp"

namespace swarmtuner {
namespace {

using Words = std::array<std::uint32_t, 16>;

std::vector<std::uint8_t> from_hex(const std::string& hex) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::vector<std::uint32_t> le_words(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::uint32_t> words;
  for (std::size_t i = 0; i + 3 < bytes.size(); i += 4) {
    words.push_back(static_cast<std::uint32_t>(bytes[i]) |
                    static_cast<std::uint32_t>(bytes[i + 1]) << 8 |
                    static_cast<std::uint32_t>(bytes[i + 2]) << 16 |
                    static_cast<std::uint32_t>(bytes[i + 3]) << 24);
  }
  return words;
}

ChaChaRng::Key make_key(const std::string& hex) {
  ChaChaRng::Key key{};
  const auto bytes = from_hex(hex);
  std::copy(bytes.begin(), bytes.end(), key.begin());
  return key;
}

// The block input of the original ChaCha layout: constants, key, 64-bit counter, 64-bit nonce.
Words block_input(const ChaChaRng::Key& key, std::uint64_t counter, const std::string& iv_hex) {
  Words input{0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};
  const auto key_words = le_words({key.begin(), key.end()});
  std::copy(key_words.begin(), key_words.end(), input.begin() + 4);
  input[12] = static_cast<std::uint32_t>(counter);
  input[13] = static_cast<std::uint32_t>(counter >> 32);
  const auto iv = le_words(from_hex(iv_hex));
  input[14] = iv[0];
  input[15] = iv[1];
  return input;
}

Words keystream_block(const ChaChaRng::Key& key, std::uint64_t counter, int rounds) {
  Words out{};
  ChaChaRng::block(block_input(key, counter, "0000000000000000"), rounds, out);
  return out;
}

TEST(ChaChaRngTest, BlockFunctionMatchesRfc8439Vector) {
  // RFC 8439 section 2.3.2: key 00..1f, block counter 1, nonce 000000090000004a00000000.
  const Words input = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574, 0x03020100, 0x07060504,
                       0x0b0a0908, 0x0f0e0d0c, 0x13121110, 0x17161514, 0x1b1a1918, 0x1f1e1d1c,
                       0x00000001, 0x09000000, 0x4a000000, 0x00000000};
  const Words expected = {0xe4e7f110, 0x15593bd1, 0x1fdd0f50, 0xc47120a3, 0xc7f4d1c7, 0x0368c033,
                          0x9aaa2204, 0x4e6cd4c3, 0x466482d2, 0x09aa9f07, 0x05d7c214, 0xa2028bd9,
                          0xd19c12b5, 0xb94e16de, 0xe883d0cb, 0x4e3c50a2};
  Words out{};
  ChaChaRng::block(input, 20, out);
  EXPECT_EQ(out, expected);
}

// Keystream test vectors for ChaCha with 256-bit keys ("Test Vectors for the Stream Cipher
// ChaCha", J. Strombergson, IETF draft, 2013): the first two 64-byte blocks of each case.
struct DraftVector {
  const char* name;
  const char* key;
  const char* iv;
  int rounds;
  const char* keystream;
};

const DraftVector kDraftVectors[] = {
    {"TC1", "0000000000000000000000000000000000000000000000000000000000000000", "0000000000000000",
     8,
     "3e00ef2f895f40d67f5bb8e81f09a5a12c840ec3ce9a7f3b181be188ef711a1e984ce172b9216f419f445367456d"
     "5619314a42a3da86b001387bfdb80e0cfe42d2aefa0deaa5c151bf0adb6c01f2a5adc0fd581259f9a2aadcf20f8f"
     "d566a26b5032ec38bbc5da98ee0c6f568b872a65a08abf251deb21bb4b56e5d8821e68aa"},
    {"TC1", "0000000000000000000000000000000000000000000000000000000000000000", "0000000000000000",
     12,
     "9bf49a6a0755f953811fce125f2683d50429c3bb49e074147e0089a52eae155f0564f879d27ae3c02ce82834acfa"
     "8c793a629f2ca0de6919610be82f411326be0bd58841203e74fe86fc71338ce0173dc628ebb719bdcbcc15158521"
     "4cc089b442258dcda14cf111c602b8971b8cc843e91e46ca905151c02744a6b017e69316"},
    {"TC1", "0000000000000000000000000000000000000000000000000000000000000000", "0000000000000000",
     20,
     "76b8e0ada0f13d90405d6ae55386bd28bdd219b8a08ded1aa836efcc8b770dc7da41597c5157488d7724e03fb8d8"
     "4a376a43b8f41518a11cc387b669b2ee65869f07e7be5551387a98ba977c732d080dcb0f29a048e3656912c6533e"
     "32ee7aed29b721769ce64e43d57133b074d839d531ed1f28510afb45ace10a1f4b794d6f"},
    {"TC2", "0100000000000000000000000000000000000000000000000000000000000000", "0000000000000000",
     12,
     "12056e595d56b0f6eef090f0cd25a20949248c2790525d0f930218ff0b4ddd10a6002239d9a454e29e107a7d06fe"
     "fdfef0210feba044f9f29b1772c960dc29c00c7366c5cbc604240e665eb02a69372a7af979b26fbb78092ac7c4b8"
     "8029a7c854513bc217bbfc7d90432e308eba15afc65aeb48ef100d5601e6afba257117a9"},
    {"TC3", "0000000000000000000000000000000000000000000000000000000000000000", "0100000000000000",
     12,
     "64b8bdf87b828c4b6dbaf7ef698de03df8b33f635714418f9836ade59be1296946c953a0f38ecffc9ecb98e81d5d"
     "99a5edfc8f9a0a45b9e41ef3b31f028f1d0f559db4a7f222c442fe23b9a2596a88285122ee4f1363896ea77ca150"
     "912ac723bff04b026a2f807e03b29c02077d7b06fc1ab9827c13c8013a6d83bd3b52a26f"},
    {"TC4", "ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff", "ffffffffffffffff",
     12,
     "04bf88dae8e47a228fa47b7e6379434ba664a7d28f4dab84e5f8b464add20c3acaa69c5ab221a23a57eb5f345c96"
     "f4d1322d0a2ff7a9cd43401cd536639a615a5c9429b55ca3c1b55354559669a154aca46cd761c41ab8ace385363b"
     "95675f068e18db5a673c11291bd4187892a9a3a33514f3712b26c13026103298ed76bc9a"},
};

class DraftVectorTest : public ::testing::TestWithParam<DraftVector> {};

TEST_P(DraftVectorTest, BlockFunctionReproducesKeystream) {
  const DraftVector& v = GetParam();
  const auto expected = le_words(from_hex(v.keystream));
  ASSERT_EQ(expected.size(), 32U);
  for (std::uint64_t counter = 0; counter < 2; ++counter) {
    Words out{};
    ChaChaRng::block(block_input(make_key(v.key), counter, v.iv), v.rounds, out);
    for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(out[i], expected[16 * counter + i]) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Draft, DraftVectorTest, ::testing::ValuesIn(kDraftVectors),
                         [](const auto& param_info) {
                           return std::string(param_info.param.name) + "_" +
                                  std::to_string(param_info.param.rounds) + "rounds";
                         });

TEST(ChaChaRngTest, DrawsTheZeroNonceKeystreamInOrder) {
  for (const DraftVector& v : kDraftVectors) {
    if (std::string(v.iv) != "0000000000000000") continue;  // the generator's nonce is zero
    SCOPED_TRACE(std::string(v.name) + " " + std::to_string(v.rounds));
    const auto expected = le_words(from_hex(v.keystream));
    ChaChaRng rng(make_key(v.key), v.rounds);
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(rng.next_u32(), expected[i]) << i;
  }
}

TEST(ChaChaRngTest, DefaultsToTwelveRounds) {
  ChaChaRng rng(ChaChaRng::Key{});
  EXPECT_EQ(rng.next_u32(), 0x6a9af49bU);  // TC1, 12 rounds: bytes 9b f4 9a 6a
}

TEST(ChaChaRngTest, SixtyFourBitDrawsTakeTheLowWordFirst) {
  const ChaChaRng::Key key = make_key(
      "000102030405060708090a0b0c0d0e0f"
      "101112131415161718191a1b1c1d1e1f");
  const Words first = keystream_block(key, 0, 12);
  const Words last = keystream_block(key, 3, 12);
  const Words next = keystream_block(key, 4, 12);
  ChaChaRng rng(key);
  EXPECT_EQ(rng.next_u64(), std::uint64_t{first[1]} << 32 | first[0]);
  // Skip to the last word of the 256-byte buffer: the pair straddles the refill.
  for (int i = 2; i < 63; ++i) rng.next_u32();
  EXPECT_EQ(rng.next_u64(), std::uint64_t{next[0]} << 32 | last[15]);
  EXPECT_EQ(rng.next_u32(), next[1]);
}

// Key sources for the reseed tests; a plain function pointer carries no state, hence globals.
int g_source_calls = 0;

std::string counting_source(ChaChaRng::Key& key) {
  ++g_source_calls;
  key.fill(static_cast<std::uint8_t>(0xA0 + g_source_calls));
  return {};
}

std::string failing_source(ChaChaRng::Key&) {
  ++g_source_calls;
  return "entropy source unavailable";
}

// A source that runs out of memory while it builds its error text.
std::string throwing_source(ChaChaRng::Key&) {
  ++g_source_calls;
  throw std::bad_alloc();
}

constexpr int kWordsPerRefill = 64;

void skip_words(ChaChaRng& rng, int words) {
  for (int i = 0; i < words; ++i) rng.next_u32();
}

TEST(ChaChaRngTest, ReseedsAfterEvery65536BytesWithAFreshKeyAndCounter) {
  g_source_calls = 0;
  ChaChaRng rng(ChaChaRng::Key{}, 12, &counting_source);
  // The counter starts at 65,536 and drops by 256 per refill: refills 1 to 256 bring it to 0,
  // so refill 257 is the first to take a new key.
  skip_words(rng, 256 * kWordsPerRefill);
  EXPECT_EQ(g_source_calls, 0);
  ChaChaRng::Key fresh{};
  fresh.fill(0xA1);
  const Words expected = keystream_block(fresh, 0, 12);
  for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(rng.next_u32(), expected[i]) << i;
  EXPECT_EQ(g_source_calls, 1);
  // After a reseed the counter is 65,536 - 256, so the next reseed is 256 refills later.
  skip_words(rng, 256 * kWordsPerRefill - 16);  // the rest of refills 257 .. 512
  EXPECT_EQ(g_source_calls, 1);
  rng.next_u32();
  EXPECT_EQ(g_source_calls, 2);
}

TEST(ChaChaRngTest, FailedReseedKeepsTheKeyAndWaitsAFullInterval) {
  for (const ChaChaRng::KeySource source : {&failing_source, &throwing_source}) {
    g_source_calls = 0;
    const ChaChaRng::Key key = make_key("42");
    ChaChaRng rng(key, 12, source);
    skip_words(rng, 256 * kWordsPerRefill);
    const Words expected = keystream_block(key, 256 * 4, 12);
    EXPECT_EQ(rng.next_u32(), expected[0]);
    EXPECT_EQ(g_source_calls, 1);
    skip_words(rng, 256 * kWordsPerRefill - 1);
    EXPECT_EQ(g_source_calls, 1);
    rng.next_u32();
    EXPECT_EQ(g_source_calls, 2);
  }
}

TEST(ThreadRngTest, FirstKeyFailureIsReportedWithTheSourceText) {
  try {
    new_thread_rng(&failing_source);
    FAIL() << "expected InternalFailure";
  } catch (const InternalFailure& failure) {
    EXPECT_EQ(failure.message(),
              std::string(failure_text::thread_rng_key.text) + "entropy source unavailable");
  }
}

TEST(ThreadRngTest, HandlesShareOneGeneratorPerThread) {
  const auto a = thread_rng();
  const auto b = thread_rng();
  EXPECT_EQ(a.get(), b.get());
  // Draws through one handle advance the other.
  ChaChaRng copy = *a;
  a->next_u32();
  copy.next_u32();
  EXPECT_EQ(b->next_u32(), copy.next_u32());

  std::shared_ptr<ChaChaRng> other;
  std::thread([&other] { other = thread_rng(); }).join();
  ASSERT_NE(other, nullptr);
  EXPECT_NE(other.get(), a.get());
  other->next_u64();  // the handle outlives its thread and stays usable
}

}  // namespace
}  // namespace swarmtuner

// The ChaCha stream generator: block function, buffered output, periodic reseeding, per-thread
// instance.
#include "numeric_core/rng.hpp"

#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "numeric_core/failure.hpp"

namespace swarmtuner {

namespace {

// "expand 32-byte k" as four little-endian words.
constexpr std::array<std::uint32_t, 4> chacha_constants = {0x61707865, 0x3320646e, 0x79622d32,
                                                           0x6b206574};

constexpr std::uint32_t rotl(std::uint32_t v, int n) noexcept {
  return (v << n) | (v >> (32 - n));
}

constexpr void quarter_round(std::array<std::uint32_t, 16>& x, int a, int b, int c,
                             int d) noexcept {
  x[a] += x[b];
  x[d] = rotl(x[d] ^ x[a], 16);
  x[c] += x[d];
  x[b] = rotl(x[b] ^ x[c], 12);
  x[a] += x[b];
  x[d] = rotl(x[d] ^ x[a], 8);
  x[c] += x[d];
  x[b] = rotl(x[b] ^ x[c], 7);
}

std::array<std::uint32_t, 8> key_to_words(const ChaChaRng::Key& key) noexcept {
  std::array<std::uint32_t, 8> words{};
  for (std::size_t i = 0; i < words.size(); ++i) {
    words[i] = static_cast<std::uint32_t>(key[4 * i]) |
               static_cast<std::uint32_t>(key[4 * i + 1]) << 8 |
               static_cast<std::uint32_t>(key[4 * i + 2]) << 16 |
               static_cast<std::uint32_t>(key[4 * i + 3]) << 24;
  }
  return words;
}

}  // namespace

// getentropy is the POSIX call (glibc 2.25, musl, the BSDs, macOS); one call fills up to 256
// bytes and itself retries a read interrupted by a signal.
std::string ChaChaRng::os_key_source(Key& key) {
  static_assert(sizeof(Key) <= 256);
  if (getentropy(key.data(), key.size()) != 0) {
    return "getentropy: " + std::error_code(errno, std::system_category()).message();
  }
  return {};
}

ChaChaRng::ChaChaRng(const Key& key, int rounds, KeySource reseed) noexcept
    : key_words_(key_to_words(key)), rounds_(rounds), reseed_(reseed) {}

std::uint32_t ChaChaRng::next_u32() noexcept {
  if (index_ >= buffer_.size()) refill();
  return buffer_[index_++];
}

// Taking the words one at a time also covers a pair that straddles a refill: the last word of
// the old buffer becomes the low half and the first word of the new one the high half.
std::uint64_t ChaChaRng::next_u64() noexcept {
  const std::uint64_t low = next_u32();
  const std::uint64_t high = next_u32();
  return high << 32 | low;
}

void ChaChaRng::block(const std::array<std::uint32_t, 16>& input, int rounds,
                      std::array<std::uint32_t, 16>& output) noexcept {
  std::array<std::uint32_t, 16> x = input;
  // Rounds alternate between columns and diagonals, so an odd count ends on a column round.
  for (int round = 0; round < rounds; ++round) {
    if (round % 2 == 0) {
      quarter_round(x, 0, 4, 8, 12);
      quarter_round(x, 1, 5, 9, 13);
      quarter_round(x, 2, 6, 10, 14);
      quarter_round(x, 3, 7, 11, 15);
    } else {
      quarter_round(x, 0, 5, 10, 15);
      quarter_round(x, 1, 6, 11, 12);
      quarter_round(x, 2, 7, 8, 13);
      quarter_round(x, 3, 4, 9, 14);
    }
  }
  for (std::size_t i = 0; i < output.size(); ++i) output[i] = x[i] + input[i];
}

void ChaChaRng::refill() noexcept {
  constexpr std::int64_t refill_bytes = sizeof(buffer_);
  if (bytes_until_reseed_ <= 0) {
    // A failed reseed is not fatal: the current key is still good, so the stream carries on
    // and the next attempt comes a full interval later. That holds too for a source that
    // throws (its error text needs memory): nothing may leave this noexcept path.
    Key fresh{};
    bool reseeded = false;
    try {
      reseeded = reseed_(fresh).empty();
    } catch (...) {
    }
    if (reseeded) {
      key_words_ = key_to_words(fresh);
      counter_ = 0;
    }
    bytes_until_reseed_ = reseed_interval_bytes - refill_bytes;
  } else {
    bytes_until_reseed_ -= refill_bytes;
  }

  // Words 12 and 13 hold the 64-bit block counter, low half first; the stream id stays zero.
  std::array<std::uint32_t, 16> input{};
  std::copy(chacha_constants.begin(), chacha_constants.end(), input.begin());
  std::copy(key_words_.begin(), key_words_.end(), input.begin() + 4);
  constexpr std::size_t block_words = 16;
  for (std::size_t b = 0; b < buffer_.size() / block_words; ++b) {
    input[12] = static_cast<std::uint32_t>(counter_);
    input[13] = static_cast<std::uint32_t>(counter_ >> 32);
    std::array<std::uint32_t, 16> out;
    block(input, rounds_, out);
    std::copy(out.begin(), out.end(),
              buffer_.begin() + static_cast<std::ptrdiff_t>(b * block_words));
    ++counter_;
  }
  index_ = 0;
}

std::shared_ptr<ChaChaRng> new_thread_rng(ChaChaRng::KeySource source) {
  ChaChaRng::Key key{};
  const std::string error = source(key);
  if (!error.empty()) fail(std::string(failure_text::thread_rng_key.text) + error);
  return std::make_shared<ChaChaRng>(key, ChaChaRng::default_rounds, source);
}

namespace {

// The calling thread's generator and the process that keyed it.
struct ThreadRngSlot {
  std::shared_ptr<ChaChaRng> rng;
  pid_t owner = 0;
};

ThreadRngSlot& thread_rng_slot() noexcept {
  thread_local ThreadRngSlot slot;
  return slot;
}

}  // namespace

void make_thread_rng_slot() noexcept {
  static_cast<void>(thread_rng_slot());
}

std::shared_ptr<ChaChaRng> thread_rng() {
  // A failed first keying leaves the slot empty, so a later call on this thread tries again.
  // A child made by fork() inherits this thread's generator mid-stream; it takes a key of its
  // own, or parent and children (parallel restarts, say) would draw the same starts.
  ThreadRngSlot& slot = thread_rng_slot();
  const pid_t process = getpid();
  if (!slot.rng || slot.owner != process) {
    slot.rng = new_thread_rng(&ChaChaRng::os_key_source);
    slot.owner = process;
  }
  return slot.rng;
}

}  // namespace swarmtuner

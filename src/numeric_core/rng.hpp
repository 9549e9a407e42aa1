// The ChaCha12 stream generator and the calling thread's shared instance.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace swarmtuner {

class ChaChaRng {
 public:
  using Key = std::array<std::uint8_t, 32>;
  // Fills a fresh key; returns an empty string on success or the error text.
  using KeySource = std::string (*)(Key&);

  static constexpr int default_rounds = 12;
  static constexpr std::int64_t reseed_interval_bytes = 65536;

  // The operating system's random source (getentropy).
  static std::string os_key_source(Key& key);

  explicit ChaChaRng(const Key& key, int rounds = default_rounds,
                     KeySource reseed = &ChaChaRng::os_key_source) noexcept;

  std::uint32_t next_u32() noexcept;
  // Two consecutive 32-bit words, the first as the low half.
  std::uint64_t next_u64() noexcept;

  // The ChaCha block function on a full 16-word input state, for known-answer tests.
  static void block(const std::array<std::uint32_t, 16>& input, int rounds,
                    std::array<std::uint32_t, 16>& output) noexcept;

 private:
  void refill() noexcept;

  std::array<std::uint32_t, 8> key_words_{};
  std::uint64_t counter_ = 0;
  std::array<std::uint32_t, 64> buffer_{};  // 256 bytes of output
  std::size_t index_ = 64;                  // next unread word; 64 means empty
  std::int64_t bytes_until_reseed_ = reseed_interval_bytes;
  int rounds_;
  KeySource reseed_;
};

// A handle to the calling thread's generator, created and keyed from the operating system on
// the thread's first call; all handles of a thread share it. Shared ownership, not a plain
// reference, because the thread's slot can be replaced while a search still draws from the
// generator in it: a process forked from inside f takes a fresh key on its next call, and the
// search that was running keeps its own generator alive until it ends. Throws InternalFailure
// thread_rng_key (followed by the error) when the random source fails.
std::shared_ptr<ChaChaRng> thread_rng();

// Makes the calling thread's slot for thread_rng without keying a generator. The slot's first
// use registers its destructor with the C library, which allocates and ends the process when
// it cannot; after this call thread_rng's only allocation is the generator's own, which fails
// as std::bad_alloc.
void make_thread_rng_slot() noexcept;

// A new generator keyed (and later reseeded) from `source`, as thread_rng builds one; throws
// InternalFailure thread_rng_key followed by the source's error text.
std::shared_ptr<ChaChaRng> new_thread_rng(ChaChaRng::KeySource source);

}  // namespace swarmtuner

// Uniform random numbers for the models, from one of two generators.
//
// The Lehmer generator (modulus 2^31-1, multiplier 48271) runs as 256
// streams whose start states are 22925-fold jumps apart; it is the generator
// of every ordinary run. The counter-based generator Philox4x32-10 serves
// replicate batches and runs that ask for it: its output for a given seed,
// replicate and stream depends on nothing else, so replicates can be drawn in
// any order, on any thread or machine, and still give the same numbers.
//
// Philox mapping (this is what makes a replicate reproducible elsewhere):
//   key      = the 64-bit seed s, word 0 = low 32 bits, word 1 = high 32 bits
//   counter  = (block j low 32 bits, block j high 32 bits, replicate r, stream k)
//   block j  -> four 32-bit words x0..x3 -> uniforms 4j .. 4j+3 of the stream
//   uniform  = (x + 0.5) / 2^32
// Every such value is exact in a double, so uniforms lie strictly inside
// (0, 1): the smallest is 2^-33, the largest 1 - 2^-33. Their spacing, 2^-32,
// is finer than the Lehmer generator's 1/(2^31-1); one block gives four draws.
// Each stream keeps its own draw position; a single run is replicate 1.
// Every random decision of every model draws from the current stream.
//
// Both generators hand out uniforms from one buffer that is filled ahead on
// the current stream: Philox 64 blocks at once (counter-based, so the blocks
// are independent and computed side by side), the Lehmer generator the next
// 64 values of its chain together with the state after each. A draw only
// takes the next value; the generator itself is consulted when the buffer
// runs dry. Selecting a stream, seeding or switching generators first puts
// the current stream back at the value last drawn, so the numbers drawn are
// those of the generator called one value at a time.
#pragma once

#include <cstdint>
#include <cstdio>

#include <Random123/philox.h>

namespace occusim {

class Rngs {
  public:
    static constexpr std::int64_t MODULUS = 2147483647;
    static constexpr std::int64_t MULTIPLIER = 48271;
    static constexpr int STREAMS = 256;
    static constexpr std::int64_t A256 = 22925;
    static constexpr std::int64_t DEFAULT = 123456789;
    static constexpr std::int64_t CHECK = 399268537;

    Rngs();

    // Uniform on the open interval (0, 1); advances the current stream.
    double Random() {
        draws++;
        if (next_ == end_) refill();
        return buf_[next_++];
    }
    void PlantSeeds(long x);
    void PutSeed(long x);
    void GetSeed(long *x) const;
    void SelectStream(int index);
    // Self-check; prints its verdict on the prompt stream.
    void TestRandom();

    // Switches to Philox4x32-10 for replicate `replicate` (counter word 2),
    // keyed with the default seed until seeds are planted. All stream
    // positions start at 0.
    void UsePhilox(std::uint32_t replicate);
    bool philox() const { return philox_; }
    // The seed the last PlantSeeds/PutSeed on stream 0 actually used: the
    // clock value or the typed value when the given seed asked for one. A run
    // given this seed draws the same numbers.
    long planted_seed() const { return planted_; }

    // Streams for the interactive seed prompt (a seed of 0).
    std::FILE *prompt_out = stdout;
    std::FILE *prompt_in = stdin;
    // Number of uniforms drawn so far (all streams); for draw-count checks.
    std::uint64_t draws = 0;

  private:
    // x * MULTIPLIER mod MODULUS for x in 1 .. MODULUS-1. The product fits in
    // 47 bits, and as MODULUS = 2^31 - 1, 2^31 is 1 modulo it: the high part
    // of the product is added to the low 31 bits and one MODULUS taken off if
    // needed. The same residue as the classic split of the multiplication,
    // with a far shorter dependency chain.
    static std::int64_t lehmer_step(std::int64_t x) {
        const std::int64_t t = x * MULTIPLIER;
        const std::int64_t r = (t & MODULUS) + (t >> 31);
        return r >= MODULUS ? r - MODULUS : r;
    }
    // Refills the buffer from the current stream's position.
    void refill();
    // Puts the current stream back at the value last drawn and empties the
    // buffer.
    void settle();
    long prompt_for_seed();
    long clock_seed() const;


    std::int64_t seed_[STREAMS];
    int stream_ = 0;
    int initialized_ = 0;
    long planted_ = DEFAULT;

    // Philox state: key, replicate and each stream's next uniform.
    bool philox_ = false;
    std::uint32_t replicate_ = 1;
    philox4x32_key_t key_{};
    std::uint64_t pos_[STREAMS] = {};

  public:
    // Philox blocks computed at once when the buffer runs dry.
    static constexpr int kBlocks = 64;

  private:
    // Uniforms drawn ahead on the current stream: buf_[0] is Philox uniform
    // base_ of the stream; for the Lehmer generator state_[i] is the state
    // after buf_[i], and seed_ still holds the state before buf_[0].
    static constexpr int kBuffer = 4 * kBlocks;
    static constexpr int kLehmerAhead = 64;
    double buf_[kBuffer];
    std::int64_t state_[kLehmerAhead];
    int next_ = 0; // next value to hand out
    int end_ = 0;  // values in the buffer
    std::uint64_t base_ = 0;
};

} // namespace occusim

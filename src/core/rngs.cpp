#include "core/rngs.hpp"

#include <cctype>
#include <chrono>
#include <ctime>

#include "core/errors.hpp"

namespace occusim {

namespace {
constexpr std::int64_t Q256 = Rngs::MODULUS / Rngs::A256;    // 93674
constexpr std::int64_t R256 = Rngs::MODULUS % Rngs::A256;    // 7197
} // namespace

Rngs::Rngs() {
    seed_[0] = DEFAULT;
    for (int j = 1; j < STREAMS; j++) seed_[j] = 0;
}

void Rngs::UsePhilox(std::uint32_t replicate) {
    settle();
    philox_ = true;
    replicate_ = replicate;
    key_ = {{static_cast<std::uint32_t>(DEFAULT), 0}};
    for (auto &p : pos_) p = 0;
}

void Rngs::settle() {
    if (end_ > 0) {
        if (philox_)
            pos_[stream_] = base_ + static_cast<std::uint64_t>(next_);
        else if (next_ > 0)
            seed_[stream_] = state_[next_ - 1];
    }
    next_ = end_ = 0;
}

namespace {

// Philox4x32-10 on n consecutive blocks j0 .. j0+n-1 of one stream, written
// out as uniforms, four per block in word order. The rounds run over all
// blocks side by side (the same arithmetic as philox4x32, block by block), so
// that the compiler can keep several blocks in one vector register.
template <int n>
[[gnu::always_inline]] inline void philox_uniforms(philox4x32_key_t key, std::uint64_t j0,
                                                   std::uint32_t replicate, std::uint32_t stream, double *out) {
    std::uint32_t x0[n], x1[n], x2[n], x3[n];
    for (int i = 0; i < n; i++) {
        const std::uint64_t j = j0 + static_cast<std::uint64_t>(i);
        x0[i] = static_cast<std::uint32_t>(j);
        x1[i] = static_cast<std::uint32_t>(j >> 32);
        x2[i] = replicate;
        x3[i] = stream;
    }
    std::uint32_t k0 = key.v[0], k1 = key.v[1];
    for (int round = 0; round < 10; round++) {
        for (int i = 0; i < n; i++) {
            const std::uint64_t p0 = std::uint64_t{PHILOX_M4x32_0} * x0[i];
            const std::uint64_t p1 = std::uint64_t{PHILOX_M4x32_1} * x2[i];
            const std::uint32_t y0 = static_cast<std::uint32_t>(p1 >> 32) ^ x1[i] ^ k0;
            const std::uint32_t y2 = static_cast<std::uint32_t>(p0 >> 32) ^ x3[i] ^ k1;
            x1[i] = static_cast<std::uint32_t>(p1);
            x3[i] = static_cast<std::uint32_t>(p0);
            x0[i] = y0;
            x2[i] = y2;
        }
        k0 += PHILOX_W32_0;
        k1 += PHILOX_W32_1;
    }
    constexpr double kScale = 1.0 / 4294967296.0; // 2^-32
    for (int i = 0; i < n; i++) {
        out[4 * i] = (static_cast<double>(x0[i]) + 0.5) * kScale;
        out[4 * i + 1] = (static_cast<double>(x1[i]) + 0.5) * kScale;
        out[4 * i + 2] = (static_cast<double>(x2[i]) + 0.5) * kScale;
        out[4 * i + 3] = (static_cast<double>(x3[i]) + 0.5) * kScale;
    }
}

// The same blocks compiled for processors with 256-bit integer vectors
// (eight 32-bit lanes, four 32x32->64-bit products an instruction), and for
// any x86-64 processor. Integer arithmetic and exact conversions: the two
// give the same bits.
#if defined(__x86_64__) && defined(__GNUC__)
[[gnu::target("avx2")]] void philox_blocks_wide(philox4x32_key_t key, std::uint64_t j0, std::uint32_t replicate,
                                                std::uint32_t stream, double *out) {
    philox_uniforms<Rngs::kBlocks>(key, j0, replicate, stream, out);
}
const bool kWide = __builtin_cpu_supports("avx2");
#endif
void philox_blocks_plain(philox4x32_key_t key, std::uint64_t j0, std::uint32_t replicate, std::uint32_t stream,
                         double *out) {
    philox_uniforms<Rngs::kBlocks>(key, j0, replicate, stream, out);
}

void philox_blocks(philox4x32_key_t key, std::uint64_t j0, std::uint32_t replicate, std::uint32_t stream,
                   double *out) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (kWide) return philox_blocks_wide(key, j0, replicate, stream, out);
#endif
    philox_blocks_plain(key, j0, replicate, stream, out);
}

} // namespace

void Rngs::refill() {
    settle();
    if (philox_) {
        const std::uint64_t pos = pos_[stream_];
        base_ = pos & ~std::uint64_t{3};
        philox_blocks(key_, pos >> 2, replicate_, static_cast<std::uint32_t>(stream_), buf_);
        next_ = static_cast<int>(pos - base_);
        end_ = kBuffer;
        return;
    }
    std::int64_t x = seed_[stream_];
    for (int i = 0; i < kLehmerAhead; i++) {
        x = lehmer_step(x);
        state_[i] = x;
        buf_[i] = static_cast<double>(x) / static_cast<double>(MODULUS);
    }
    end_ = kLehmerAhead;
}

void Rngs::PlantSeeds(long x) {
    settle();
    if (philox_) {
        PutSeed(x);
        return;
    }
    initialized_ = 1;
    int s = stream_;
    SelectStream(0);
    PutSeed(x);
    stream_ = s;
    for (int j = 1; j < STREAMS; j++) {
        std::int64_t t = A256 * (seed_[j - 1] % Q256) - R256 * (seed_[j - 1] / Q256);
        seed_[j] = t > 0 ? t : t + MODULUS;
    }
}

// Asks on the terminal for a seed until a value in 1 .. 2^31-2 is typed. Text
// that is not a number is skipped with a note; end of input stops the run,
// since nobody is left to answer.
long Rngs::prompt_for_seed() {
    for (;;) {
        std::fprintf(prompt_out, "\nEnter a positive integer seed (9 digits or less) >> ");
        std::fflush(prompt_out);
        long x = 0;
        int got = std::fscanf(prompt_in, "%ld", &x);
        if (got == EOF) input_error("no seed given: standard input ended at the seed prompt");
        if (got != 1) {
            int c = std::fgetc(prompt_in);
            while (c != EOF && !std::isspace(c)) c = std::fgetc(prompt_in);
            std::fprintf(prompt_out, "\nInput is not a number ... try again\n");
            continue;
        }
        if (x > 0 && x < MODULUS) return x;
        std::fprintf(prompt_out, "\nInput out of range ... try again\n");
    }
}

// A seed from the clock. The Lehmer generator takes the seconds reduced to
// its modulus; Philox takes the nanoseconds, so that batches started within
// the same second still get different seeds.
long Rngs::clock_seed() const {
    if (!philox_) return static_cast<long>(static_cast<unsigned long>(std::time(nullptr)) % MODULUS);
    auto ns = std::chrono::system_clock::now().time_since_epoch() / std::chrono::nanoseconds(1);
    // Scrambled so that neighbouring start times give unrelated-looking keys.
    std::uint64_t z = static_cast<std::uint64_t>(ns) + 0x9e3779b97f4a7c15u;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
    z ^= z >> 31;
    long s = static_cast<long>(z >> 1);
    return s > 0 ? s : 1;
}

// A positive seed is used as it is (the Lehmer generator reduces it to its
// modulus), a negative one asks the clock and 0 asks the terminal.
void Rngs::PutSeed(long x) {
    settle();
    if (x > 0 && !philox_) x = static_cast<long>(x % MODULUS);
    if (x < 0) x = clock_seed();
    if (x == 0) x = prompt_for_seed();
    if (stream_ == 0 || philox_) planted_ = x;
    if (philox_) {
        std::uint64_t k = static_cast<std::uint64_t>(x);
        key_ = {{static_cast<std::uint32_t>(k), static_cast<std::uint32_t>(k >> 32)}};
        for (auto &p : pos_) p = 0;
        return;
    }
    seed_[stream_] = x;
}

void Rngs::GetSeed(long *x) const {
    if (philox_)
        *x = planted_;
    else
        *x = static_cast<long>(next_ > 0 ? state_[next_ - 1] : seed_[stream_]);
}

void Rngs::SelectStream(int index) {
    settle();
    stream_ = static_cast<int>(static_cast<unsigned>(index) % STREAMS);
    if (initialized_ == 0 && stream_ != 0 && !philox_) PlantSeeds(DEFAULT);
}

void Rngs::TestRandom() {
    SelectStream(0);
    PutSeed(1);
    for (long i = 0; i < 10000; i++) Random();
    long x = 0;
    GetSeed(&x);
    bool ok = (x == CHECK);
    SelectStream(1);
    PlantSeeds(1);
    GetSeed(&x);
    ok = ok && (x == A256);
    if (ok)
        std::fprintf(prompt_out, "\n The implementation of rngs is correct.\n\n");
    else
        std::fprintf(prompt_out, "\n\a ERROR -- the implementation of rngs is not correct.\n\n");
}

} // namespace occusim

#include "core/rngs.hpp"

#include <cctype>
#include <ctime>

#include "core/errors.hpp"

namespace occusim {

namespace {
constexpr std::int64_t Q = Rngs::MODULUS / Rngs::MULTIPLIER; // 44488
constexpr std::int64_t R = Rngs::MODULUS % Rngs::MULTIPLIER; // 3399
constexpr std::int64_t Q256 = Rngs::MODULUS / Rngs::A256;    // 93674
constexpr std::int64_t R256 = Rngs::MODULUS % Rngs::A256;    // 7197
} // namespace

Rngs::Rngs() {
    seed_[0] = DEFAULT;
    for (int j = 1; j < STREAMS; j++) seed_[j] = 0;
}

double Rngs::Random() {
    std::int64_t x = seed_[stream_];
    std::int64_t t = MULTIPLIER * (x % Q) - R * (x / Q);
    seed_[stream_] = t > 0 ? t : t + MODULUS;
    draws++;
    return static_cast<double>(seed_[stream_]) / static_cast<double>(MODULUS);
}

void Rngs::PlantSeeds(long x) {
    initialized_ = 1;
    int s = stream_;
    SelectStream(0);
    PutSeed(x);
    planted_ = static_cast<long>(seed_[0]);
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

void Rngs::PutSeed(long x) {
    if (x > 0) x = static_cast<long>(x % MODULUS);
    if (x < 0) x = static_cast<long>(static_cast<unsigned long>(std::time(nullptr)) % MODULUS);
    if (x == 0) x = prompt_for_seed();
    seed_[stream_] = x;
}

void Rngs::SelectStream(int index) {
    stream_ = static_cast<int>(static_cast<unsigned>(index) % STREAMS);
    if (initialized_ == 0 && stream_ != 0) PlantSeeds(DEFAULT);
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

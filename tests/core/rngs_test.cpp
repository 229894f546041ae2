// The Lehmer generator: check values, stream layout and the seed prompt; the
// Philox generator: known answers, the documented mapping from seed,
// replicate, stream and draw index to uniforms, and stream positions.
#include <gtest/gtest.h>

#include <Random123/philox.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "core/errors.hpp"
#include "core/rngs.hpp"
#include "support/cli.hpp"

using occusim::Rngs;
using occusim::testing::read_stream;

namespace {

struct Prompt {
    std::FILE *in = std::tmpfile();
    std::FILE *out = std::tmpfile();
    explicit Prompt(const std::string &typed) {
        std::fputs(typed.c_str(), in);
        std::rewind(in);
    }
    ~Prompt() {
        std::fclose(in);
        std::fclose(out);
    }
    void attach(Rngs &r) {
        r.prompt_in = in;
        r.prompt_out = out;
    }
};

TEST(Rngs, CheckValuesOfStreamZeroAndTheStreamJump) {
    Rngs r;
    r.SelectStream(0);
    r.PutSeed(1);
    EXPECT_DOUBLE_EQ(r.Random(), 48271.0 / 2147483647.0);
    for (int i = 1; i < 10000; i++) r.Random();
    long x = 0;
    r.GetSeed(&x);
    EXPECT_EQ(x, 399268537);
    r.SelectStream(1);
    r.PlantSeeds(1);
    r.GetSeed(&x);
    EXPECT_EQ(x, 22925);
}

TEST(Rngs, SelfCheckReportsCorrect) {
    Rngs r;
    Prompt p("");
    p.attach(r);
    r.TestRandom();
    EXPECT_EQ(read_stream(p.out), "\n The implementation of rngs is correct.\n\n");
}

TEST(Rngs, SelectingAnotherStreamFirstPlantsTheDefaultSeed) {
    Rngs planted;
    planted.PlantSeeds(123456789);
    planted.SelectStream(1);
    long expected = 0;
    planted.GetSeed(&expected);

    Rngs r;
    r.SelectStream(257); // 257 mod 256 = stream 1
    long x = 0;
    r.GetSeed(&x);
    EXPECT_EQ(x, expected);
    EXPECT_NE(x, 0);
}

TEST(Rngs, StreamsAreIndependentAndSeedsReproduce) {
    Rngs a, b;
    a.PlantSeeds(7);
    b.PlantSeeds(7);
    for (int i = 0; i < 5; i++) EXPECT_EQ(a.Random(), b.Random());
    a.SelectStream(3);
    double on3 = a.Random();
    a.SelectStream(0);
    EXPECT_EQ(a.Random(), b.Random());
    EXPECT_NE(on3, 0.0);
}

TEST(Rngs, SeedOfModulusPromptsAndRefusesOutOfRange) {
    Rngs r;
    Prompt p("-4\n2147483647\n12345\n");
    p.attach(r);
    r.PutSeed(2147483647); // reduces to 0, so the terminal is asked
    long x = 0;
    r.GetSeed(&x);
    EXPECT_EQ(x, 12345);
    const std::string ask = "\nEnter a positive integer seed (9 digits or less) >> ";
    const std::string again = "\nInput out of range ... try again\n";
    EXPECT_EQ(read_stream(p.out), ask + again + ask + again + ask);
}

TEST(Rngs, SeedPromptSkipsTextThatIsNotANumber) {
    Rngs r;
    Prompt p("abc 42\n");
    p.attach(r);
    r.PutSeed(0);
    long x = 0;
    r.GetSeed(&x);
    EXPECT_EQ(x, 42);
    EXPECT_NE(read_stream(p.out).find("not a number"), std::string::npos);
}

TEST(Rngs, SeedPromptAtEndOfInputStopsTheRun) {
    Rngs r;
    Prompt p("");
    p.attach(r);
    EXPECT_THROW(r.PutSeed(0), occusim::InputError);
}

} // namespace

namespace {

// Random123's published known answers for Philox4x32 with 10 rounds:
// counter, key -> output.
struct Kat {
    std::uint32_t ctr[4], key[2], out[4];
};
const Kat kPhiloxKat[] = {
    {{0, 0, 0, 0}, {0, 0}, {0x6627e8d5, 0xe169c58d, 0xbc57ac4c, 0x9b00dbd8}},
    {{0xffffffff, 0xffffffff, 0xffffffff, 0xffffffff},
     {0xffffffff, 0xffffffff},
     {0x408f276d, 0x41c83b0e, 0xa20bc7c6, 0x6d5451fd}},
    {{0x243f6a88, 0x85a308d3, 0x13198a2e, 0x03707344},
     {0xa4093822, 0x299f31d0},
     {0xd16cfe09, 0x94fdcceb, 0x5001e420, 0x24126ea1}},
};

double uniform_of(std::uint32_t x) {
    return (static_cast<double>(x) + 0.5) / 4294967296.0;
}

TEST(Philox, KnownAnswersOfTheLibrary) {
    for (const Kat &k : kPhiloxKat) {
        philox4x32_ctr_t c = {{k.ctr[0], k.ctr[1], k.ctr[2], k.ctr[3]}};
        philox4x32_key_t key = {{k.key[0], k.key[1]}};
        philox4x32_ctr_t r = philox4x32(c, key);
        for (int i = 0; i < 4; i++) EXPECT_EQ(r.v[i], k.out[i]) << i;
    }
}

// The generator follows the mapping its header documents: key = the seed's
// two 32-bit halves, counter = (block low, block high, replicate, stream),
// uniforms 4j .. 4j+3 from words x0 .. x3 of block j.
TEST(Philox, UniformsFollowTheDocumentedMapping) {
    const std::uint64_t seed = 0x299f31d0a4093822u;
    Rngs r;
    r.UsePhilox(5);
    r.PlantSeeds(static_cast<long>(seed));
    r.SelectStream(9);
    philox4x32_key_t key = {{0xa4093822, 0x299f31d0}};
    philox4x32_ctr_t c = {{0, 0, 5, 9}};
    philox4x32_ctr_t w0 = philox4x32(c, key);
    c.v[0] = 1;
    philox4x32_ctr_t w1 = philox4x32(c, key);
    for (int i = 0; i < 4; i++) EXPECT_EQ(r.Random(), uniform_of(w0.v[i])) << i;
    EXPECT_EQ(r.Random(), uniform_of(w1.v[0]));
    long got = 0;
    r.GetSeed(&got);
    EXPECT_EQ(static_cast<std::uint64_t>(got), seed);
}

TEST(Philox, UniformsStayStrictlyInsideTheUnitInterval) {
    EXPECT_EQ(uniform_of(0), std::ldexp(1.0, -33));
    EXPECT_EQ(uniform_of(0xffffffff), 1.0 - std::ldexp(1.0, -33));
    EXPECT_LT(uniform_of(0xffffffff), 1.0);
    Rngs r;
    r.UsePhilox(1);
    r.PlantSeeds(99);
    double lo = 1, hi = 0, sum = 0;
    const int n = 200000;
    for (int i = 0; i < n; i++) {
        double u = r.Random();
        lo = std::min(lo, u);
        hi = std::max(hi, u);
        sum += u;
    }
    EXPECT_GT(lo, 0.0);
    EXPECT_LT(hi, 1.0);
    EXPECT_NEAR(sum / n, 0.5, 4 * std::sqrt(1.0 / 12 / n));
    EXPECT_EQ(r.draws, static_cast<std::uint64_t>(n));
}

// Each stream keeps its own position, also across a half-used block; the
// replicate number and the seed each change every number.
TEST(Philox, StreamsKeepTheirPositionsAndReplicatesDiffer) {
    Rngs plain;
    plain.UsePhilox(3);
    plain.PlantSeeds(42);
    double s0[5];
    for (double &u : s0) u = plain.Random();

    Rngs mixed;
    mixed.UsePhilox(3);
    mixed.PlantSeeds(42);
    EXPECT_EQ(mixed.Random(), s0[0]);
    mixed.SelectStream(7);
    double on7 = mixed.Random();
    mixed.SelectStream(0);
    EXPECT_EQ(mixed.Random(), s0[1]); // block 0 taken up again
    EXPECT_EQ(mixed.Random(), s0[2]);
    mixed.SelectStream(7);
    mixed.Random();
    mixed.SelectStream(0);
    EXPECT_EQ(mixed.Random(), s0[3]);
    mixed.SelectStream(7);
    mixed.SelectStream(0);
    EXPECT_EQ(mixed.Random(), s0[4]); // first of block 1
    EXPECT_NE(on7, s0[0]);

    Rngs other_rep, other_seed;
    other_rep.UsePhilox(4);
    other_rep.PlantSeeds(42);
    other_seed.UsePhilox(3);
    other_seed.PlantSeeds(43);
    EXPECT_NE(other_rep.Random(), s0[0]);
    EXPECT_NE(other_seed.Random(), s0[0]);

    // Planting again starts every stream over.
    plain.PlantSeeds(42);
    EXPECT_EQ(plain.Random(), s0[0]);
}

// Seeds: positive ones are used whole (no reduction to 31 bits), a negative
// one reads the clock and reports what it used, 0 asks the terminal.
TEST(Philox, SeedsAreUsedWholeAndClockSeedsReported) {
    Rngs big, reduced;
    big.UsePhilox(1);
    reduced.UsePhilox(1);
    big.PlantSeeds(Rngs::MODULUS + 5);
    reduced.PlantSeeds(5);
    EXPECT_NE(big.Random(), reduced.Random());
    EXPECT_EQ(big.planted_seed(), Rngs::MODULUS + 5);

    Rngs clock, again;
    clock.UsePhilox(1);
    clock.PlantSeeds(-1);
    EXPECT_GT(clock.planted_seed(), 0);
    again.UsePhilox(1);
    again.PlantSeeds(clock.planted_seed());
    EXPECT_EQ(clock.Random(), again.Random());

    Rngs typed;
    typed.UsePhilox(1);
    Prompt p("77\n");
    p.attach(typed);
    typed.PlantSeeds(0);
    EXPECT_EQ(typed.planted_seed(), 77);
}

TEST(Rngs, ClockSeedOfTheLehmerGeneratorIsReportedAndRepeats) {
    Rngs clock, again;
    clock.PlantSeeds(-1);
    EXPECT_GT(clock.planted_seed(), 0);
    EXPECT_LT(clock.planted_seed(), Rngs::MODULUS);
    again.PlantSeeds(clock.planted_seed());
    for (int i = 0; i < 3; i++) EXPECT_EQ(clock.Random(), again.Random());
}

} // namespace

namespace {

// Uniforms are handed out from a buffer filled ahead (Philox 256, the Lehmer
// generator 64). A run whose draws cross its edges and those of Philox's
// blocks of four, with stream changes and seed reads just before, on and after
// them, draws the numbers of the generator called one value at a time: Philox
// from its counter directly, the Lehmer generator step by step.
struct Unbuffered {
    bool philox;
    std::uint64_t pos[Rngs::STREAMS] = {};
    std::int64_t state[Rngs::STREAMS] = {};
    philox4x32_key_t key{};
    double draw(int stream) {
        if (philox) {
            std::uint64_t j = pos[stream]++;
            philox4x32_ctr_t c = {{static_cast<std::uint32_t>(j >> 2), 0, 2, static_cast<std::uint32_t>(stream)}};
            return uniform_of(philox4x32(c, key).v[j & 3]);
        }
        std::int64_t &x = state[stream];
        x = (Rngs::MULTIPLIER * x) % Rngs::MODULUS;
        return static_cast<double>(x) / static_cast<double>(Rngs::MODULUS);
    }
};

TEST(Rngs, BufferedDrawsEqualTheUnbufferedSequenceAcrossBufferEdges) {
    // Draws on stream 0 before each switch to stream 5 (a few draws there)
    // and back.
    const int runs[] = {63, 1, 62, 1, 1, 127, 2, 250, 6, 1, 255, 257, 511, 1000};
    for (bool philox : {false, true}) {
        Rngs r;
        Unbuffered ref{philox};
        if (philox) {
            r.UsePhilox(2);
            r.PlantSeeds(0x1234567890L);
            ref.key = {{0x34567890, 0x12}};
        } else {
            r.PlantSeeds(12345);
            for (int s : {0, 5}) {
                r.SelectStream(s);
                long x = 0;
                r.GetSeed(&x);
                ref.state[s] = x;
            }
            r.SelectStream(0);
        }
        std::uint64_t drawn = 0;
        for (int run : runs) {
            for (int i = 0; i < run; i++, drawn++) ASSERT_EQ(r.Random(), ref.draw(0)) << philox << " draw " << drawn;
            if (!philox) {
                long x = 0;
                r.GetSeed(&x);
                EXPECT_EQ(x, ref.state[0]) << "after draw " << drawn;
            }
            r.SelectStream(5);
            for (int i = 0; i < run % 7; i++) ASSERT_EQ(r.Random(), ref.draw(5)) << philox << " stream 5";
            r.SelectStream(0);
        }
    }
}

} // namespace

// The Lehmer generator: check values, stream layout and the seed prompt.
#include <gtest/gtest.h>

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

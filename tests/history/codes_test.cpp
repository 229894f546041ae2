// History text of base-2 and base-4 codes.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "core/context.hpp"
#include "history/codes.hpp"

namespace {

struct Codes : ::testing::Test {
    occusim::Context ctx;
    char buf[64];
    void SetUp() override {
        ctx.set_vector_defaults();
        for (int k = 0; k < 8; k++) ctx.pa[k] = 0.5;
    }
};

TEST_F(Codes, Base2FirstSurveyIsTheMostSignificantBit) {
    occusim::binrep(ctx, 0b1011, 4, buf);
    EXPECT_STREQ(buf, "1011");
    occusim::binrep(ctx, 1, 1, buf);
    EXPECT_STREQ(buf, "1");
}

TEST_F(Codes, SurveysWithoutDetectionProbabilityAreMissingOnlyUnderP0MISS) {
    ctx.pa[1] = 0;
    occusim::binrep(ctx, 0b111, 3, buf);
    EXPECT_STREQ(buf, "111");
    ctx.P0MISS = 1;
    occusim::binrep(ctx, 0b111, 3, buf);
    EXPECT_STREQ(buf, "1.1");
    occusim::base4rep(ctx, 0b100111, 3, buf);
    EXPECT_STREQ(buf, "2\t.\t3\t");
}

TEST_F(Codes, Base4RemovalTurnsLaterNonDetectionsIntoDashes) {
    occusim::base4rep(ctx, 0b00010000, 4, buf); // digits 0,1,0,0
    EXPECT_STREQ(buf, "0\t1\t0\t0\t");
    ctx.REMOVAL = 1;
    occusim::base4rep(ctx, 0b00010000, 4, buf);
    EXPECT_STREQ(buf, "0\t1\t-\t-\t");
    occusim::base4rep(ctx, 0b001000, 3, buf); // digits 0,2,0: only a 1 removes
    EXPECT_STREQ(buf, "0\t2\t0\t");
}

// The text kept from code to code must equal a fresh rendering of every code,
// whichever digit changed, with removal dashes and missing surveys in play.
TEST_F(Codes, HistoryTextFollowsIncreasingCodesLikeAFreshRendering) {
    std::mt19937_64 gen(11);
    for (int variant = 0; variant < 8; variant++) {
        const int bits = variant % 2 + 1;
        const int n = 7;
        ctx.REMOVAL = (variant / 2) % 2;
        ctx.P0MISS = variant / 4;
        ctx.pa[3] = ctx.P0MISS ? 0 : 0.5;
        occusim::HistoryText text(ctx, n, bits);
        const std::int64_t end = std::int64_t{1} << (bits * n);
        std::int64_t code = 0;
        while (code < end) {
            if (bits == 1) {
                char sym[64];
                occusim::binrep(ctx, code, n, sym);
                std::string want;
                for (int i = 0; i < n; i++) want += std::string(1, sym[i]) + "\t";
                ASSERT_EQ(text.of(code), want) << "binary code " << code;
            } else {
                occusim::base4rep(ctx, code, n, buf);
                ASSERT_EQ(text.of(code), buf) << "base-4 code " << code << " removal " << ctx.REMOVAL;
            }
            ASSERT_EQ(text.of(code), text.of(code)); // the same code twice
            code += 1 + static_cast<std::int64_t>(gen() % (gen() % 4 == 0 ? 300 : 3));
        }
    }
}

} // namespace

// History text of base-2 and base-4 codes.
#include <gtest/gtest.h>

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

} // namespace

#include "MOOSLIB/MOOSException.h"
#include "MOOSLIB/MOOSGlobalHelper.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace
{
const double kPi = 3.141592653589;
const double kTwoPi = 6.283185307178;
} // namespace

TEST(MOOSExceptionTest, TextIsCutTo99Characters)
{
    std::string sLong(150, 'e');
    CMOOSException FromChars(sLong.c_str());
    EXPECT_EQ(std::string(FromChars.m_sReason), std::string(99, 'e'));
    CMOOSException FromString(sLong);
    EXPECT_EQ(std::string(FromString.m_sReason), std::string(99, 'e'));
    CMOOSException Copy(FromChars);
    EXPECT_EQ(std::string(Copy.m_sReason), std::string(99, 'e'));
}

TEST(MOOSExceptionTest, ShortAndMissingTexts)
{
    EXPECT_STREQ(CMOOSException("closed").m_sReason, "closed");
    EXPECT_STREQ(CMOOSException().m_sReason, "");
    EXPECT_STREQ(CMOOSException(static_cast<const char*>(nullptr)).m_sReason, "");
    EXPECT_STREQ(CMOOSException(std::string("a\0b", 3)).m_sReason, "a");
}

TEST(MOOSExceptionTest, ThrownByValueAndCaughtByReference)
{
    try
    {
        throw CMOOSException(std::string("Failed to send"));
    }
    catch (const CMOOSException& e)
    {
        CMOOSException Kept = e;
        EXPECT_STREQ(Kept.m_sReason, "Failed to send");
    }
}

// ---------------------------------------------------------------------------

TEST(AngleTest, WrapsIntoMinusPiExcludedToPiIncluded)
{
    EXPECT_DOUBLE_EQ(MOOS_ANGLE_WRAP(0.5), 0.5);
    EXPECT_NEAR(MOOS_ANGLE_WRAP(4.0), 4.0 - kTwoPi, 1e-12);
    EXPECT_DOUBLE_EQ(MOOS_ANGLE_WRAP(-kPi), kPi);
    EXPECT_DOUBLE_EQ(MOOS_ANGLE_WRAP(kPi), kPi);
    EXPECT_NEAR(MOOS_ANGLE_WRAP(7 * kPi / 2), -kPi / 2, 1e-9);
    EXPECT_NEAR(MOOS_ANGLE_WRAP(-7 * kPi / 2), kPi / 2, 1e-9);
    EXPECT_LT(MOOS_ANGLE_WRAP(M_PI), -kPi + 1e-9);
}

TEST(AngleTest, DegreesAndRadiansUseTheLibraryPi)
{
    EXPECT_EQ(MOOSDeg2Rad(180), kPi);
    EXPECT_EQ(MOOSRad2Deg(kPi), 180.0);
    EXPECT_DOUBLE_EQ(MOOSDeg2Rad(90), kPi / 2);
}

TEST(AbsLimitTest, ClampsOnlyOutsideTheRange)
{
    double df = 5;
    EXPECT_TRUE(MOOSAbsLimit(df, 3));
    EXPECT_EQ(df, 3);
    df = -5;
    EXPECT_TRUE(MOOSAbsLimit(df, 3));
    EXPECT_EQ(df, -3);
    df = 2;
    EXPECT_FALSE(MOOSAbsLimit(df, 3));
    EXPECT_EQ(df, 2);
    df = 3;
    EXPECT_FALSE(MOOSAbsLimit(df, 3));
    EXPECT_EQ(df, 3);
}

TEST(RandomTest, UniformStaysWithinItsBounds)
{
    std::srand(11);
    for (int i = 0; i < 1000; ++i)
    {
        double df = MOOSUniformRandom(-2.0, 5.0);
        ASSERT_GE(df, -2.0);
        ASSERT_LE(df, 5.0);
        int n = MOOSDiscreteUniform(1, 6);
        ASSERT_GE(n, 1);
        ASSERT_LE(n, 6);
    }
    EXPECT_EQ(MOOSDiscreteUniform(3, 3), 3);
}

namespace
{
// Whether a call consumed random draws: it did when the generator, reseeded
// before the call, gives a different next value afterwards.
bool ConsumesDraws(double (*pfnCall)(double), double dfArg)
{
    std::srand(5);
    pfnCall(dfArg);
    int nAfter = std::rand();
    std::srand(5);
    return nAfter != std::rand();
}

// Leaves the white-noise generator without a spare sample.
void DrainSpare()
{
    if (ConsumesDraws(MOOSWhiteNoise, 1.0))
        MOOSWhiteNoise(1.0);
}
} // namespace

TEST(RandomTest, WhiteNoiseDrawsInPairs)
{
    DrainSpare();
    EXPECT_TRUE(ConsumesDraws(MOOSWhiteNoise, 1.0));
    EXPECT_FALSE(ConsumesDraws(MOOSWhiteNoise, 1.0));
    EXPECT_TRUE(ConsumesDraws(MOOSWhiteNoise, 1.0));
    DrainSpare();
}

TEST(RandomTest, SpareSampleTakesTheSigmaOfTheCallThatReturnsIt)
{
    DrainSpare();
    std::srand(7);
    double a = MOOSWhiteNoise(1.0);
    double b = MOOSWhiteNoise(2.0);
    std::srand(7);
    EXPECT_DOUBLE_EQ(MOOSWhiteNoise(1.0), a);
    EXPECT_DOUBLE_EQ(2.0 * MOOSWhiteNoise(1.0), b);
}

TEST(RandomTest, WhiteNoiseHasTheAskedSpread)
{
    std::srand(3);
    double dfSum = 0.0;
    double dfSquares = 0.0;
    const int n = 20000;
    for (int i = 0; i < n; ++i)
    {
        double x = MOOSWhiteNoise(2.0);
        ASSERT_TRUE(std::isfinite(x));
        dfSum += x;
        dfSquares += x * x;
    }
    EXPECT_NEAR(dfSum / n, 0.0, 0.1);
    EXPECT_NEAR(std::sqrt(dfSquares / n), 2.0, 0.1);
}

TEST(NormalInvTest, TableLookupWithoutInterpolation)
{
    EXPECT_EQ(MOOSNormalInv(0.5), 0.0);
    EXPECT_EQ(MOOSNormalInv(0.975), 1.8808);
    EXPECT_EQ(MOOSNormalInv(0.99), 2.3263);
    EXPECT_EQ(MOOSNormalInv(0.255), -0.6745);
    EXPECT_EQ(MOOSNormalInv(0.01), -2.3263);
    EXPECT_EQ(MOOSNormalInv(0.05), -1.6449);
    EXPECT_EQ(MOOSNormalInv(-0.1), -1e60);
    EXPECT_EQ(MOOSNormalInv(1.0), 1e60);
}

TEST(NormalInvTest, BelowTheFirstPercentileGivesTheTrueQuantile)
{
    for (double p : {1e-9, 1e-4, 0.001, 0.005, 0.0099})
    {
        double z = MOOSNormalInv(p);
        EXPECT_LT(z, -2.3263) << p;
        EXPECT_NEAR(0.5 * std::erfc(-z / std::sqrt(2.0)) / p, 1.0, 1e-6) << p;
    }
    EXPECT_EQ(MOOSNormalInv(0.0), -1e60);
    EXPECT_TRUE(std::isnan(MOOSNormalInv(std::nan(""))));
}

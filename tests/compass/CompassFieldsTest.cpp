#include "CompassFields.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>
#include <vector>

namespace
{
using std::nullopt;
using Number = std::optional<double>;

struct LineCase
{
    std::string line;
    Number heading, pitch, roll, temperature;
};

void ExpectDecodes(const std::vector<LineCase>& cases)
{
    for (const LineCase& c : cases)
    {
        const CompassReading got = DecodeCompassLine(c.line);
        SCOPED_TRACE(c.line);
        EXPECT_EQ(got.heading, c.heading);
        EXPECT_EQ(got.pitch, c.pitch);
        EXPECT_EQ(got.roll, c.roll);
        EXPECT_EQ(got.temperature, c.temperature);
    }
}

// Lines of the compasses' manuals and of programs that read real devices.
const std::vector<LineCase> kDocumentedLines = {
    // Factory default, with and without its line end.
    {"$C320.5P0.2R-18.3T19.0*3C\r\n", 320.5, 0.2, -18.3, 19.0},
    {"$C320.5P0.2R-18.3T19.0*3C", 320.5, 0.2, -18.3, 19.0},
    // A calibration script's line.
    {"$C106.3P-15.6R46.0T20.4*0A\r\n", 106.3, -15.6, 46.0, 20.4},
    // Depth-variant lines, without and with a checksum.
    {"$C175.2P1.8R47.9T29.6D0.00\r\n", 175.2, 1.8, 47.9, 29.6},
    {"$C328.3P28.4R-12.4T21.1D21.01*61\r\n", 328.3, 28.4, -12.4, 21.1},
    // Magnetometer and accelerometer fields after the temperature.
    {"$C212.4P2.5R-14.0T28.4Mx107977.90My-79422.00Mz173.27Ax0.045Ay-0.245Az0.977*3A\r\n", 212.4,
     2.5, -14.0, 28.4},
    // The other family: magnetic field before the temperature, a flag after.
    {"$C328.3P28.4R-12.4X55.11Y12.33Z-18.43T22.3E001*29\r\n", 328.3, 28.4, -12.4, 22.3},
    // Pitch and roll turned off; a lone line feed as the line end.
    {"$C328.3T22.3*2E\n", 328.3, nullopt, nullopt, 22.3},
    // The limits themselves, and whole numbers.
    {"$C360.0P-180.0R180.0T-40\r\n", 360.0, -180.0, 180.0, -40.0},
    {"$C0P0R0T0\r\n", 0.0, 0.0, 0.0, 0.0},
};

TEST(CompassLineTest, DocumentedLinesGiveExactlyTheirNumbers)
{
    ExpectDecodes(kDocumentedLines);
}

TEST(CompassLineTest, ABadFieldGivesNothingWhileTheOthersDecode)
{
    ExpectDecodes({
        {"$CP0.2R-18.3T19.0*3C\r\n", nullopt, 0.2, -18.3, 19.0},          // tag without number
        {"$C320.5P--0.2R-18.3T19.0\r\n", 320.5, nullopt, -18.3, 19.0},    // two signs
        {"$C320.5P+0.2R-18.3T19.0\r\n", 320.5, nullopt, -18.3, 19.0},     // a plus
        {"$C320,5P0.2R-18.3T19,0\r\n", nullopt, 0.2, -18.3, nullopt},     // comma decimals
        {"$C360.1P0.2R-18.3T19.0\r\n", nullopt, 0.2, -18.3, 19.0},        // heading above 360
        {"$C-0.1P0.2R-18.3T19.0\r\n", nullopt, 0.2, -18.3, 19.0},         // heading below 0
        {"$C320.5P180.1R-180.1T19.0\r\n", 320.5, nullopt, nullopt, 19.0}, // beyond 180
        {"$C320.5P1.2.3R.5T19.\r\n", 320.5, nullopt, nullopt, nullopt},   // stray points
        {"$C320.5P1e1R-18.3T19.0\r\n", 320.5, nullopt, -18.3, 19.0},      // exponent
        {"$C32 0.5P0.2R\t1T19.0\r\n", nullopt, 0.2, nullopt, 19.0},       // blanks
        {std::string("$C320.5P0\0.2R-18.3T19.0\r\n", 25), 320.5, nullopt, -18.3, 19.0}, // NUL
        {"$C" + std::string(400, '9') + "P0.2\r\n", nullopt, 0.2, nullopt, nullopt},    // too big
        {"$C320.5P0.2R-18.3T19.0Mx??D-\r\n", 320.5, 0.2, -18.3, 19.0}, // skipped fields' text
    });
}

TEST(CompassLineTest, LinesThatCannotBeTrustedGiveNoNumber)
{
    for (const std::string line :
         {"$C\r\n", "$C", "$C*00\r\n",                   // only "$C"
          "$C320.5P0.2R-1",                              // cut: no end, no checksum
          "$C320.5P0.2R-18.3T19.0*3",                    // cut inside the checksum
          "$C320.5P0.2R-18.3T19.0*3C3C\r\n",             // more after the checksum
          "$C320.5P0.2R-18.3T19.0*\r\n",                 // a star and no checksum
          "$C320.5P0.2R-1$C321.0P0.2R-18.3T19.0*3C\r\n", // a new line inside
          "$C320.5R-18.3P0.2T19.0*3C\r\n",               // roll before pitch
          "$C320.5T19.0P0.2\r\n",                        // temperature first
          "$C320.5P0.2P0.3\r\n",                         // a tag twice
          "$C175.2D0.00T29.6\r\n",                       // depth before temperature
          "$C320.5Q1.0T19.0\r\n",                        // a tag no compass has
          "$Cx320.5\r\n",                                // nor that
          "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n",
          " $C320.5P0.2\r\n", "C320.5P0.2\r\n", ""})
    {
        const CompassReading got = DecodeCompassLine(line);
        EXPECT_FALSE(got.heading || got.pitch || got.roll || got.temperature) << line;
    }
}

// Puts a comma-decimal locale in place for the C library's numbers while it
// lives, when one is installed.
class CommaDecimalLocale
{
public:
    CommaDecimalLocale()
    {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"})
            if (std::setlocale(LC_NUMERIC, name))
            {
                installed = true;
                return;
            }
    }
    ~CommaDecimalLocale() { std::setlocale(LC_NUMERIC, "C"); }
    bool installed = false;
};

TEST(CompassLineTest, NumbersDoNotDependOnTheLocale)
{
    const CommaDecimalLocale locale;
    if (!locale.installed)
        GTEST_SKIP() << "no comma-decimal locale (de_DE.UTF-8, fr_FR.UTF-8) is installed; "
                        "generate one with locale-gen to run this test";
    ExpectDecodes(kDocumentedLines);
    ExpectDecodes({{"$C320,5P0,2R-18,3T19,0\r\n", nullopt, nullopt, nullopt, nullopt}});
}

TEST(HeadingTest, HeadingsWrapIntoOneTurnAroundNorth)
{
    struct Case
    {
        double heading, offset, declination, vehicle, trueHeading;
    };
    for (const Case& c : std::vector<Case>{
             {359.9, 0.2, 0.0, 0.1, 0.1},
             {0.0, -0.1, 0.0, 359.9, 359.9},
             {10.0, 0.0, -10.5, 10.0, 359.5},
             {350.0, 5.0, 5.0, 355.0, 0.0},
             {180.0, -540.0, 0.0, 0.0, 0.0},
             {360.0, 0.0, 0.0, 0.0, 0.0},
             {359.9999999, 0.0, 0.0, 0.0, 0.0}, // would show as 360.0
             {359.96, 0.04, -0.01, 0.0, 359.99},
             {0.0, 0.0, 720.25, 0.0, 0.25},
             {90.0, -90.0, -1e-9, 0.0, 0.0},
             {12.3, -372.3, 4.6, 0.0, 4.6},
         })
    {
        SCOPED_TRACE(::testing::Message()
                     << c.heading << " + " << c.offset << " + " << c.declination);
        EXPECT_EQ(VehicleHeading(c.heading, c.offset), c.vehicle);
        EXPECT_EQ(TrueHeading(c.heading, c.offset, c.declination), c.trueHeading);
    }
    EXPECT_TRUE(std::isnan(WrapHeading(INFINITY)));
    EXPECT_TRUE(std::isnan(WrapHeading(NAN)));
}
} // namespace

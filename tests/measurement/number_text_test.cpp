// Numbers in the texts and exports: printf's rounding, and always a '.', also
// under a locale whose decimal separator is a comma.
#include "measurement/number_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <regex>
#include <string>

#include "analysis/analysis.h"
#include "measurement/export.h"
#include "measurement/measurement.h"
#include "tests/comma_locale.h"

namespace {

std::string Printf(double value, int decimals) {
    char text[512];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

}  // namespace

TEST(NumberText, RoundsAsPrintfInTheCLocale) {
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    const struct {
        double value;
        int decimals;
    } cases[] = {{8.25, 1},   {8.35, 1},   {-0.04, 1}, {0.125, 2}, {2961.0, 1},    {-179.9, 1},
                 {1.0005, 3}, {0.0, 3},    {149.5, 0}, {150.5, 0}, {-0.5, 0},      {1e300, 2},
                 {1e-9, 4},   {-65.71, 1}, {3.0, 2},   {0.999, 2}, {123456.789, 4}};
    for (const auto& c : cases) {
        EXPECT_EQ(FixedText(c.value, c.decimals), Printf(c.value, c.decimals))
            << c.value << " with " << c.decimals << " decimals";
    }
    EXPECT_EQ(FixedText(std::numeric_limits<double>::infinity(), 1), "inf");
    EXPECT_EQ(FixedText(-std::numeric_limits<double>::max(), 0),
              Printf(-std::numeric_limits<double>::max(), 0));
}

TEST(NumberText, ResultTextsAndExportsKeepTheirPointUnderACommaLocale) {
    auto s = std::make_unique<MeasurementState>();
    s->sampleRate = 1800;
    s->sampleCount = 1024;
    s->fundamentalBin = 100;
    s->fundamentalLevel = 8.25;
    for (int p = 0; p < 5; ++p) {
        s->harmonicBins[p] = 200 + p;
        s->harmonicLevels[p] = -60.5 - p;
    }
    s->thdEnabled = 1;
    s->spectrum[3] = -12.5;

    const CCommaLocale locale;
    ASSERT_EQ(locale.Error(), "");
    const double thd = ComputeThd(*s);

    FormatResultTexts(*s);
    EXPECT_EQ(s->fundamentalText, "175 Hz");
    EXPECT_EQ(s->amplitudeText, "8.2 dBm");
    EXPECT_EQ(s->thdText, FixedText(thd, 3) + " %");
    EXPECT_EQ(s->thdText.find(','), std::string::npos) << s->thdText;

    DistortionMetrics m;
    m.valid = true;
    m.thdPercent = 1.5;
    m.thdDb = -36.5;
    m.snrDb = 45.25;
    m.enob = 6.27;
    m.spurBin = 200;
    const std::string text = FormatMeasurements(*s, m);
    for (const char* expected :
         {"Amplitude: 8.2 dBm\n", "Fundamental entry 100: 175.78 Hz, 8.2 dBm\n",
          "Peak 5 entry 204: 358.59 Hz, -64.5 dBm\n",
          "Harmonic THD (2..10): 1.5000 % (-36.50 dB)\n", "SNR: 45.25 dB\n", "ENOB: 6.27 bits\n",
          "(spur at 351.56 Hz)\n"}) {
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\nin:\n" << text;
    }
    EXPECT_FALSE(std::regex_search(text, std::regex("[0-9],[0-9]"))) << text;

    const std::string csv = FormatSpectrumCsv(*s);
    EXPECT_NE(csv.find("\n3,5.2734375,-12.5\n"), std::string::npos);
}

// Acquisition timeouts take the cycle's 2 to 3 s of silence each.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/measure.h"
#include "instrument/instrument.h"

namespace {

class MeasureTimeout : public ::testing::TestWithParam<instrument::Fault> {};

TEST_P(MeasureTimeout, ExitsWithFourAndSaysSo) {
    instrument::Options options;
    options.paced = false;
    options.fault = GetParam();
    instrument::PtyHost host(options);
    std::string error;
    ASSERT_TRUE(host.Start(&error)) << error;
    std::ostringstream out, err;
    EXPECT_EQ(RunMeasure({"--device", host.SlavePath(), "--samples", "1024", "--count", "3",
                          "--json", "-"},
                         out, err, false),
              kExitAcquisition);
    EXPECT_NE(err.str().find("acquisition timeout on " + host.SlavePath() + " (cycle 1 of 3)"),
              std::string::npos)
        << err.str();
    // The report still goes out, saying what went wrong.
    EXPECT_NE(out.str().find("\"error\": \"acquisition timeout"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("\"cycles\": []"), std::string::npos) << out.str();
}

INSTANTIATE_TEST_SUITE_P(Faults, MeasureTimeout,
                         ::testing::Values(instrument::Fault::SilentAfterStart,
                                           instrument::Fault::Stall),
                         [](const auto& info) {
                             std::string name = instrument::FaultName(info.param);
                             std::erase(name, '-');
                             return name;
                         });

}  // namespace

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "analysis/analysis.h"

namespace {

class WindowTest : public ::testing::TestWithParam<int> {};

// Runs over every block length in turn, so a weight table left over from the
// previous length would show here.
TEST_P(WindowTest, PeriodicWeights) {
    const int n = GetParam();
    std::vector<double> w(n, 1.0);
    ApplyHarrisWindow(w.data(), n);

    EXPECT_NEAR(w[0], 0.00006, 1e-15);
    EXPECT_NEAR(w[n / 2], 1.0, 1e-15);
    for (int i = 1; i < n; ++i) ASSERT_NEAR(w[i], w[n - i], 1e-15) << "i = " << i;
    EXPECT_NEAR(std::accumulate(w.begin(), w.end(), 0.0), 0.35875 * n, 1e-12 * n);
}

INSTANTIATE_TEST_SUITE_P(EveryBlockLength, WindowTest,
                         ::testing::Values(128, 8192, 256, 4096, 512, 2048, 1024));

TEST(Window, NonPositiveLengthLeavesTheBlockAlone) {
    std::vector<double> block(16, 3.0);
    ApplyHarrisWindow(block.data(), 0);
    ApplyHarrisWindow(block.data(), -16);
    for (double v : block) EXPECT_EQ(v, 3.0);
}

}  // namespace

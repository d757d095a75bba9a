// The base port: sticky error, unsupported spares, the line-status layout,
// the heap helpers and the "Library Error" report.
#include "comlink/port.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

TEST(ComPortError, StickyUntilTakenAndOverwrittenByLaterFailure) {
    CComPort port;
    EXPECT_EQ(port.GetError(), 0);
    port.errorCode = CL_ERR_PARITY;
    port.errorCode = CL_ERR_STOPBITS;  // a second failure overwrites the first
    EXPECT_EQ(port.GetError(), CL_ERR_STOPBITS);
    EXPECT_EQ(port.GetError(), CL_ERR_STOPBITS);
    EXPECT_EQ(port.TakeError(), CL_ERR_STOPBITS);
    EXPECT_EQ(port.TakeError(), 0);
}

TEST(ComPortError, SparesAreUnsupportedAndLeaveTheError) {
    CComPort port;
    port.errorCode = CL_ERR_BREAK;
    EXPECT_EQ(port.Spare1(), CL_ERR_UNSUPPORTED);
    EXPECT_EQ(port.Spare2(), CL_ERR_UNSUPPORTED);
    EXPECT_EQ(port.GetError(), CL_ERR_BREAK);
}

struct FieldCase {
    int code;
    int byte;
    int shift;
};

class LineStatusLayout : public ::testing::TestWithParam<FieldCase> {};

TEST_P(LineStatusLayout, FieldSitsAtItsByteAndBits) {
    const FieldCase c = GetParam();
    LineStatusBits bits = {};
    bits.SetField(c.code, 7);  // cut to two bits
    for (int b = 0; b < 4; ++b) {
        EXPECT_EQ(bits.bytes[b], b == c.byte ? 3 << c.shift : 0) << "byte " << b;
    }
    EXPECT_EQ(bits.Field(c.code), 3);
    bits.SetField(c.code, 1);
    EXPECT_EQ(bits.Field(c.code), 1);
    EXPECT_EQ(bits.bytes[c.byte], 1 << c.shift);
}

INSTANTIATE_TEST_SUITE_P(
    AllSixteen, LineStatusLayout,
    ::testing::Values(FieldCase{LINE_DTR, 0, 0}, FieldCase{LINE_RTS, 0, 2},
                      FieldCase{LINE_BREAK, 0, 4}, FieldCase{LINE_DSR, 0, 6},
                      FieldCase{LINE_CTS, 1, 0}, FieldCase{LINE_RI, 1, 2},
                      FieldCase{LINE_DCD, 1, 4}, FieldCase{20, 1, 6}, FieldCase{19, 2, 0},
                      FieldCase{17, 2, 2}, FieldCase{18, 2, 4}, FieldCase{LINE_BREAKDETECT, 2, 6},
                      FieldCase{LINE_PARITYERR, 3, 0}, FieldCase{LINE_FRAMEERR, 3, 2},
                      FieldCase{LINE_RXOVERFLOW, 3, 4}, FieldCase{LINE_OVERRUN, 3, 6}),
    [](const auto& info) { return "code" + std::to_string(info.param.code); });

TEST(LineStatusLayoutOther, CodesWithoutFieldChangeNothingAndReadZero) {
    LineStatusBits bits = {{0x12, 0x34, 0x56, 0x78}};
    bits.SetField(2, 3);
    bits.SetField(40, 3);
    EXPECT_EQ(bits.bytes[0], 0x12);
    EXPECT_EQ(bits.bytes[3], 0x78);
    EXPECT_EQ(bits.Field(40), 0);
}

bool RefuseAll(std::size_t) {
    return false;
}

TEST(ZeroAllocTest, FillsWithZeroAndHonoursARefusal) {
    auto* block = static_cast<unsigned char*>(ZeroAlloc(64));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(block[i], 0);
    FreeBlock(block);
    ZeroAllocHook previous = SetZeroAllocHook(RefuseAll);
    EXPECT_EQ(ZeroAlloc(16), nullptr);
    SetZeroAllocHook(previous);
    void* again = ZeroAlloc(16);
    EXPECT_NE(again, nullptr);
    FreeBlock(again);
}

// A port class that implements nothing: every operation reports.
class CBarePort : public CComPort {};

using ReportPureCallDeathTest = ::testing::Test;

TEST_F(ReportPureCallDeathTest, DefaultReportGoesToStandardErrorAndExitsWithOne) {
    CBarePort port;
    EXPECT_EXIT(port.Idle(), ::testing::ExitedWithCode(1),
                "Library Error\nPure Virtual function called @port\\.cpp,[0-9]+\n"
                "Unable to continue execution");
}

void ShowInBrackets(const char* title, const char* text) {
    std::fprintf(stderr, "[%s|%s]", title, text);
}
void SayExitHandlerRan() {
    std::fprintf(stderr, "<exit handlers ran>");
}

TEST_F(ReportPureCallDeathTest, InstalledHandlerShowsTheTextThenNormalExitRunsHandlers) {
    CBarePort port;
    PortQueueStatus status = {};
    EXPECT_EXIT(
        {
            SetReportHandler(ShowInBrackets);
            std::atexit(SayExitHandlerRan);
            port.GetQueueStatus(status, 7);
        },
        ::testing::ExitedWithCode(1),
        "\\[Library Error\\|Pure Virtual function called @port\\.cpp,[0-9]+\nUnable to continue "
        "execution\\]<exit handlers ran>");
}

}  // namespace

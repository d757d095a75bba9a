// Discarding what the instrument sends, with a bound.
//
// A drain reads one byte at a time and ends when a read brings nothing within
// its timeout: the line is quiet, and a quiet line is drained exactly so. A line
// that never goes quiet (noise more often than the read timeout, or an
// instrument that ignores the stop byte) would hold such a loop for ever, so
// every drain also ends after kDrainLimitMs or kDrainLimitBytes, whichever comes
// first, and says so; the caller then tells the operator kKeepsSendingText.
//
// Used by the cycle (before the configuration, before the start byte, after the
// stop byte), by the connection, and wherever else a stream of the instrument
// has to be ended.
#pragma once

#include "measurement/measurement.h"

// Nothing the instrument is asked for takes longer to discard than this.
constexpr int kDrainLimitMs = 2000;
// The largest block (8192 samples of 2 bytes) and a margin for what follows it.
constexpr int kDrainLimitBytes = 2 * 8192 + 1024;

inline constexpr const char* kKeepsSendingText = "The instrument keeps sending; check the line.";

enum class DrainEnd {
    Quiet,         // a read timed out: nothing more is waiting
    KeepsSending,  // the time or byte bound came first
    Lost,          // the link reported an error, or there is no link
};

struct DrainSettings {
    int readTimeoutMs = 20;         // of each one-byte read; a read that times out ends it
    int pauseMs = 0;                // a pause before each read
    MeasurementUi* pump = nullptr;  // when set, PumpMessages() before each read
    int limitMs = kDrainLimitMs;    // on the library's clock, from the call
    int limitBytes = kDrainLimitBytes;
};

struct DrainResult {
    DrainEnd end = DrainEnd::Quiet;
    int bytes = 0;  // discarded
};

// Reads and discards through state.link as it stands at each read (a handler
// dispatched by the pump may replace or remove the connection). At least one
// read is made. Never returns a byte count from an error: an error or a missing
// link ends it as DrainEnd::Lost.
DrainResult DrainLink(MeasurementState& state, const DrainSettings& settings);

// Streaming acquisition: the cycle's configuration and start byte, then the
// instrument's sample stream read for as long as it runs, cut into blocks of N
// with an overlap, each block analysed by the cycle's chain.
#pragma once

#include <cstdint>

#include "measurement/measurement.h"

// The overlaps a stream takes, in percent of N.
inline constexpr int kStreamOverlaps[] = {0, 50, 75};
bool StreamOverlapValid(int percent);

// Samples from the start of one block to the start of the next: N x (100 -
// overlap) / 100, so N, N/2 or N/4. 0 for an overlap or N outside the tables.
int StreamHop(int n, int overlapPercent);

// Blocks that samples samples of a stream complete: 0 before the first N, then
// one more every hop samples.
long long StreamBlocksIn(long long samples, int n, int hop);

// Why a stream is no longer running.
enum class StreamEnd {
    None,             // still running, or never started
    Stopped,          // on request: stop byte sent, the rest drained
    Refused,          // a setting has no command byte or block size; nothing was sent
    Timeout,          // no byte for 2 to 3 s ("Acquisition timeout. ...")
    Lost,             // the device is gone ("Instrument connection lost.")
    KeepsSending,     // a drain never went quiet (kKeepsSendingText)
    SettingsChanged,  // N, rate, resolution or channel changed under the stream
    SamplesLost,      // far fewer samples arrived than the rate gives in the time
};

// Told about a running stream, from inside CStream::Poll.
class StreamListener {
  public:
    virtual ~StreamListener() = default;
    // Whole samples as they arrived, (resolution + 1) bytes each, every sample
    // of the stream exactly once and in order.
    virtual void OnStreamBytes(const unsigned char* /*bytes*/, int /*count*/) {}
    // Block `index` (from 0), samples firstSample .. firstSample + N - 1 of the
    // stream, has been analysed: the state holds its samples, spectrum, peaks
    // and result texts.
    virtual void OnStreamBlock(long long /*index*/, long long /*firstSample*/) {}
};

// What a stream fixed at its start.
struct StreamFormat {
    int rateSelection = 0;  // SampleRateTable position
    int sampleRate = 0;
    int sampleCount = 0;  // N
    int resolution = 0;   // 0 = 8-bit, 1 = 10-bit
    int channel = 0;
    int overlap = 0;  // percent
    int hop = 0;      // samples between block starts
    int BytesPerSample() const { return resolution + 1; }
};

// Cuts a stream of sample bytes (any split across calls) into blocks of N every
// hop samples and analyses each with the cycle's chain: decode, scale, window
// (windowMode 0), spectrum with averaging, peaks, result texts. The state's
// sampleCount, resolution and sampleRate are set to the format's. Used by
// CStream and by the replay of a recorded stream.
class CStreamAnalyser {
  public:
    CStreamAnalyser(MeasurementState& state, StreamListener* listener)
        : state_(state), listener_(listener) {}
    // Starts afresh with format f (whose hop must be StreamHop of it).
    void Begin(const StreamFormat& f);
    void Consume(const unsigned char* bytes, int count);
    long long Samples() const { return samples_; }         // whole samples taken
    long long Blocks() const { return blocks_; }           // blocks analysed
    bool HalfSample() const { return pendingHigh_ >= 0; }  // a 10-bit sample's first byte waits

  private:
    void AnalyseBlock();

    MeasurementState& state_;
    StreamListener* listener_;
    StreamFormat format_;
    long long samples_ = 0;
    long long blocks_ = 0;
    int pendingHigh_ = -1;
    int filled_ = 0;  // samples in block_
    // The block being filled, as received; the next block's first N - hop
    // samples stay in it after each analysis.
    unsigned char block_[2 * kMaxSamples];
};

// One stream on state.link. Start sends the configuration and '8'; Poll (called
// often, every 10 to 50 ms) reads what is waiting and analyses each block it
// completes; Stop sends the stop byte and drains. Messages go through
// ui.MessageBox with the cycle's texts. Memory is fixed however long it runs.
class CStream {
  public:
    CStream(MeasurementState& state, MeasurementUi& ui, StreamListener* listener = nullptr);
    ~CStream();  // stops a stream still running
    CStream(const CStream&) = delete;
    CStream& operator=(const CStream&) = delete;

    // Takes the settings (RefreshSettings, RateSelection), drains, configures
    // the instrument and sends '8'. False, with a message and End() Refused or
    // Lost, when it cannot start.
    bool Start(int overlapPercent);
    // Reads everything waiting, analyses the blocks it completes (ShowValues and
    // RepaintPlot once after them). False once the stream has ended. Safe to call
    // again from a handler that a pump inside it dispatches (it then does nothing).
    bool Poll();
    // Stop byte, then the drain (pumping messages). Does nothing when not running.
    void Stop();

    bool Running() const { return running_; }
    StreamEnd End() const { return end_; }
    const StreamFormat& Format() const { return format_; }
    long long SamplesReceived() const { return analyser_.Samples(); }
    long long BlocksAnalysed() const { return analyser_.Blocks(); }
    int DrainedBytes() const { return drained_; }  // discarded after the stop byte

  private:
    bool StartDrain();
    void Finish(StreamEnd end, const char* text);
    void StopAndDrain();

    MeasurementState& state_;
    MeasurementUi& ui_;
    CStreamAnalyser analyser_;
    StreamFormat format_;
    bool running_ = false;
    bool polling_ = false;
    bool stopWanted_ = false;
    StreamEnd end_ = StreamEnd::None;
    std::int64_t deadline_ = 0;
    std::uint32_t startTick_ = 0;
    int drained_ = 0;
    unsigned char chunk_[9000 + 1];
};

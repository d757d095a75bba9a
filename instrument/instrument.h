// The stand-in instrument: the protocol and signal model of the data-acquisition
// device, and a host that runs it on a pseudo-terminal so the program (and the
// tests) can talk to it as to a serial device.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace instrument {

constexpr int kChannelCount = 7;
constexpr int kInitialSpeed = 38400;  // the instrument's speed after power-up
constexpr int kFastSpeed = 128000;    // its speed after the speed change byte '9'
// 128000 baud with 8N1 framing: 10 bit times per byte.
constexpr double kLineBytesPerSecond = kFastSpeed / 10.0;
// A UART samples mid-bit and tolerates a couple of percent of speed error.
constexpr double kSpeedTolerance = 0.02;
// A late handshake reply comes well after the 50 ms within which the program
// looks for it, with room for a loaded machine.
constexpr double kLateReplyDelay = 0.5;
constexpr int kGarbageBurst = 3;  // bytes of line noise per burst
// Received bytes the pseudo-terminal host keeps for a look afterwards (some
// 900 cycles' worth); the --log file has every byte.
constexpr std::size_t kReceivedKept = 1 << 16;
// A chattering line brings a noise byte this often: more often than any drain's
// read waits, so only a bound ends a drain.
constexpr double kChatterInterval = 0.01;

struct Tone {
    double frequency;    // Hz
    double amplitude;    // volts peak
    double phase = 0.0;  // radians
};

// A tone whose frequency runs linearly from `from` to `to` over `seconds`, then
// starts again.
struct Sweep {
    double from;       // Hz
    double to;         // Hz
    double seconds;    // length of one sweep
    double amplitude;  // volts peak
};

// What one input channel sees: DC plus sines and sweeps plus Gaussian noise, in
// volts. A counting channel sends none of that: sample j of an acquisition is
// j counts, modulo the resolution's range (256 or 1024), so a reader can tell
// that every sample arrived once and in order.
struct ChannelSignal {
    double dc = 0.0;
    std::vector<Tone> tones;
    double noiseRms = 0.0;
    std::vector<Sweep> sweeps = {};
    bool counting = false;
};

enum class Fault {
    None,
    SilentAfterStart,  // '8' starts nothing
    ShortBlock,        // the stream stops by itself after faultSamples samples
    ExtraBytes,        // faultSamples more samples follow the stop byte
    Garbage,           // line noise after '9' and 'S', random bytes in place of samples
    NoReply,           // 'P' gets no answer
    LateReply,         // 'Q' comes kLateReplyDelay after 'P'
    DoubleReply,       // 'P' gets "QQ"
    WrongReply,        // 'P' gets 'R'
    HangUpMidBlock,    // the device vanishes after faultSamples samples
    Stall,             // after faultSamples samples it hangs: silent, deaf to all but '9'
    Chatter,           // a noise byte every kChatterInterval, for ever, whatever is sent
    NeverStops,        // the stop byte is ignored: the stream goes on until '9'
};

struct Options {
    ChannelSignal channels[kChannelCount];  // default: DefaultDemoSignal() on every channel
    Fault fault = Fault::None;
    // ShortBlock / HangUpMidBlock / Stall act after this many samples; ExtraBytes
    // sends this many more after the stop byte.
    int faultSamples = 64;
    // The normal reply 'Q' leaves this long after 'P' (a slow instrument).
    int replyDelayMs = 0;
    bool paced = true;    // false: as fast as the line allows (12800 bytes/s), for fast tests
    // Takes every byte after '9' whatever its line speed, for hosts that cannot
    // set 128000 baud (Wine on a pseudo-terminal stays at 38400).
    bool anySpeed = false;
    unsigned seed = 1;    // noise and garbage
    std::string logPath;  // every byte with its time and speed, empty = no log
    Options();
};

// A fundamental with a few harmonics and a little noise, well inside the
// Nyquist limit of the default 1800 samples/s.
ChannelSignal DefaultDemoSignal();

// Fault names as the command line spells them: "none", "silent-after-start",
// "short-block", "extra-bytes", "garbage", "no-reply", "late-reply",
// "double-reply", "wrong-reply", "hang-up-mid-block", "stall", "chatter",
// "never-stops". Case, '-' and
// '_' are not significant. Unknown names give Fault::None and *ok false.
Fault ParseFault(const std::string& name, bool* ok);
const char* FaultName(Fault fault);

// Parses one signal component and adds it to *into: "CH:sine:FREQ:AMP[:PHASE]"
// adds a tone, "CH:sweep:FROM:TO:SECONDS:AMP" a swept tone, "CH:dc:VOLTS" sets
// the DC level, "CH:noise:RMS" the noise, "CH:count" makes the channel count.
// CH is 0..6. On failure returns false with a message naming the bad value
// and leaves *into unchanged.
bool ParseSignal(const std::string& spec, int* channel, ChannelSignal* into, std::string* error);

// Noise-free value of a channel's signal at time t (seconds), in volts.
double SignalValue(const ChannelSignal& signal, double t);

// Quantises an input voltage as the instrument does: clipped to +-5 V, then
// counts = round((v/2 + 2.5) x 255/5) at 8 bits (resolution 0) or x 1023/5 at
// 10 bits (resolution 1).
int Quantise(double volts, int resolution);

// How the instrument took one received byte.
enum class ByteUse {
    SpeedChange,        // '9', at any speed
    Handshake,          // 'P'
    Channel,            // '0'..'6'
    Rate,               // 'A'..'M'
    Resolution,         // 'Q', 'R'
    ConfigEnd,          // 'S'
    Start,              // '8' while no acquisition is open
    Stop,               // '8' while an acquisition is open
    Prefix,             // any other byte: the prefix that may precede a channel byte
    BeforeSpeedChange,  // ignored: only '9' means anything at the power-up speed
    WrongSpeed,         // ignored: not at 128000 baud, a UART would see garbage
    Stalled,            // ignored: the instrument hangs (Fault::Stall)
    StopIgnored,        // '8' while an acquisition is open, ignored (Fault::NeverStops)
};
const char* ByteUseName(ByteUse use);

// A byte the instrument sends, with the time (seconds, the caller's clock) at
// which it leaves.
struct Emission {
    unsigned char byte;
    double time;
};

// The instrument's protocol and signal model, free of any I/O. The caller
// hands in each received byte with the line speed at which it was read and
// the current time, and takes out the bytes that are due.
//
// Protocol: the instrument starts at 38400 baud and only understands the
// speed change '9' there. '9' is taken at any speed (a pseudo-terminal shows
// the speed when the byte is read, and the program switches right after
// writing it); it switches to 128000 and also resets the instrument (ends any
// acquisition and a stall). Every later byte must arrive at 128000 +-2 %, or it
// is ignored. 'P' is answered with 'Q'. Prefix, channel, rate and resolution
// bytes and 'S' configure the next acquisition. '8' opens an acquisition:
// samples of the configured channel stream (1 byte at 8 bits, 2 bytes high
// byte first at 10 bits) until the next '8' closes it. Paced, sample j leaves
// at t0 + (j+1)/rate; unpaced, the stream goes as fast as the line allows. No
// byte leaves sooner than 1/12800 s after the last, so what follows a stop byte
// is bounded by the line as it is on a real one.
class Model {
  public:
    explicit Model(const Options& options);

    ByteUse Receive(unsigned char byte, int speed, double now);
    // Moves the bytes due by `now`, at most `limit`, to *out in order; returns how many.
    std::size_t Take(double now, std::size_t limit, std::vector<Emission>* out);
    // Time at which the next byte is due; a time <= now means at once, +infinity
    // means nothing is scheduled.
    double NextDue() const;
    // The device should vanish now (Fault::HangUpMidBlock reached its sample).
    bool HangUpDue() const { return hangUpDue_; }
    // Takes effect from the next received byte.
    void SetFault(Fault fault) { pendingFault_ = fault; }

    bool AtFastSpeed() const { return fastSpeed_; }
    bool AcquisitionOpen() const { return acquisitionOpen_; }
    bool StallActive() const { return stalled_; }
    int Channel() const { return channel_; }
    int Rate() const { return rate_; }
    int ResolutionIndex() const { return resolution_; }
    long SamplesSent() const { return stream_.sent; }
    // Samples of every acquisition since the last speed change.
    long long SamplesSentInTotal() const { return sentBefore_ + stream_.sent; }

  private:
    struct Stream {
        bool flowing = false;
        bool garbage = false;
        int channel = 0;
        int rate = 0;
        int resolution = 0;
        double t0 = 0.0;
        long sent = 0;        // samples fully handed out
        long limit = -1;      // stop after this many samples, -1 = until the stop byte
        int pendingLow = -1;  // low byte of a 10-bit sample still to send
    };
    enum class LimitAction { Stop, Stall, HangUp };

    void Queue(unsigned char byte, double time);
    void QueueChatter(double now);
    void QueueGarbage(double now);
    void StartStream(double now);
    double StreamByteTime() const;
    unsigned char NextStreamByte();
    void ReachedLimit();

    ChannelSignal channels_[kChannelCount];
    Fault fault_;
    Fault pendingFault_;
    int faultSamples_;
    double replyDelay_;
    bool paced_;
    bool anySpeed_;
    std::mt19937 rng_;
    std::normal_distribution<double> noise_{0.0, 1.0};

    bool fastSpeed_ = false;
    bool acquisitionOpen_ = false;
    bool stalled_ = false;
    bool hangUpDue_ = false;
    int channel_ = 1;
    int rate_ = 1800;
    int resolution_ = 0;
    Stream stream_;
    LimitAction limitAction_ = LimitAction::Stop;
    std::deque<Emission> queue_;  // replies and noise, ordered by time
    double chatterNext_;          // time of the next chatter byte, +infinity when quiet
    double lastSent_ = -1e300;
    long long sentBefore_ = 0;  // samples of the acquisitions before this one
};

// Runs a Model on a pseudo-terminal pair on a thread of its own. The program
// opens SlavePath() (or the symlink made by Link) as its serial device; the
// host reads the speed that the program set on its side for every byte.
class PtyHost {
  public:
    explicit PtyHost(Options options);
    ~PtyHost();  // stops the thread, closes the pty, removes the symlink
    PtyHost(const PtyHost&) = delete;
    PtyHost& operator=(const PtyHost&) = delete;

    // Opens the pty pair and the log, starts the model thread. False with a
    // message on failure.
    bool Start(std::string* error);
    void Stop();
    std::string SlavePath() const;  // e.g. /dev/pts/7: what the program opens
    // Points the symlink linkPath at the slave, replacing an older symlink
    // atomically; refuses to replace anything that is not a symlink.
    bool Link(const std::string& linkPath, std::string* error);
    // The bytes read since the start or the last ClearReceived, in order: the
    // latest kReceivedKept of them, so a long run holds no more.
    std::vector<unsigned char> ReceivedBytes() const;
    std::vector<int> ReceivedSpeeds() const;   // the line speed of each of them
    unsigned long long ReceivedTotal() const;  // every byte read since the start
    void ClearReceived();
    void SetFault(Fault fault);  // takes effect from the next command
    void HangUp();               // closes the master side now (device gone)
    bool HungUp() const;         // by HangUp or by Fault::HangUpMidBlock
    // Samples sent since the last speed change '9', over all acquisitions.
    long long SamplesSent() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace instrument

// The one record shared by the measurement cycle, the connection, the analysis
// and the operator interface, with the selection tables and the instrument's bytes.
#pragma once

#include <string>

class CComPort;
class CComLink;
class CLineSettings;
class Profile;

constexpr int kBufferSize = 9000;   // largest block is 8192 samples
constexpr int kMaxSamples = 8192;

struct SampleRateEntry {
    const char* label;
    int rate;          // samples per second
    char command;      // byte that selects the rate on the instrument
};

// Position in the "Sample Rate:" list -> rate and command byte (list order, not sorted).
inline constexpr SampleRateEntry SampleRateTable[] = {
    {"100s/s", 100, 'A'},   {"200s/s", 200, 'B'},   {"300s/s", 300, 'C'},
    {"500s/s", 500, 'D'},   {"1000s/s", 1000, 'E'}, {"1500s/s", 1500, 'F'},
    {"1800s/s", 1800, 'G'}, {"2000s/s", 2000, 'H'}, {"2500s/s", 2500, 'I'},
    {"3000s/s", 3000, 'J'}, {"4000s/s", 4000, 'K'}, {"5000s/s", 5000, 'L'},
    {"6000s/s", 6000, 'M'},
};
constexpr int kSampleRateCount = 13;

struct SampleCountEntry {
    const char* label;
    int count;  // N, samples per block
};

// Position in the "Number of Samples:" list -> N.
inline constexpr SampleCountEntry SampleCountTable[] = {
    {"128", 128},   {"256", 256},   {"512", 512},   {"1024", 1024},
    {"2048", 2048}, {"4096", 4096}, {"8192", 8192},
};
constexpr int kSampleCountCount = 7;

constexpr int kMinChannel = 0;
constexpr int kMaxChannel = 6;

// Byte sent before the channel byte. Channels 2..6 use 'j'..'n'; channels 0 and 1
// continue that sequence downwards with 'h' and 'i' (the instrument ignores the
// prefix and the following channel byte selects the channel).
constexpr char ChannelPrefixByte(int channel) { return static_cast<char>('h' + channel); }
constexpr char ChannelByte(int channel) { return static_cast<char>('0' + channel); }

constexpr char kResolutionBytes[2] = {'Q', 'R'};  // 8-bit, 10-bit
constexpr char kConfigEndByte = 'S';
constexpr char kStartStopByte = '8';
constexpr char kSpeedChangeByte = '9';
constexpr char kHandshakeRequest = 'P';
constexpr char kHandshakeReply = 'Q';

// Counts to volts (0..5 V), then (v - 2.5) x 2 maps to the -5..+5 V input range.
constexpr double kVoltsPerCount8 = 5.0 / 255.0;
constexpr double kVoltsPerCount10 = 5.0 / 1023.0;
constexpr double ScaleToInput(double volts) { return (volts - 2.5) * 2.0; }

// Profile section and keys, with their defaults.
inline constexpr const char* kProfileSection = "MyOrvanelAp";
inline constexpr const char* kKeySampleRate = "SampleRateSelection";
inline constexpr const char* kKeySampleCount = "NumSampleSelection";
inline constexpr const char* kKeyChannel = "ChannelSelection";
inline constexpr const char* kKeyComPort = "OrvanelComPort";
constexpr int kDefaultSampleRateIndex = 6;  // 1800 s/s
constexpr int kDefaultSampleCountIndex = 0; // 128
constexpr int kDefaultChannel = 1;
constexpr int kDefaultComPort = 3;

constexpr int kMinComPort = 1;
constexpr int kMaxComPort = 16;

struct MeasurementState {
    // Settings, bound to the dialog's controls.
    int sampleRate = 0;
    int sampleCount = 0;
    int channel = 0;
    int resolution = 0;     // 0 = 8-bit, 1 = 10-bit
    int averagingMode = 0;  // 0 = Off, 1 = On, 2 = "10"
    int windowMode = 0;     // 0 = On, 1 = Off
    int thdEnabled = 0;
    int runMode = 0;        // 0 = Stop, 1 = Run
    int comPort = 0;

    // Connection; only ConnectInstrument creates and deletes these.
    int connected = 0;
    int busy = 0;
    CComPort* port = nullptr;
    CComLink* link = nullptr;
    CLineSettings* lineSettings = nullptr;
    // Where the connection remembers a good port number; null remembers nothing.
    Profile* profile = nullptr;

    // Buffers; only the first N (or N/2 + 1) entries are used.
    double samples[kBufferSize] = {};
    double spectrum[kBufferSize] = {};
    double searchSpectrum[kBufferSize] = {};

    // Results of the peak search.
    int fundamentalBin = 0;
    double fundamentalLevel = 0.0;
    int harmonicBins[5] = {};
    double harmonicLevels[5] = {};
    double thdLevels[6] = {};

    // Texts shown in the dialog's read-only fields.
    std::string portStatusText;
    // Why the last connection attempt failed when the port itself did not (the
    // line keeps sending); empty otherwise. The status keeps its fixed text.
    std::string portProblemText;
    std::string fundamentalText;
    std::string amplitudeText;
    std::string thdText;
    std::string cursorText;
    std::string markerText;
};

// The application's instance; tests make their own.
extern MeasurementState measurementState;

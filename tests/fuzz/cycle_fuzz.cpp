// The measurement cycle over a scripted port, fed any byte stream with any
// timing: line noise before the start, a block in pieces, silences, bytes after
// the stop byte, a device that vanishes or a queue count that lies. The clock
// moves only when the cycle sleeps or polls, so long silences cost nothing.
//
// Properties: the cycle ends within a bound of the last scheduled event; every
// message gives a reason; the block handed on is never longer than asked; the
// stop byte follows every start byte; refused settings send no start byte; a
// finished cycle leaves finite levels, bins within 0..N/2 and finite texts, and
// its samples are the block it handed on, zero beyond what arrived.
//
// Input: three bytes of settings, then events of four bytes plus data:
//   kind, delay (2 bytes, ms after the previous event of its phase), length,
//   then `length` bytes when the kind delivers data.
// Kind (low 3 bits): 0..3 deliver the data; 4 starts the next phase (before the
// start byte -> after the start byte -> after the stop byte); 5 the device
// vanishes; 6 the queue count lies for kLieMs (the length byte minus 128);
// 7 line chatter, one byte every `delay` ms (at least 1), 8 x `length` times,
// or for ever with length 0, one byte every 1 + delay % 20 ms (a line that
// never goes quiet: every drain must still end).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "comlink/clock.h"
#include "comlink/link.h"
#include "measurement/measurement.h"
#include "tests/fuzz/check.h"
#include "tests/measurement/fakes.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Beyond the last event, what the cycle may still wait: the reception deadline
// (2 to 3 s of silence) and its drains, with room.
constexpr std::uint64_t kSettleMs = 10000;
// A queue count that promises bytes keeps reception waiting for them; a port
// that lies for ever is not a line the cycle can measure on.
constexpr std::uint64_t kLieMs = 300;
constexpr unsigned char kChatterByte = 0x55;
constexpr int kForever = 1 << 30;  // chatter bytes: more than any cycle may read
constexpr std::uint64_t kEndlessPeriodMs = 20;

// Pause only moves the phase's time on (past a chatter).
enum class Action { Deliver, Vanish, LieCount, TruthCount, Chatter, Pause };

struct Event {
    Action action;
    std::uint64_t delayMs;
    int value;
    Bytes data;
};

struct Script {
    fakes::Controls controls;
    std::vector<Event> phases[3];  // before start, after start, after stop
    bool endless = false;          // a chatter for ever
};

Script ParseScript(const std::uint8_t* data, std::size_t size) {
    Script s;
    s.controls.resolution = data[0] & 3;  // 2 and 3 lie outside the radio buttons
    if (s.controls.resolution == 3) s.controls.resolution = 0;
    s.controls.windowMode = (data[0] >> 2) & 1;
    s.controls.thdEnabled = ((data[0] >> 3) & 1) ? 0 : 1;
    s.controls.averagingMode = ((data[0] >> 4) & 3) % 3;
    s.controls.sampleCountSelection = data[1] & 7;   // 7: no count selected
    s.controls.rateSelection = (data[1] >> 3) & 15;  // 13..15: not in the list
    if (s.controls.rateSelection == 15) s.controls.rateSelection = -1;
    s.controls.channel = data[2] & 7;  // 7: not a channel
    std::size_t at = 3;
    int phase = 0;
    while (at + 4 <= size) {
        const int kind = data[at] & 7;
        const std::uint64_t delay = data[at + 1] | data[at + 2] << 8;
        const int length = data[at + 3];
        at += 4;
        Event e{Action::Deliver, delay, length, {}};
        if (kind <= 3) {
            const std::size_t n =
                std::min<std::size_t>(static_cast<std::size_t>(length), size - at);
            e.data.assign(data + at, data + at + n);
            at += n;
        } else if (kind == 4) {
            phase = std::min(phase + 1, 2);
            continue;
        } else if (kind == 5) {
            e.action = Action::Vanish;
        } else if (kind == 6) {
            e.action = Action::LieCount;
            s.phases[phase].push_back(e);
            e = Event{Action::TruthCount, kLieMs, 0, {}};
        } else {
            // Its bytes come from the clock, one at each period, with no event each.
            e.action = Action::Chatter;
            e.value = length == 0 ? kForever : 8 * length;
            if (length == 0) {
                // Faster than a drain's read: the line that held drains for ever.
                e.delayMs = 1 + delay % kEndlessPeriodMs;
                s.endless = true;
            }
            s.phases[phase].push_back(e);
            const std::uint64_t lasts =
                length == 0 ? 0 : std::max<std::uint64_t>(delay, 1) * e.value;
            e = Event{Action::Pause, lasts, 0, {}};
        }
        s.phases[phase].push_back(std::move(e));
    }
    return s;
}

// The clock, with the script's device faults due at their times and a trap for
// a cycle that never ends.
class ScriptClock : public CClock {
  public:
    ScriptClock() : previous_(SetClock(this)) {}
    ~ScriptClock() override { SetClock(previous_); }

    std::uint32_t TickCount() override { return static_cast<std::uint32_t>(nowMs); }
    void SleepMs(std::uint32_t ms) override { Advance(ms == 0 ? 1 : ms); }
    std::int64_t Seconds() override { return static_cast<std::int64_t>(nowMs / 1000); }

    void Advance(std::uint64_t ms) {
        nowMs += ms;
        FUZZ_CHECK(nowMs <= limitMs, "the cycle did not end");
        while (!faults.empty() && faults.front().first <= nowMs) {
            Apply(faults.front().first, faults.front().second);
            faults.erase(faults.begin());
        }
        for (Chatter& c : chatters) {
            for (; c.left > 0 && c.nextMs <= nowMs; --c.left, c.nextMs += c.periodMs) {
                port->rx.push_back(kChatterByte);
            }
        }
    }
    void Apply(std::uint64_t at, const Event& e) {
        if (e.action == Action::Chatter) {
            const std::uint64_t period = std::max<std::uint64_t>(e.delayMs, 1);
            chatters.push_back({at, period, e.value});
            return;
        }
        if (e.action == Action::Vanish) {
            port->idleResult = CL_ERR_DEVICE;
            port->errorCode = CL_ERR_DEVICE;
        } else if (e.action == Action::LieCount) {
            port->rxCountResult = e.value - 128;
        } else if (e.action == Action::TruthCount) {
            port->rxCountResult.reset();
        }
    }

    std::uint64_t nowMs = 0;
    std::uint64_t limitMs = 0;
    fakes::ScriptedPort* port = nullptr;
    std::vector<std::pair<std::uint64_t, Event>> faults;  // by time
    struct Chatter {
        std::uint64_t nextMs;
        std::uint64_t periodMs;
        int left;
    };
    std::vector<Chatter> chatters;

  private:
    CClock* previous_;
};

// Puts a phase's events on the clock from `start`; returns the time of the last.
std::uint64_t Schedule(const std::vector<Event>& events, std::uint64_t start,
                       fakes::ScriptedPort& port, ScriptClock& clock) {
    std::uint64_t t = start;
    for (const Event& e : events) {
        t += e.delayMs;
        if (e.action == Action::Deliver) {
            port.Deliver(e.data, t);
        } else {
            clock.faults.emplace_back(t, e);
        }
    }
    std::stable_sort(clock.faults.begin(), clock.faults.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    return t;
}

std::uint64_t PhaseLength(const std::vector<Event>& events) {
    std::uint64_t t = 0;
    for (const Event& e : events) t += e.delayMs;
    return t;
}

// The operator interface, lean: RefreshSettings copies the controls as the
// dialog does; nothing is recorded per reception pass, so a long silence is
// cheap to fuzz.
class FuzzUi : public MeasurementUi {
  public:
    FuzzUi(MeasurementState& state, const fakes::Controls& controls)
        : state_(state), controls_(controls) {}
    void RefreshSettings() override {
        const fakes::Controls& c = controls_;
        if (c.rateSelection >= 0 && c.rateSelection < kSampleRateCount) {
            state_.sampleRate = SampleRateTable[c.rateSelection].rate;
        }
        if (c.sampleCountSelection >= 0 && c.sampleCountSelection < kSampleCountCount) {
            state_.sampleCount = SampleCountTable[c.sampleCountSelection].count;
        }
        state_.channel = c.channel;
        state_.resolution = c.resolution;
        state_.averagingMode = c.averagingMode;
        state_.windowMode = c.windowMode;
        state_.thdEnabled = c.thdEnabled;
    }
    void ShowValues() override {}
    void PumpMessages() override {}
    void ResetProgress() override {}
    void SetProgress(int percent) override {
        FUZZ_CHECK(percent >= 0 && percent <= 100, "progress " + std::to_string(percent));
    }
    void MessageBox(const std::string& text) override {
        FUZZ_CHECK(fuzz::IsShowableReason(text), "message without a reason: '" + text + "'");
        ++messages;
    }
    int RateSelection() override { return controls_.rateSelection; }
    void RepaintPlot() override { ++repaints; }
    void BlockReceived(const unsigned char* bytes, int count) override {
        FUZZ_CHECK(count >= 0, "negative block size");
        block.assign(bytes, bytes + count);
        ++blocks;
    }

    std::vector<unsigned char> block;
    int messages = 0;
    int repaints = 0;
    int blocks = 0;

  private:
    MeasurementState& state_;
    const fakes::Controls& controls_;
};

bool SettingsValid(const fakes::Controls& c) {
    return c.rateSelection >= 0 && c.rateSelection < kSampleRateCount &&
           c.sampleCountSelection >= 0 && c.sampleCountSelection < kSampleCountCount &&
           c.channel >= kMinChannel && c.channel <= kMaxChannel;
}

void CheckFinishedCycle(const MeasurementState& s, const Bytes& block, int n, int resolution,
                        bool windowed) {
    const int half = n / 2;
    FUZZ_CHECK(fuzz::AllFinite(s.spectrum, half + 1), "level not finite");
    FUZZ_CHECK(s.fundamentalBin >= 0 && s.fundamentalBin <= half, "fundamental bin");
    for (int p = 0; p < 5; ++p) {
        FUZZ_CHECK(s.harmonicBins[p] >= 0 && s.harmonicBins[p] <= half, "peak bin");
    }
    for (const std::string* t : {&s.fundamentalText, &s.amplitudeText, &s.thdText}) {
        FUZZ_CHECK(fuzz::IsFiniteText(*t), "result text '" + *t + "'");
    }
    if (windowed) return;
    // Decoded from what was handed on, zero beyond it: nothing of an earlier
    // block or of bytes past the block.
    Bytes padded = block;
    padded.resize(static_cast<std::size_t>((resolution + 1) * n), 0);
    for (int j = 0; j < n; ++j) {
        const int raw = resolution ? padded[2 * j] * 256 + padded[2 * j + 1] : padded[j];
        const double volts = ScaleToInput(raw * (resolution ? kVoltsPerCount10 : kVoltsPerCount8));
        FUZZ_CHECK(s.samples[j] == volts, "sample " + std::to_string(j) + " not from the block");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const Script script = ParseScript(data, size);

    ResetAnalysisState();
    ScriptClock clock;
    static auto state = std::make_unique<MeasurementState>();
    MeasurementState& s = *state;
    s = MeasurementState{};
    auto* port = new fakes::ScriptedPort;
    s.port = port;
    s.link = new CComLink(port);
    clock.port = port;
    FuzzUi ui(s, script.controls);

    // Every phase may run up to its end, the stream phases from the start and
    // stop bytes, which come once the earlier phase's bytes have drained.
    std::uint64_t bound = 0;
    for (const auto& phase : script.phases) bound += PhaseLength(phase) + kSettleMs;
    // Reception takes chatter as block bytes until the block is full.
    if (script.endless) bound += 3 * kMaxSamples * kEndlessPeriodMs;
    clock.limitMs = bound;
    Schedule(script.phases[0], 0, *port, clock);
    int startStop = 0;
    port->onWrite = [&](unsigned char c) {
        if (c != static_cast<unsigned char>(kStartStopByte)) return;
        ++startStop;
        if (startStop == 1) Schedule(script.phases[1], clock.nowMs, *port, clock);
        if (startStop == 2) Schedule(script.phases[2], clock.nowMs, *port, clock);
    };

    SingleConvert(s, ui);

    const int written8 =
        static_cast<int>(std::count(port->written.begin(), port->written.end(), kStartStopByte));
    FUZZ_CHECK(written8 == 0 || written8 == 2, "start byte without its stop byte");
    if (!SettingsValid(script.controls)) {
        FUZZ_CHECK(written8 == 0, "refused settings started an acquisition");
        FUZZ_CHECK(ui.messages > 0, "settings refused without a message");
    }
    const int n = SampleCountTable[std::min(script.controls.sampleCountSelection, 6)].count;
    const int resolution = script.controls.resolution;
    FUZZ_CHECK(ui.blocks <= 1, "more than one block handed on");
    const bool handedOn = ui.blocks == 1;
    if (handedOn) {
        FUZZ_CHECK(written8 == 2, "a block without the stop byte");
        FUZZ_CHECK(static_cast<int>(ui.block.size()) <= (resolution + 1) * n,
                   "block longer than asked: " + std::to_string(ui.block.size()));
    }
    if (ui.repaints > 0 && resolution <= 1) {
        FUZZ_CHECK(handedOn, "results without a block");
        CheckFinishedCycle(s, ui.block, n, resolution, script.controls.windowMode == 0);
    }

    ReleaseConnection(s);
    return 0;
}

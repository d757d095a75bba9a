// Test doubles for code that drives the measurement subsystem: a recording
// operator interface, an in-memory profile, a clock that only moves when told,
// and a scripted serial port that plays an instrument.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "comlink/clock.h"
#include "comlink/port.h"
#include "measurement/measurement.h"

namespace fakes {

// What the dialog's controls hold; RefreshSettings copies it into the state,
// as the dialog's data exchange does. Tests change it to play the operator.
struct Controls {
    int rateSelection = kDefaultSampleRateIndex;
    int sampleCountSelection = kDefaultSampleCountIndex;
    int channel = kDefaultChannel;
    int resolution = 0;
    int averagingMode = 0;
    int windowMode = 0;
    int thdEnabled = 1;
};

// Records what the measurement code asks of the dialog. PumpMessages runs the
// onPump hook, so a test can run a "nested handler" in the middle of a cycle.
class RecordingUi : public MeasurementUi {
  public:
    explicit RecordingUi(MeasurementState& state) : state_(state) {}

    // Selects positions in the rate and count lists; RefreshSettings takes them over.
    void Select(int rateSelection, int sampleCountSelection) {
        controls.rateSelection = rateSelection;
        controls.sampleCountSelection = sampleCountSelection;
    }

    void RefreshSettings() override {
        ++refreshCount;
        const Controls& c = controls;
        // A list without a selection leaves its value as it was.
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
        calls.push_back("RefreshSettings");
    }
    void ShowValues() override {
        shownStatus.push_back(state_.portStatusText);
        calls.push_back("ShowValues");
    }
    void PumpMessages() override {
        ++pumpCount;
        if (onPump) onPump(pumpCount);
    }
    void ResetProgress() override {
        progress.clear();
        calls.push_back("ResetProgress");
    }
    void SetProgress(int percent) override { progress.push_back(percent); }
    void MessageBox(const std::string& text) override {
        messages.push_back(text);
        calls.push_back("MessageBox");
        if (onMessage) onMessage(text);
    }
    int RateSelection() override { return controls.rateSelection; }
    void RepaintPlot() override {
        ++repaintCount;
        calls.push_back("RepaintPlot");
    }
    void BlockReceived(const unsigned char* bytes, int count) override {
        block.assign(bytes, bytes + count);
        calls.push_back("BlockReceived");
    }

    Controls controls;
    std::function<void(int pumpCount)> onPump;
    std::function<void(const std::string& text)> onMessage;

    std::vector<std::string> calls;        // every operation but PumpMessages and SetProgress
    std::vector<std::string> messages;     // texts of the message boxes, in order
    std::vector<std::string> shownStatus;  // portStatusText at each ShowValues
    std::vector<int> progress;             // positions since the last ResetProgress
    std::vector<unsigned char> block;      // the last block handed to BlockReceived
    int pumpCount = 0;
    int refreshCount = 0;
    int repaintCount = 0;

  private:
    MeasurementState& state_;
};

// Integers and strings in named sections, kept in memory; writes are logged.
class MemoryProfile : public Profile {
  public:
    int ReadInt(const std::string& section, const std::string& key, int defaultValue) override {
        auto it = ints.find({section, key});
        return it == ints.end() ? defaultValue : it->second;
    }
    void WriteInt(const std::string& section, const std::string& key, int value) override {
        ints[{section, key}] = value;
        writes.push_back(section + "/" + key + "=" + std::to_string(value));
    }
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) override {
        auto it = strings.find({section, key});
        return it == strings.end() ? defaultValue : it->second;
    }

    std::map<std::pair<std::string, std::string>, int> ints;
    std::map<std::pair<std::string, std::string>, std::string> strings;
    std::vector<std::string> writes;
};

// A clock that moves only when slept on or advanced. While installed it is the
// library's clock; the previous one comes back when it is destroyed.
class FakeClock : public CClock {
  public:
    FakeClock() : previous_(SetClock(this)) {}
    ~FakeClock() override { SetClock(previous_); }
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    std::uint32_t TickCount() override { return static_cast<std::uint32_t>(nowMs); }
    void SleepMs(std::uint32_t ms) override {
        sleptMs += ms;
        Advance(ms == 0 ? 1 : ms);
    }
    std::int64_t Seconds() override { return static_cast<std::int64_t>(nowMs / 1000); }
    void Advance(std::uint64_t ms) { nowMs += ms; }

    std::uint64_t nowMs = 0;
    std::uint64_t sleptMs = 0;

  private:
    CClock* previous_;
};

// A serial port that plays a scripted instrument. Bytes written go to
// `written` and to onWrite; bytes the test queues with Deliver (at once or at
// a time of the clock) come back through Read. Idle lets one millisecond of
// the clock pass, so timed reads end under a FakeClock too. Failures are
// injected by setting the *Result fields.
class ScriptedPort : public CComPort {
  public:
    ScriptedPort() = default;
    ~ScriptedPort() override {
        if (onDestroy) onDestroy();
    }

    // Queues bytes to arrive at once, or when the clock in use reaches atMs.
    void Deliver(const std::vector<unsigned char>& bytes, std::uint64_t atMs = 0) {
        scheduled.push_back({atMs, bytes});
    }
    // Drops what was scheduled and has not arrived yet (the instrument stopped).
    void CancelScheduled() { scheduled.clear(); }

    int Idle() override {
        if (idleResult < 0) return idleResult;
        ClockSleepMs(1);
        return 0;
    }
    void Poll() override {}
    void Init(int index) override { portIndex = index; }
    int Open() override { return 0; }
    int Close() override { return 0; }
    void GetQueueStatus(PortQueueStatus& status, int) override {
        Release();
        status = {};
        status.rxValid = 1;
        status.rxCount = rxCountResult.has_value() ? *rxCountResult : static_cast<int>(rx.size());
        status.rxSize = rxSize;
        status.txValid = 1;
        status.txSize = 2048;
    }
    int SetQueues(int rxQueue, int xoffLimit, int txQueue) override {
        queueCalls.push_back({rxQueue, xoffLimit, txQueue});
        if (rxQueue != 0) rxSize = rxQueue;
        rx.clear();
        return 0;
    }
    int SetHandshake(int, int) override { return 0; }
    int GetHandshake(int& type, int& kind) override {
        type = 0;
        kind = 0;
        return 0;
    }
    int Break(int) override { return 0; }
    int Line(int, int) override { return 0; }
    int SetLineParams(int baud, char parity, int dataBits, int stopBits) override {
        if (baud == refuseBaud) {
            errorCode = CL_ERR_BAUD;
            return CL_ERR_BAUD;
        }
        lineBaud = baud;
        lineParity = parity;
        lineDataBits = dataBits;
        lineStopBits = stopBits;
        bauds.push_back(baud);
        return 0;
    }
    void GetLineParams(int& baud, char& parity, int& dataBits, int& stopBits) override {
        baud = lineBaud;
        parity = lineParity;
        dataBits = lineDataBits;
        stopBits = lineStopBits;
    }
    int GetLineStatus(LineStatusBits& bits) override {
        bits = {};
        return 0;
    }
    int WriteChar(unsigned char c) override { return Write(&c, 1) == 1 ? 0 : CL_ERR_TXSHORT; }
    int WriteString(const char* text) override {
        return static_cast<int>(
            Write(text, static_cast<unsigned>(std::char_traits<char>::length(text))));
    }
    unsigned Write(const void* buffer, unsigned count) override {
        const auto* bytes = static_cast<const unsigned char*>(buffer);
        for (unsigned i = 0; i < count; ++i) {
            written.push_back(bytes[i]);
            writtenAtBaud.push_back(lineBaud);
            if (onWrite) onWrite(bytes[i]);
        }
        return count;
    }
    int TransmitChar(unsigned char c) override { return WriteChar(c); }
    int ReadChar() override {
        Release();
        if (rx.empty()) return CL_ERR_NODATA;
        const int c = rx.front();
        rx.pop_front();
        return c;
    }
    unsigned Read(void* buffer, unsigned count) override {
        Release();
        ++readCalls;
        auto* bytes = static_cast<unsigned char*>(buffer);
        unsigned n = 0;
        while (n < count && !rx.empty()) {
            bytes[n++] = rx.front();
            rx.pop_front();
        }
        return n;
    }
    int Purge(int, int) override {
        rx.clear();
        return 0;
    }
    void Dump(const DumpOutput&) override {}

    std::deque<unsigned char> rx;
    std::vector<unsigned char> written;
    std::vector<int> writtenAtBaud;            // line speed when each byte was written
    std::vector<int> bauds;                    // every speed applied, in order
    std::vector<std::vector<int>> queueCalls;  // SetQueues arguments
    std::function<void(unsigned char)> onWrite;
    std::function<void()> onDestroy;
    int readCalls = 0;
    int rxSize = 4096;

    int lineBaud = 19200;
    char lineParity = 'N';
    int lineDataBits = 8;
    int lineStopBits = 1;

    int refuseBaud = 0;                // SetLineParams fails for this speed
    int idleResult = 0;                // negative: the device is gone
    std::optional<int> rxCountResult;  // reported instead of the queue's count

  private:
    // Moves what is due by now into the receive queue, oldest first.
    void Release() {
        const std::uint64_t now = ClockTickMs();
        while (!scheduled.empty() && scheduled.front().first <= now) {
            rx.insert(rx.end(), scheduled.front().second.begin(), scheduled.front().second.end());
            scheduled.pop_front();
        }
    }

    std::deque<std::pair<std::uint64_t, std::vector<unsigned char>>> scheduled;
};

}  // namespace fakes

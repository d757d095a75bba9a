// The measurement subsystem: the cycle that takes one block from the instrument
// and analyses it, and the connection that finds the instrument on a COM port.
#pragma once

#include <string>
#include <vector>

#include "measurement/state.h"

// What the measurement code asks of the operator interface (the dialog, the
// console tool, or a recording fake in tests).
class MeasurementUi {
  public:
    virtual ~MeasurementUi() = default;
    // Copy every bound control into its MeasurementState field.
    virtual void RefreshSettings() = 0;
    // Copy the bound MeasurementState fields into the controls and repaint at once.
    virtual void ShowValues() = 0;
    // Dispatch at most one waiting message, without waiting; handlers may run nested.
    virtual void PumpMessages() = 0;
    virtual void ResetProgress() = 0;  // range 0..100, position 0
    virtual void SetProgress(int percent) = 0;
    virtual void MessageBox(const std::string& text) = 0;  // modal, one OK button
    virtual int RateSelection() = 0;                       // index of the rate list's selection
    virtual void RepaintPlot() = 0;                        // invalidate the plot rectangle
    // The cycle's received block, (resolution + 1) x N bytes as they came, once
    // reception is complete; for tools that keep it. Does nothing by default.
    virtual void BlockReceived(const unsigned char* /*block*/, int /*count*/) {}
};

// Integer settings (and the COM device map's paths) in named sections.
class Profile {
  public:
    virtual ~Profile() = default;
    virtual int ReadInt(const std::string& section, const std::string& key, int defaultValue) = 0;
    virtual void WriteInt(const std::string& section, const std::string& key, int value) = 0;
    virtual std::string ReadString(const std::string& section, const std::string& key,
                                   const std::string& defaultValue) = 0;
    // Stores value as text; a value with a line end or control byte is refused.
    // Does nothing by default (a profile that keeps integers only).
    virtual void WriteString(const std::string& /*section*/, const std::string& /*key*/,
                             const std::string& /*value*/) {}
    // Removes the key; nothing happens when it is missing.
    virtual void RemoveKey(const std::string& /*section*/, const std::string& /*key*/) {}
    // The keys of the section in file order, each once; none by default.
    virtual std::vector<std::string> Keys(const std::string& /*section*/) { return {}; }
};

// One measurement: configure, start, receive one block, stop, decode, analyse,
// format the three result texts and repaint. Needs state.link; failures are
// shown through ui.MessageBox. A timeout, a lost device ("Instrument
// connection lost.") or a line that does not go quiet in a drain ("The
// instrument keeps sending; check the line.") ends the cycle and leaves the
// previous results in place; a lost device also clears state.connected and
// shows "COMn:Error" first;
// "Array overflow error." and "Bits error" are shown and the cycle goes on. A
// rate selection, sample count or channel outside the tables is refused before
// any byte is sent.
void SingleConvert(MeasurementState& state, MeasurementUi& ui);

// Counts of the received block to volts 0..5 in state.samples[0..n-1], at the
// resolution state.resolution holds (10-bit: high byte first, not masked).
// The block must hold (resolution + 1) x n bytes.
void DecodeBlock(MeasurementState& state, const unsigned char* block, int n);

// The three result texts from the peak search's results: "%d Hz", "%.1f dBm",
// and "%.3f %%" of ComputeThd when thdEnabled is 1 (otherwise thdText stays).
// Needs a sampleCount of at least 2.
void FormatResultTexts(MeasurementState& state);

// Tears down the current connection, opens COMn, switches the instrument to
// 128000 baud and checks its reply. The outcome is state.portStatusText and
// state.connected; a good handshake writes n to state.profile (when set). A
// number outside 1..16 creates no port and shows "COM%d:Error". A line that does
// not go quiet when drained shows "COM%d:Error" too, with the reason in
// state.portProblemText.
void ConnectInstrument(MeasurementState& state, MeasurementUi& ui, int comPort);

// At exit: restores the saved line settings and releases the connection objects
// in the teardown order. Safe to call with nothing connected.
void ReleaseConnection(MeasurementState& state);

// The console's side of the measurement code: settings come from the command
// line, messages go to standard error, and a progress bar is drawn there when
// it is a terminal.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/args.h"
#include "measurement/measurement.h"

class CConsoleUi : public MeasurementUi {
  public:
    CConsoleUi(MeasurementState& state, const CliOptions& options, std::ostream& err,
               bool progressBar);

    void RefreshSettings() override;
    void ShowValues() override {}
    // Where the cycle lets other work run: a stop asked for while the block
    // streams sends the stop byte, drains (bounded) and releases the connection,
    // so the cycle ends at once as on a lost link.
    void PumpMessages() override;
    void ResetProgress() override;
    void SetProgress(int percent) override;
    void MessageBox(const std::string& text) override;
    int RateSelection() override { return options.rateIndex; }
    void RepaintPlot() override { ++repaints; }
    void BlockReceived(const unsigned char* block, int count) override;

    // Removes the progress bar from the terminal line.
    void EndProgress();
    // Before each cycle: nothing streams yet.
    void BeginCycle() {
        streaming = false;
        stopped = false;
    }
    // True when PumpMessages ended the cycle's block on a stop request.
    bool Stopped() const { return stopped; }
    // A stream stops itself on a request (stop byte, drain, outputs); its
    // PumpMessages must then leave the connection alone.
    void LeaveStopsToCaller() { stopsCycle = false; }

    std::vector<std::string> messages;  // every message box, in order
    std::vector<unsigned char> lastBlock;
    int repaints = 0;  // a cycle that completed repaints once

  private:
    MeasurementState& state;
    const CliOptions& options;
    std::ostream& err;
    bool progressBar;
    int shown = -1;  // percentage on the bar, -1 = no bar drawn
    // From the reset of the progress (just before the start byte) until the bar
    // is full or a message ends the cycle: the instrument is sending the block.
    bool streaming = false;
    bool stopsCycle = true;
    bool stopped = false;
};

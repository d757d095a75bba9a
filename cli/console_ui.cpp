#include "cli/console_ui.h"

#include "cli/interrupt.h"
#include "comlink/link.h"
#include "measurement/drain.h"

CConsoleUi::CConsoleUi(MeasurementState& state, const CliOptions& options, std::ostream& err,
                       bool progressBar)
    : state(state), options(options), err(err), progressBar(progressBar) {}

void CConsoleUi::RefreshSettings() {
    state.sampleRate = SampleRateTable[options.rateIndex].rate;
    state.sampleCount = SampleCountTable[options.countIndex].count;
    state.channel = options.channel;
    state.resolution = options.resolution;
    state.averagingMode = options.averagingMode;
    state.windowMode = options.windowMode;
    state.thdEnabled = 1;
}

void CConsoleUi::PumpMessages() {
    if (!stopsCycle || !streaming || state.link == nullptr || !InterruptRequested()) return;
    streaming = false;
    stopped = true;
    const unsigned char stop = static_cast<unsigned char>(kStartStopByte);
    state.link->Write(&stop, 1);
    DrainSettings settings;
    DrainLink(state, settings);
    ReleaseConnection(state);
}

void CConsoleUi::ResetProgress() {
    SetProgress(0);
    streaming = true;
}

void CConsoleUi::SetProgress(int percent) {
    percent = percent < 0 ? 0 : percent > 100 ? 100 : percent;
    if (percent == 100) streaming = false;
    if (!progressBar || percent == shown) return;
    shown = percent;
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    err << "\r[" << std::string(filled, '#') << std::string(kWidth - filled, ' ') << "] " << percent
        << "%" << std::flush;
}

void CConsoleUi::EndProgress() {
    if (shown < 0) return;
    err << "\r" << std::string(48, ' ') << "\r" << std::flush;
    shown = -1;
}

void CConsoleUi::MessageBox(const std::string& text) {
    streaming = false;  // a timeout, a lost link or a refusal ends the block
    messages.push_back(text);
    // The link was released here on purpose: it is not lost.
    if (stopped) return;
    EndProgress();
    err << "pelkor-measure: " << text << "\n";
}

void CConsoleUi::BlockReceived(const unsigned char* block, int count) {
    lastBlock.assign(block, block + count);
}

// The bounded drain.
#include "measurement/drain.h"

#include <cstdint>

#include "comlink/clock.h"
#include "comlink/link.h"

DrainResult DrainLink(MeasurementState& state, const DrainSettings& settings) {
    DrainResult result;
    const std::uint32_t start = ClockTickMs();
    unsigned char scratch[2];  // a read stores a 0 after its byte
    for (;;) {
        if (result.bytes >= settings.limitBytes ||
            TicksSince(start) >= static_cast<std::uint32_t>(settings.limitMs)) {
            result.end = DrainEnd::KeepsSending;
            return result;
        }
        if (settings.pauseMs > 0) ClockSleepMs(static_cast<std::uint32_t>(settings.pauseMs));
        if (settings.pump != nullptr) settings.pump->PumpMessages();
        const int r = state.link != nullptr ? state.link->Read(scratch, 1, settings.readTimeoutMs)
                                            : CL_ERR_DEVICE;
        if (r == 0) {
            result.end = DrainEnd::Quiet;
            return result;
        }
        if (r < 0) {
            result.end = DrainEnd::Lost;
            return result;
        }
        result.bytes += r;
    }
}

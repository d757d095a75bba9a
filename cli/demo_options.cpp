#include "cli/demo_options.h"

bool DemoOptions(const CliOptions& o, instrument::Options* io, std::string* error) {
    bool replaced[instrument::kChannelCount] = {};
    for (const std::string& component : o.signals) {
        int channel = 0;
        instrument::ChannelSignal probe;
        if (!instrument::ParseSignal(component, &channel, &probe, error)) {
            *error = "--signal " + component + ": " + *error;
            return false;
        }
        // The first component given for a channel replaces its demo signal.
        if (!replaced[channel]) io->channels[channel] = instrument::ChannelSignal{};
        replaced[channel] = true;
        instrument::ParseSignal(component, &channel, &io->channels[channel], error);
    }
    if (!o.fault.empty()) {
        bool ok = false;
        io->fault = instrument::ParseFault(o.fault, &ok);
        if (!ok) {
            *error = "--fault '" + o.fault +
                     "': allowed: none, silent-after-start, short-block, extra-bytes, "
                     "garbage, no-reply, late-reply, double-reply, wrong-reply, "
                     "hang-up-mid-block, stall, chatter, never-stops";
            return false;
        }
    }
    return true;
}

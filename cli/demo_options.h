// The stand-in instrument of --demo as the command line sets it up.
#pragma once

#include <string>

#include "cli/args.h"
#include "instrument/instrument.h"

// Applies --signal (the first component given for a channel replaces its demo
// signal) and --fault to io. false with a message naming the value otherwise.
bool DemoOptions(const CliOptions& o, instrument::Options* io, std::string* error);

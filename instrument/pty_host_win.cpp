// Windows has no pseudo-terminals, so the stand-in instrument cannot be hosted
// there: Start says so, and the host holds nothing.
#include "instrument/instrument.h"

namespace instrument {

struct PtyHost::Impl {};

PtyHost::PtyHost(Options) {}
PtyHost::~PtyHost() = default;

bool PtyHost::Start(std::string* error) {
    if (error != nullptr) {
        *error =
            "the stand-in instrument needs a pseudo-terminal, which Windows does not have; run "
            "pelkor-instrument on Linux, or connect the instrument and give --port COMn";
    }
    return false;
}

void PtyHost::Stop() {}
std::string PtyHost::SlavePath() const {
    return {};
}
bool PtyHost::Link(const std::string&, std::string* error) {
    return Start(error);
}
std::vector<unsigned char> PtyHost::ReceivedBytes() const {
    return {};
}
std::vector<int> PtyHost::ReceivedSpeeds() const {
    return {};
}
unsigned long long PtyHost::ReceivedTotal() const {
    return 0;
}
void PtyHost::ClearReceived() {}
void PtyHost::SetFault(Fault) {}
void PtyHost::HangUp() {}
bool PtyHost::HungUp() const {
    return false;
}

}  // namespace instrument

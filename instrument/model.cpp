// The instrument's protocol state machine and its sample stream.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "instrument/instrument.h"
#include "measurement/state.h"

namespace instrument {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kByteTime = 1.0 / kLineBytesPerSecond;

bool AtSpeed(int speed, int wanted) {
    return std::abs(speed - wanted) <= wanted * kSpeedTolerance;
}

}  // namespace

const char* ByteUseName(ByteUse use) {
    switch (use) {
        case ByteUse::SpeedChange:
            return "speed change";
        case ByteUse::Handshake:
            return "handshake request";
        case ByteUse::Channel:
            return "channel";
        case ByteUse::Rate:
            return "rate";
        case ByteUse::Resolution:
            return "resolution";
        case ByteUse::ConfigEnd:
            return "end of configuration";
        case ByteUse::Start:
            return "start";
        case ByteUse::Stop:
            return "stop";
        case ByteUse::Prefix:
            return "prefix";
        case ByteUse::BeforeSpeedChange:
            return "ignored: before the speed change";
        case ByteUse::WrongSpeed:
            return "ignored: wrong line speed";
        case ByteUse::Stalled:
            return "ignored: stalled";
        case ByteUse::StopIgnored:
            return "ignored: never stops";
    }
    return "unknown";
}

Model::Model(const Options& options)
    : fault_(options.fault),
      pendingFault_(options.fault),
      faultSamples_(std::max(0, options.faultSamples)),
      replyDelay_(std::max(0, options.replyDelayMs) / 1000.0),
      paced_(options.paced),
      anySpeed_(options.anySpeed),
      rng_(options.seed),
      chatterNext_(kInfinity) {
    std::copy(std::begin(options.channels), std::end(options.channels), channels_);
}

ByteUse Model::Receive(unsigned char byte, int speed, double now) {
    fault_ = pendingFault_;
    // The noise is the line's, not the instrument's: neither a reset nor a
    // stall stops it.
    if (fault_ != Fault::Chatter) {
        chatterNext_ = kInfinity;
    } else if (chatterNext_ == kInfinity) {
        chatterNext_ = now + kChatterInterval;
    }
    if (byte == kSpeedChangeByte) {
        // Also a reset, so a program that reconnects finds the instrument idle.
        fastSpeed_ = true;
        acquisitionOpen_ = false;
        stalled_ = false;
        stream_ = Stream{};
        sentBefore_ = 0;
        if (fault_ == Fault::Garbage) QueueGarbage(now);
        return ByteUse::SpeedChange;
    }
    if (!fastSpeed_) return ByteUse::BeforeSpeedChange;
    if (!anySpeed_ && !AtSpeed(speed, kFastSpeed)) return ByteUse::WrongSpeed;
    if (stalled_) return ByteUse::Stalled;

    if (byte == kHandshakeRequest) {
        switch (fault_) {
            case Fault::NoReply:
                break;
            case Fault::LateReply:
                Queue(kHandshakeReply, now + kLateReplyDelay);
                break;
            case Fault::DoubleReply:
                Queue(kHandshakeReply, now);
                Queue(kHandshakeReply, now);
                break;
            case Fault::WrongReply:
                Queue('R', now);
                break;
            default:
                Queue(kHandshakeReply, now + replyDelay_);
                break;
        }
        return ByteUse::Handshake;
    }
    if (byte >= ChannelByte(kMinChannel) && byte <= ChannelByte(kMaxChannel)) {
        channel_ = byte - ChannelByte(kMinChannel);
        return ByteUse::Channel;
    }
    if (byte >= SampleRateTable[0].command &&
        byte <= SampleRateTable[kSampleRateCount - 1].command) {
        rate_ = SampleRateTable[byte - SampleRateTable[0].command].rate;
        return ByteUse::Rate;
    }
    if (byte == kResolutionBytes[0] || byte == kResolutionBytes[1]) {
        resolution_ = byte == kResolutionBytes[0] ? 0 : 1;
        return ByteUse::Resolution;
    }
    if (byte == kConfigEndByte) {
        if (fault_ == Fault::Garbage) QueueGarbage(now);
        return ByteUse::ConfigEnd;
    }
    if (byte == kStartStopByte) {
        if (!acquisitionOpen_) {
            acquisitionOpen_ = true;
            StartStream(now);
            return ByteUse::Start;
        }
        if (fault_ == Fault::NeverStops) return ByteUse::StopIgnored;
        // The second '8' closes the acquisition even when the stream already
        // ended by itself, so it never starts a stream nobody asked for.
        acquisitionOpen_ = false;
        if (stream_.flowing) {
            if (fault_ == Fault::ExtraBytes) {
                stream_.limit = stream_.sent + faultSamples_;
                limitAction_ = LimitAction::Stop;
                if (stream_.pendingLow >= 0) ++stream_.limit;
                // No extra samples: the limit is checked only after a byte.
                if (stream_.sent >= stream_.limit) stream_.flowing = false;
            } else if (stream_.pendingLow >= 0) {
                stream_.limit = stream_.sent + 1;  // finish the sample on the wire
                limitAction_ = LimitAction::Stop;
            } else {
                stream_.flowing = false;
            }
        }
        return ByteUse::Stop;
    }
    return ByteUse::Prefix;
}

void Model::Queue(unsigned char byte, double time) {
    auto at = std::upper_bound(queue_.begin(), queue_.end(), time,
                               [](double t, const Emission& e) { return t < e.time; });
    queue_.insert(at, Emission{byte, time});
}

// Every chatter byte due by now joins the queue at its own time.
void Model::QueueChatter(double now) {
    while (chatterNext_ <= now) {
        Queue(static_cast<unsigned char>(rng_()), chatterNext_);
        chatterNext_ += kChatterInterval;
    }
}

void Model::QueueGarbage(double now) {
    for (int i = 0; i < kGarbageBurst; ++i) Queue(static_cast<unsigned char>(rng_()), now);
}

void Model::StartStream(double now) {
    sentBefore_ += stream_.sent;
    stream_ = Stream{};
    stream_.channel = channel_;
    stream_.rate = rate_;
    stream_.resolution = resolution_;
    stream_.t0 = now;
    stream_.flowing = fault_ != Fault::SilentAfterStart;
    stream_.garbage = fault_ == Fault::Garbage;
    switch (fault_) {
        case Fault::ShortBlock:
            limitAction_ = LimitAction::Stop;
            break;
        case Fault::Stall:
            limitAction_ = LimitAction::Stall;
            break;
        case Fault::HangUpMidBlock:
            limitAction_ = LimitAction::HangUp;
            break;
        default:
            return;
    }
    stream_.limit = faultSamples_;
    if (stream_.limit == 0) ReachedLimit();
}

void Model::ReachedLimit() {
    stream_.flowing = false;
    if (limitAction_ == LimitAction::Stall) stalled_ = true;
    if (limitAction_ == LimitAction::HangUp) hangUpDue_ = true;
}

double Model::StreamByteTime() const {
    // Both bytes of a 10-bit sample are due together; the line spacing in Take
    // puts the low byte one byte time later.
    return stream_.t0 + static_cast<double>(stream_.sent + 1) / stream_.rate;
}

unsigned char Model::NextStreamByte() {
    Stream& s = stream_;
    unsigned char byte = 0;
    if (s.pendingLow >= 0) {
        byte = static_cast<unsigned char>(s.pendingLow);
        s.pendingLow = -1;
        ++s.sent;
    } else {
        int counts = 0;
        if (s.garbage) {
            counts = static_cast<int>(rng_() & (s.resolution == 0 ? 0xFFu : 0xFFFFu));
        } else {
            const ChannelSignal& signal = channels_[s.channel];
            if (signal.counting) {
                counts = static_cast<int>(s.sent % (s.resolution == 0 ? 256 : 1024));
            } else {
                double v = SignalValue(signal, s.t0 + static_cast<double>(s.sent) / s.rate);
                if (signal.noiseRms > 0.0) v += signal.noiseRms * noise_(rng_);
                counts = Quantise(v, s.resolution);
            }
        }
        if (s.resolution == 0) {
            byte = static_cast<unsigned char>(counts);
            ++s.sent;
        } else {
            byte = static_cast<unsigned char>(counts >> 8);
            s.pendingLow = counts & 0xFF;
        }
    }
    if (s.pendingLow < 0 && s.limit >= 0 && s.sent >= s.limit) ReachedLimit();
    return byte;
}

std::size_t Model::Take(double now, std::size_t limit, std::vector<Emission>* out) {
    QueueChatter(now);
    std::size_t taken = 0;
    while (taken < limit) {
        const double tq = queue_.empty() ? kInfinity : queue_.front().time;
        // Unpaced, the stream is due from its start, so the line spacing below
        // sets its speed.
        const double ts = !stream_.flowing ? kInfinity : paced_ ? StreamByteTime() : stream_.t0;
        if (tq == kInfinity && ts == kInfinity) break;
        const bool fromQueue = tq <= ts;
        double t = fromQueue ? tq : ts;
        // Paced or not, no line carries more than its speed allows.
        t = std::max(t, lastSent_ + kByteTime);
        if (t > now) break;
        unsigned char byte = 0;
        if (fromQueue) {
            byte = queue_.front().byte;
            queue_.pop_front();
        } else {
            byte = NextStreamByte();
        }
        out->push_back(Emission{byte, t});
        lastSent_ = t;
        ++taken;
    }
    return taken;
}

double Model::NextDue() const {
    double t = std::min(chatterNext_, queue_.empty() ? kInfinity : queue_.front().time);
    if (stream_.flowing) t = std::min(t, paced_ ? StreamByteTime() : stream_.t0);
    if (t != kInfinity) t = std::max(t, lastSent_ + kByteTime);
    return t;
}

}  // namespace instrument

// Recorded streams: the raw format of saved blocks, with one header for the
// whole stream (settings, overlap and start time) and then every sample as the
// instrument sent it. The header has a fixed length, so the recorder can write
// it first, flagged incomplete, and put in the final count when it finishes: a
// file is either whole or says that it is not.
//
//   pelkor-raw 1 stream=1 rate=6000 samples=8192 channel=1 bits=10 window=on
//   average=off overlap=75 start=2026-12-11T13:10:24.123Z complete=1 end=stopped
//   bytes=123456                      (one line, padded with spaces, then '\n')
#pragma once

#include <cstdio>
#include <string>

#include "measurement/growing_file.h"
#include "measurement/stream.h"

// Length of the header line, its '\n' included.
constexpr int kStreamHeaderLength = 256;

struct StreamFileHeader {
    StreamFormat
        format;  // rateSelection, sampleRate, sampleCount, resolution, channel, overlap, hop
    int windowMode = 0;
    int averagingMode = 0;
    std::string start;  // UTC, "2026-12-11T13:10:24.123Z"
    bool complete = false;
    std::string end = "open";  // how the stream ended: stopped, timeout, lost, ...
    long long bytes = 0;       // sample bytes after the header (when complete)
};

// "stopped", "timeout", "lost", ... for the header's end field.
const char* StreamEndName(StreamEnd end);

// The header line, padded to kStreamHeaderLength.
std::string FormatStreamHeader(const StreamFileHeader& header);

// True when data starts like a recorded stream's header.
bool IsStreamHeader(const std::string& data);

// Parses one header line (without its '\n'). False with *why naming the bad
// field and what is allowed.
bool ParseStreamHeader(const std::string& line, StreamFileHeader* header, std::string* why);

// The current time as the header writes it.
std::string StreamStartTime();

// Writes a stream to a file as it arrives: the samples go to a temporary file
// beside the target behind a header flagged incomplete; Finish puts in the
// final header, syncs and renames it over the target. A write that fails stops
// the recording (Failed() with the reason), and Finish then still puts the
// samples written so far in place, flagged incomplete. Memory stays fixed.
class CStreamRecorder : public StreamListener {
  public:
    CStreamRecorder() = default;
    // An unfinished recording (Finish was not called) goes: its temporary is removed.
    ~CStreamRecorder() override = default;
    CStreamRecorder(const CStreamRecorder&) = delete;
    CStreamRecorder& operator=(const CStreamRecorder&) = delete;

    // Creates the temporary file and writes the header. False with *error
    // naming the path and the system's reason.
    bool Open(const std::string& path, const StreamFileHeader& header, std::string* error);
    void OnStreamBytes(const unsigned char* bytes, int count) override;
    // Ends the recording with how the stream ended. True when the file is in
    // place and whole; false with *error otherwise (a file that could be put in
    // place is flagged incomplete).
    bool Finish(StreamEnd end, std::string* error);

    bool Recording() const { return file_.IsOpen(); }
    bool Failed() const { return file_.Failed(); }
    const std::string& Failure() const { return file_.Error(); }
    long long Bytes() const { return bytes_; }
    const std::string& Path() const { return file_.Path(); }

  private:
    CGrowingFile file_;
    StreamFileHeader header_;
    long long bytes_ = 0;
};

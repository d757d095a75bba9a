// A file written while it grows (a recording, a report of many lines), with
// fixed memory: the data goes to a temporary file beside the target, and
// Finish puts it in place in one step. Until then the target is untouched.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

class CGrowingFile {
  public:
    CGrowingFile();
    ~CGrowingFile();  // abandons a file that was not finished: the temporary goes
    CGrowingFile(const CGrowingFile&) = delete;
    CGrowingFile& operator=(const CGrowingFile&) = delete;

    // Creates the temporary file for path. False with *error naming the path and
    // the system's reason.
    bool Open(const std::string& path, std::string* error);
    // Adds data at the end. False with Error() set; later calls then do nothing.
    bool Append(const void* data, size_t size);
    // Rewrites the first bytes of the file (a header of fixed length).
    bool WriteAtStart(const std::string& data);
    // Syncs, closes and renames the file over the target. False with *error when
    // any step (or an earlier write) failed; the temporary is then removed unless
    // keepOnError, in which case it is still put in place.
    bool Finish(std::string* error, bool keepOnError = false);
    void Abandon();

    bool IsOpen() const;
    bool Failed() const { return !error_.empty(); }
    const std::string& Error() const { return error_; }  // "cannot write PATH: reason"
    const std::string& Path() const { return path_; }

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string path_;
    std::string error_;
};

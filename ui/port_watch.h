// Replug: an adapter pulled and plugged back comes back under the same path (its
// /dev/serial/by-id name). The watch notices, through a watch on that folder and
// a check every second, and reconnects by itself, so the status returns to
// "COMn:Ready" without a box.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>
#include <functional>
#include <string>

#include "measurement/measurement.h"

// The decision alone, without timers: Check() says when to reconnect.
class CReplugRule {
  public:
    // How often one appearance of the device is tried (the instrument may need a
    // moment after the adapter is back).
    static constexpr int kAttemptsPerAppearance = 3;

    // `identity` gives what tells one appearance of a device from the next (empty:
    // the path leads nowhere). True when the caller should reconnect COM
    // state.comPort now: it was ready on this number, the connection is lost or
    // its device was replugged, and the device is there again.
    bool Check(const MeasurementState& state,
               const std::function<std::string(const std::string& path)>& identity);
    // The path of the last good connection; empty before one.
    const std::string& ReadyPath() const { return readyPath; }

  private:
    int readyCom = 0;
    std::string readyPath;
    std::string readyIdentity;
    std::string triedIdentity;
    int attempts = 0;
};

class CPortWatch : public QObject {
    Q_OBJECT
  public:
    // reconnect is called with no cycle running; it should call ConnectInstrument.
    CPortWatch(QObject* parent, MeasurementState& state, std::function<void()> reconnect);

    // One look now (the timer and the folder watch call it).
    void Check();

  private:
    void Follow(const std::string& path);

    MeasurementState& state_;
    std::function<void()> reconnect_;
    CReplugRule rule_;
    QTimer timer_;
    QFileSystemWatcher watcher_;
    QString watchedFolder_;
};

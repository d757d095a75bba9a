#include "ui/port_watch.h"

#include <QFileInfo>

#include "comlink/port.h"
#include "comlink/serial_discovery.h"
#include "ui/serial_ports.h"

namespace {

constexpr int kCheckPeriodMs = 1000;

bool PortHealthy(const MeasurementState& state) {
    return state.connected == 1 && state.port != nullptr && state.port->GetError() != CL_ERR_DEVICE;
}

}  // namespace

bool CReplugRule::Check(const MeasurementState& state,
                        const std::function<std::string(const std::string&)>& identity) {
    // Never inside a cycle: it holds the link, and may be showing a box about it.
    if (state.busy) return false;
    if (PortHealthy(state)) {
        const std::string path = state.port->devicePath;
        if (state.comPort != readyCom || path != readyPath) {
            readyCom = state.comPort;
            readyPath = path;
            readyIdentity = identity(path);
            triedIdentity.clear();
            attempts = 0;
            return false;
        }
        if (attempts > 0) {
            // The reconnect worked: this appearance is the one in use now.
            readyIdentity = identity(path);
            triedIdentity.clear();
            attempts = 0;
            return false;
        }
        // Still the device it connected to: nothing to do. Replugged without a cycle
        // noticing: connect to the new one.
        const std::string now = identity(path);
        if (now.empty() || now == readyIdentity) return false;
    }
    // Lost, failed, or replugged: only for the number that was ready, so a number the
    // operator stepped to is not retried behind their back.
    if (readyPath.empty() || state.comPort != readyCom) return false;
    const std::string now = identity(readyPath);
    // The same node as before is the dead device still held, not one plugged back.
    if (now.empty() || now == readyIdentity) return false;
    if (now != triedIdentity) {
        triedIdentity = now;
        attempts = 0;
    }
    if (attempts >= kAttemptsPerAppearance) return false;
    ++attempts;
    return true;
}

CPortWatch::CPortWatch(QObject* parent, MeasurementState& state, std::function<void()> reconnect)
    : QObject(parent), state_(state), reconnect_(std::move(reconnect)) {
    connect(&timer_, &QTimer::timeout, this, &CPortWatch::Check);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] {
        // A device plugged in for the first time gets its COM number now.
        SerialPorts().Rescan();
        Check();
    });
    timer_.start(kCheckPeriodMs);
}

void CPortWatch::Follow(const std::string& path) {
    // Watch the folder of the path (a by-id link vanishes and comes back there).
    const QString folder = QFileInfo(QString::fromStdString(path)).absolutePath();
    // udev removes /dev/serial/by-id with its last link; the watch then lapses and
    // is taken up again once the folder is back.
    if (folder == watchedFolder_ && watcher_.directories().contains(folder)) return;
    if (!watchedFolder_.isEmpty()) watcher_.removePath(watchedFolder_);
    watchedFolder_.clear();
    if (QFileInfo(folder).isDir() && watcher_.addPath(folder)) watchedFolder_ = folder;
}

void CPortWatch::Check() {
    const bool again = rule_.Check(state_, DeviceIdentity);
    if (!rule_.ReadyPath().empty()) Follow(rule_.ReadyPath());
    if (again) reconnect_();
}

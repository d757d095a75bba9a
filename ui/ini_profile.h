// The application's profile: an INI file read and written through QSettings.
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "measurement/measurement.h"

class QSettings;

class CIniProfile final : public Profile {
  public:
    // Opens (or will create) the INI file at path. A file that cannot be
    // parsed is left untouched: reads give the defaults and writes are refused.
    explicit CIniProfile(const QString& path);
    ~CIniProfile() override;

    // The stored decimal integer, or defaultValue when the key is missing or
    // its value is not a whole number in int range.
    int ReadInt(const std::string& section, const std::string& key, int defaultValue) override;
    // Stores value as decimal text and saves the file at once, atomically
    // (a temporary file renamed over the old one).
    void WriteInt(const std::string& section, const std::string& key, int value) override;
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) override;

    QString Path() const { return path_; }
    // Empty while every read and write has worked; otherwise why the last one failed.
    QString LastError() const { return lastError_; }
    // Called with the reason at the first save that fails, so the operator hears
    // once that changes are not kept, not at every step.
    void SetSaveFailedHandler(std::function<void(const QString&)> handler) {
        onSaveFailed_ = std::move(handler);
    }

  private:
    QString path_;
    std::unique_ptr<QSettings> settings_;
    bool writable_ = true;
    QString lastError_;
    std::function<void(const QString&)> onSaveFailed_;
};

// Where the profile lives by default: $XDG_CONFIG_HOME (or ~/.config), folder
// "pelkor", file named after the executable's base name with ".INI".
QString DefaultProfilePath(const QString& executableBaseName);

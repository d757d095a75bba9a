// The application's profile: an INI file edited in place (IniFileProfile), with
// the operator told once when saving stops working.
#pragma once

#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "measurement/ini_file.h"
#include "measurement/measurement.h"

class CIniProfile final : public Profile {
  public:
    // Opens (or will create) the INI file at path. A file that is not a clean
    // INI is left untouched: reads give the defaults and writes are refused.
    explicit CIniProfile(const QString& path);

    // The stored decimal integer, or defaultValue when the key is missing or
    // its value is not a whole number in int range.
    int ReadInt(const std::string& section, const std::string& key, int defaultValue) override;
    // Stores value as decimal text and saves the file at once, changing only
    // that key's line, and only when the value differs from the stored one.
    void WriteInt(const std::string& section, const std::string& key, int value) override;
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) override;
    void WriteString(const std::string& section, const std::string& key,
                     const std::string& value) override;
    void RemoveKey(const std::string& section, const std::string& key) override;
    std::vector<std::string> Keys(const std::string& section) override;

    QString Path() const { return path_; }
    // Empty while the file is usable and every save has worked; otherwise why
    // the file is not used, or why the last save failed.
    QString LastError() const;
    // Called with the reason at the first save that fails, so the operator hears
    // once that changes are not kept, not at every step.
    void SetSaveFailedHandler(std::function<void(const QString&)> handler) {
        onSaveFailed_ = std::move(handler);
    }

  private:
    template <typename Write>
    void Save(Write write);

    QString path_;
    IniFileProfile file_;
    bool reported_ = false;
    std::function<void(const QString&)> onSaveFailed_;
};

// Where the profile lives by default: $XDG_CONFIG_HOME (or ~/.config), folder
// "pelkor", file named after the executable's base name with ".INI".
QString DefaultProfilePath(const QString& executableBaseName);

#include "ui/ini_profile.h"

#include <QDir>
#include <QFile>

CIniProfile::CIniProfile(const QString& path)
    : path_(path), file_(QFile::encodeName(path).toStdString()) {}

QString CIniProfile::LastError() const {
    const std::string& why = file_.LoadError().empty() ? file_.LastError() : file_.LoadError();
    return QString::fromStdString(why);
}

template <typename Write>
void CIniProfile::Save(Write write) {
    const int failedBefore = file_.FailedSaves();
    write();
    // An unusable file was reported at start; a save that stops working, once
    // per run of failures.
    if (file_.FailedSaves() == failedBefore) {
        if (file_.LastError().empty()) reported_ = false;
        return;
    }
    if (!reported_ && onSaveFailed_) onSaveFailed_(LastError());
    reported_ = true;
}

int CIniProfile::ReadInt(const std::string& section, const std::string& key, int defaultValue) {
    return file_.ReadInt(section, key, defaultValue);
}

void CIniProfile::WriteInt(const std::string& section, const std::string& key, int value) {
    Save([&] { file_.WriteInt(section, key, value); });
}

std::string CIniProfile::ReadString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue) {
    return file_.ReadString(section, key, defaultValue);
}

void CIniProfile::WriteString(const std::string& section, const std::string& key,
                              const std::string& value) {
    Save([&] { file_.WriteString(section, key, value); });
}

void CIniProfile::RemoveKey(const std::string& section, const std::string& key) {
    Save([&] { file_.RemoveKey(section, key); });
}

std::vector<std::string> CIniProfile::Keys(const std::string& section) {
    return file_.Keys(section);
}

QString DefaultProfilePath(const QString& executableBaseName) {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    // Relative values are to be ignored, as for every XDG variable.
    if (config.isEmpty() || QDir::isRelativePath(config)) {
        config = QDir::homePath() + QStringLiteral("/.config");
    }
    return config + QStringLiteral("/pelkor/") + executableBaseName + QStringLiteral(".INI");
}

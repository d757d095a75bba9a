#include "ui/ini_profile.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <climits>

namespace {

QString KeyPath(const std::string& section, const std::string& key) {
    return QString::fromStdString(section) + QLatin1Char('/') + QString::fromStdString(key);
}

}  // namespace

CIniProfile::CIniProfile(const QString& path)
    : path_(path), settings_(std::make_unique<QSettings>(path, QSettings::IniFormat)) {
    settings_->setAtomicSyncRequired(true);
    settings_->setFallbacksEnabled(false);
    if (settings_->status() == QSettings::FormatError) {
        writable_ = false;
        lastError_ = QStringLiteral(
                         "%1 is not a valid INI file; it is left unchanged and the "
                         "settings are not saved")
                         .arg(path);
    }
}

CIniProfile::~CIniProfile() = default;

int CIniProfile::ReadInt(const std::string& section, const std::string& key, int defaultValue) {
    const QVariant value = settings_->value(KeyPath(section, key));
    if (!value.isValid()) return defaultValue;
    // A value with commas would come back as a list; that is not a number either.
    if (value.typeId() == QMetaType::QStringList) return defaultValue;
    bool ok = false;
    const qlonglong number = value.toString().trimmed().toLongLong(&ok, 10);
    if (!ok || number < INT_MIN || number > INT_MAX) return defaultValue;
    return static_cast<int>(number);
}

void CIniProfile::WriteInt(const std::string& section, const std::string& key, int value) {
    if (!writable_) return;
    QDir().mkpath(QFileInfo(path_).absolutePath());
    settings_->setValue(KeyPath(section, key), QString::number(value));
    settings_->sync();
    if (settings_->status() != QSettings::NoError) {
        const bool firstFailure = lastError_.isEmpty();
        lastError_ = QStringLiteral("cannot save the settings to %1").arg(path_);
        if (firstFailure && onSaveFailed_) onSaveFailed_(lastError_);
    } else {
        lastError_.clear();
    }
}

std::string CIniProfile::ReadString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue) {
    const QVariant value = settings_->value(KeyPath(section, key));
    if (!value.isValid()) return defaultValue;
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(QLatin1Char(',')).toStdString();
    }
    return value.toString().toStdString();
}

QString DefaultProfilePath(const QString& executableBaseName) {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    // Relative values are to be ignored, as for every XDG variable.
    if (config.isEmpty() || QDir::isRelativePath(config)) {
        config = QDir::homePath() + QStringLiteral("/.config");
    }
    return config + QStringLiteral("/pelkor/") + executableBaseName + QStringLiteral(".INI");
}

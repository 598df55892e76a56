#include "Settings.h"

#include "DataFolder.h"

#include <QSettings>

namespace {

QString settingsFile()
{
    return dataFolder().filePath(QStringLiteral("settings.ini"));
}

} // namespace

namespace AppSettings {

QString updateServiceUrl()
{
    const QSettings settings(settingsFile(), QSettings::IniFormat);
    return settings.value(QStringLiteral("updates/serviceUrl")).toString().trimmed();
}

bool automaticUpdateCheck()
{
    const QSettings settings(settingsFile(), QSettings::IniFormat);
    return settings.value(QStringLiteral("updates/automatic"), false).toBool();
}

void setAutomaticUpdateCheck(bool on)
{
    QSettings settings(settingsFile(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("updates/automatic"), on);
}

} // namespace AppSettings

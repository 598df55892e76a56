#include "Settings.h"

#include "DataFolder.h"

#include <QSettings>

#include <algorithm>

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

QString mapSite()
{
    const QSettings settings(settingsFile(), QSettings::IniFormat);
    return settings.value(QStringLiteral("view/mapSite")).toString().trimmed();
}

void setMapSite(const QString &addressTemplate)
{
    QSettings settings(settingsFile(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("view/mapSite"), addressTemplate);
}

int bubblePageSize()
{
    const QSettings settings(settingsFile(), QSettings::IniFormat);
    return std::max(0, settings.value(QStringLiteral("view/pageSize"), 0).toInt());
}

void setBubblePageSize(int size)
{
    QSettings settings(settingsFile(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("view/pageSize"), size);
}

} // namespace AppSettings

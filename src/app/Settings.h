#pragma once

#include <QString>

// The user's choices that outlive a session, in "settings.ini" of the data folder.
namespace AppSettings {

// The address of the update and announcement service; none unless the user or an
// administrator names one, so a copy never asks a service it does not know.
QString updateServiceUrl();
// Whether the window asks that service by itself at start (off unless turned on).
bool automaticUpdateCheck();
void setAutomaticUpdateCheck(bool on);
// The map site places open in: a web address with %1 the latitude and %2 the
// longitude; "" for the default (OpenStreetMap).
QString mapSite();
void setMapSite(const QString &addressTemplate);
// Messages to a page of the bubble view; 0 when the user never chose.
int bubblePageSize();
void setBubblePageSize(int size);

} // namespace AppSettings

#pragma once

#include "TempHome.h"

// A fresh profile for as long as it lives, so that no suite touches the user's own.
class TempDataFolder : public TempHome
{
public:
    // The data home the data folder is made in.
    QString profile() const { return path() + QStringLiteral("/xdg"); }
};

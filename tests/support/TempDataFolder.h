#pragma once

#include "TempHome.h"

// A fresh profile for as long as it lives, so that no suite touches the user's own.
using TempDataFolder = TempHome;

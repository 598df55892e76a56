#pragma once

#include <QString>

// The application style sheet (the embedded :style.css), read on first use and
// kept for the process. Returns "" when the resource cannot be read; the next
// call tries again. Safe to call from any thread.
QString appStyleSheet();

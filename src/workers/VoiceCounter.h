#pragma once

#include <QString>

// Viber numbers its voice files from a counter kept beside them
// ("Documents/VoiceMessages/_ptt_id_counter", four bytes, little-endian): after a
// transfer it must pass every number in use, the voice files sent included.
class VoiceCounter
{
public:
    static constexpr const char *kDevicePath = "/Documents/VoiceMessages/_ptt_id_counter";

    // Writes the counter for highest into the cached container viberFolder and
    // returns its path; raises a sentence naming the file when it cannot.
    static QString write(const QString &viberFolder, qint64 highest);
};

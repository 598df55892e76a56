#include "VoiceCounter.h"

#include "app/FileHelpers.h"

#include <QDir>
#include <QtEndian>

#include <algorithm>

using namespace Qt::StringLiterals;

QString VoiceCounter::write(const QString &viberFolder, qint64 highest)
{
    const QDir voice(QDir(viberFolder).filePath(u"Documents/VoiceMessages"_s));
    QDir().mkpath(voice.path());
    const QString counter = voice.filePath(u"_ptt_id_counter"_s);
    const quint32 value = quint32(std::clamp<qint64>(highest, 0, 0xFFFFFFFF));
    char bytes[4];
    qToLittleEndian(value, bytes);
    writeWholeFile(counter, QByteArray(bytes, 4));
    return counter;
}

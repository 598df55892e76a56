#include "VoiceCounter.h"

#include <QDir>
#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <stdexcept>

using namespace Qt::StringLiterals;

QString VoiceCounter::write(const QString &viberFolder, qint64 highest)
{
    const QDir voice(QDir(viberFolder).filePath(u"Documents/VoiceMessages"_s));
    QDir().mkpath(voice.path());
    const QString counter = voice.filePath(u"_ptt_id_counter"_s);
    const quint32 value = quint32(std::clamp<qint64>(highest, 0, 0xFFFFFFFF));
    char bytes[4];
    qToLittleEndian(value, bytes);
    QFile file(counter);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes, 4) != 4 || !file.flush())
        throw std::runtime_error(
            tr("IDS_CANNOT_WRITE_%1").arg(QDir::toNativeSeparators(counter).toHtmlEscaped()).toStdString());
    return counter;
}

#include "MediaType.h"

#include <QFile>
#include <QFileInfo>

namespace {

QString brandExtension(const QByteArray &brand)
{
    if (brand.startsWith("M4A") || brand.startsWith("M4B") || brand.startsWith("M4P"))
        return QStringLiteral("m4a");
    if (brand == "qt  ")
        return QStringLiteral("mov");
    if (brand.startsWith("3gp") || brand.startsWith("3g2"))
        return QStringLiteral("3gp");
    if (brand.startsWith("heic") || brand.startsWith("heix") || brand.startsWith("mif1"))
        return QStringLiteral("heic");
    return QStringLiteral("mp4");
}

} // namespace

namespace MediaType {

QString extensionOf(const QByteArray &head)
{
    if (head.startsWith("\xFF\xD8\xFF"))
        return QStringLiteral("jpg");
    if (head.startsWith("\x89PNG\r\n\x1A\n"))
        return QStringLiteral("png");
    if (head.startsWith("GIF87a") || head.startsWith("GIF89a"))
        return QStringLiteral("gif");
    if (head.startsWith("RIFF") && head.mid(8, 4) == "WEBP")
        return QStringLiteral("webp");
    if (head.startsWith("#!AMR"))
        return QStringLiteral("amr");
    if (head.startsWith("OggS"))
        return head.contains("OpusHead") ? QStringLiteral("opus") : QStringLiteral("ogg");
    // ISO base media (MP4, M4A, MOV, 3GP, HEIC): a box of type "ftyp" first, its brand after it.
    if (head.size() >= 12 && head.mid(4, 4) == "ftyp")
        return brandExtension(head.mid(8, 4));
    // QuickTime files without ftyp start with a movie, free space or media data box.
    const QByteArray box = head.mid(4, 4);
    if (head.size() >= 8 && (box == "moov" || box == "mdat" || box == "wide" || box == "free"))
        return QStringLiteral("mov");
    // ADTS: AAC frames, each starting with twelve set bits and layer 0.
    if (head.size() >= 2 && quint8(head[0]) == 0xFF && (quint8(head[1]) & 0xF6) == 0xF0)
        return QStringLiteral("aac");
    return QString();
}

QString extensionOfFile(const QString &path)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return QString();
    return extensionOf(file.read(64));
}

QString copyExtension(const QString &path, bool audio, const QString &name)
{
    const QString own = QFileInfo(path).suffix().toLower();
    QString content = extensionOfFile(path);
    if (audio && content == QLatin1String("mp4"))
        content = QStringLiteral("m4a");
    if (content.isEmpty())
        return own.isEmpty() ? QFileInfo(name).suffix().toLower() : own;
    // Names a player knows for the same content stay as they are.
    static const QStringList jpeg{QStringLiteral("jpg"), QStringLiteral("jpeg")};
    static const QStringList isoMedia{QStringLiteral("mp4"), QStringLiteral("m4a"), QStringLiteral("m4v"),
                                      QStringLiteral("mov"), QStringLiteral("3gp")};
    static const QStringList ogg{QStringLiteral("ogg"), QStringLiteral("opus"), QStringLiteral("oga")};
    for (const QStringList *family : {&jpeg, &isoMedia, &ogg})
        if (family->contains(content) && family->contains(own) && !(audio && own == QLatin1String("mov")))
            return own;
    return content;
}

bool isAudioExtension(const QString &extension)
{
    static const QStringList audio{QStringLiteral("m4a"), QStringLiteral("aac"), QStringLiteral("opus"),
                                   QStringLiteral("ogg"), QStringLiteral("amr"), QStringLiteral("mp3"),
                                   QStringLiteral("wav"), QStringLiteral("oga")};
    return audio.contains(extension.toLower());
}

bool isVideoExtension(const QString &extension)
{
    static const QStringList video{QStringLiteral("mp4"), QStringLiteral("mov"), QStringLiteral("m4v"),
                                   QStringLiteral("3gp"), QStringLiteral("webm")};
    return video.contains(extension.toLower());
}

} // namespace MediaType

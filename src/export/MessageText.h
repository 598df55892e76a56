#pragma once

#include "viber/ViberData.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

// Host names of the web services whose pictures messages show; kept here alone.
namespace webhosts {
// A public static-map service answering "/maps/api/staticmap".
constexpr char kMapService[] = "maps.googleapis.com";
// Viber's own sticker content server.
constexpr char kStickerServer[] = "content.cdn.viber.com";
} // namespace webhosts

// The two forms in which messages are shown and exported: a plain text (list,
// search, text/CSV/document exports, printing) and an HTML fragment (bubble view,
// HTML export). Message texts come from stores and are treated as hostile input:
// the HTML forms never let them through unescaped.
class MessageText
{
    Q_DECLARE_TR_FUNCTIONS(MessageText)

public:
    // Media as placeholders, calls and system events as sentences; emoji stay
    // characters, carrier emoji as their Unicode emoji (see Emoji::withUnicodeEmoji).
    static QString plainText(const _ViberMsg *msg);
    // "Incoming Call (2' 5'')", "Missed Call", ...
    static QString callText(const _ViberCall *call);
    // The sentence of a group-name change or a join; empty for other messages.
    static QString systemText(const _ViberMsg *msg);

    // The chat's name, or its participants' display names ordered by phone.
    static QString chatTitle(const _ViberChat *chat);
    // Every participant's label ("Ann(+123)"), ordered by phone, joined with ", ".
    static QString participantLabels(const _ViberChat *chat);

    // Escaped text with line breaks, emoji pictures and, where the picture ships
    // beside the program, emoticon pictures. The pictures are referred to as
    // "emoji/..." and "vb_emoji/..." below picturePrefix (a page beside the folders
    // needs none; an exported page finds them under "files/").
    static QString messageHtml(const QString &text, QLatin1String picturePrefix = QLatin1String());
    // A centred notice block of the bubble style sheet holding messageHtml(text).
    static QString systemMessageHtml(const QString &text, QLatin1String picturePrefix = QLatin1String());
    // The nine frame pieces every bubble and notice block of the style sheet lies on.
    static QLatin1String bubbleBackgroundHtml();
    // Text made safe inside a double- or single-quoted HTML attribute.
    static QString attributeHtml(const QString &text);

    // Static-map picture of a location message.
    static QString mapPictureAddress(const _ViberMsg *msg);
    // Picture of a sticker on the sticker server.
    static QString stickerPictureAddress(const _ViberAtta *attachment);

    // The folder that holds the "emoji" and "vb_emoji" picture folders: the
    // program's own folder unless set. An empty folder restores the default.
    static QString pictureFolder();
    static void setPictureFolder(const QString &folder);
};

#pragma once

#include "viber/ViberData.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

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
    // Forwards and quotes come first, a line each (preambleText).
    static QString plainText(const _ViberMsg *msg);
    // plainText without the preamble.
    static QString contentText(const _ViberMsg *msg);
    // "[Forwarded from Ann]" and "» Bob: the quoted text", a line each; empty for most.
    static QString preambleText(const _ViberMsg *msg);
    // The text of a text message as a reader wants it: a formatted message's JSON as
    // its texts, a poll as its question and options.
    static QString bodyText(const _ViberMsg *msg);
    // "report.pdf (application/pdf, 2.0 KB)": the attachment's name, kind and size,
    // from the attachment and the message's file details.
    static QString fileDescription(const _ViberMsg *msg);
    // Its two parts: the name, and the kind and size ("application/pdf, 2.0 KB"; empty
    // when neither is known).
    static QString fileName(const _ViberMsg *msg);
    static QString fileDetails(const _ViberMsg *msg);
    // The forward and quote of a message as blocks above its bubble's content.
    static QString preambleHtml(const _ViberMsg *msg, QLatin1String picturePrefix = QLatin1String());
    // " (expired)" or " (not downloaded)" for an attachment in such a state; else empty.
    static QString attachmentStateText(const _ViberAtta *attachment);
    // "Incoming Call (2' 5'')", "Missed Call", ...
    static QString callText(const _ViberCall *call);
    // The other party of a call message: the call's person, else the message's, else
    // the one participant of a one-to-one chat; null when none is known.
    static const _ViberPerson *callParty(const _ViberMsg *msg);
    // The call's text followed by its party's label, as the call log names it.
    static QString callTextWithParty(const _ViberMsg *msg);
    // The kind of a message as the CSV and JSON exports name it: "text", "picture",
    // "call", "system", ...; "unknown" for a type without a name.
    static QString kindName(int type);
    // The sentence of a group-name change or a join; empty for other messages.
    static QString systemText(const _ViberMsg *msg);

    // The chat's name, or its participants' display names ordered by phone; a channel
    // and "My Notes" say what they are.
    static QString chatTitle(const _ViberChat *chat);
    // Every participant's label ("Ann(+123)"), ordered by phone, joined with ", ".
    static QString participantLabels(const _ViberChat *chat);
    static QStringList participantLabelList(const _ViberChat *chat);
    // Participants in a fixed order: by phone, as titles and file names are built from
    // them; ties (one number under two contact names) by name and id, so that the
    // order never depends on the hash's iteration order.
    static QList<const _ViberPerson *> participantsByPhone(const _ViberChat *chat);

    // Escaped text with line breaks, emoji pictures and, where the picture ships
    // beside the program, emoticon pictures. The pictures are referred to as
    // "emoji/..." and "vb_emoji/..." below picturePrefix (a page beside the folders
    // needs none; an exported page finds them under "files/").
    static QString messageHtml(const QString &text, QLatin1String picturePrefix = QLatin1String());
    // A centred notice block of the bubble style sheet holding messageHtml(text).
    static QString systemMessageHtml(const QString &text, QLatin1String picturePrefix = QLatin1String());
    // Text made safe inside a double- or single-quoted HTML attribute.
    static QString attributeHtml(const QString &text);

    // messageHtml with the web addresses in it (http://, https:// and www. forms)
    // made links that open apart from the page ("noopener noreferrer"; in a new tab
    // when newTab). Nothing else becomes a link: no other scheme, no address
    // without a host.
    static QString linkedHtml(const QString &text, QLatin1String picturePrefix = QLatin1String(),
                              bool newTab = false);
    // The web address a piece of text stands for ("www.x.org" -> "http://www.x.org"),
    // encoded; empty unless it is an http or https address with a host.
    static QString webAddress(const QString &text);

    // Where a location message's place opens on a map site; nothing is fetched
    // to show it. The site is mapSite() with %1 the latitude and %2 the longitude.
    static QString mapLinkAddress(const _ViberMsg *msg);
    // "48.858370, 2.294481"
    static QString coordinatesText(const _ViberMsg *msg);
    // The map site's address template; OpenStreetMap unless set. An empty
    // template restores the default.
    static QString mapSite();
    static void setMapSite(const QString &addressTemplate);

    // The folder that holds the "vbbb", "emoji" and "vb_emoji" picture folders unless
    // set: the program's own folder in the build tree, else the installed data
    // folder found from it. An empty folder restores the default.
    static QString pictureFolder();
    static void setPictureFolder(const QString &folder);
};

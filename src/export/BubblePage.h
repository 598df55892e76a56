#pragma once

#include "viber/ViberData.h"

#include <QCoreApplication>
#include <QList>
#include <QString>

#include <functional>

// How a page refers to what its bubbles show. The bubble view's pages lie beside
// the artwork and point at the store's own files; an exported page points at
// copies in the "files" folder beside it.
struct BubbleStyle
{
    // Folder of the voice icon and the placeholder photo.
    QLatin1String artPrefix = QLatin1String("vbbb/");
    // Folder holding the emoji picture folders.
    QLatin1String picturePrefix;
    // Largest width and height of a photo, and of the other pictures, in pixels.
    int photoLimit = 128;
    int pictureLimit = 128;
    // Links open beside the page and pictures load as they come into view.
    bool standalone = false;
    // The address of a local file the page refers to; name is what the store calls
    // the file, for a copy whose content does not tell its kind ("" when unknown).
    std::function<QString(const QString &path, const QString &name)> fileAddress;
};

// The HTML pages of the chat bubble view, 50 messages to a page. The pages refer
// to "vbbb/style.css", "vbbb/voice.png" and the emoji folders relative to their
// base address, the folder that holds those folders.
//
// Everything taken from a store (texts, names, file paths, addresses) is escaped
// before it reaches the page: the view shows the page with script turned off, and
// escaping keeps a hostile text from adding elements or attributes of its own.
class BubblePage
{
    Q_DECLARE_TR_FUNCTIONS(BubblePage)

public:
    static constexpr int kPageSize = 50;
    // Largest width and height of a picture in a bubble, in pixels.
    static constexpr int kPictureLimit = 128;

    // The page links' addresses, answered by the view.
    static constexpr const char *kFirstPageLink = "/first_page";
    static constexpr const char *kPreviousPageLink = "/pre_page";
    static constexpr const char *kNextPageLink = "/next_page";
    static constexpr const char *kLastPageLink = "/last_page";

    // Pages needed for count messages; 0 for none.
    static int pageCount(qsizetype count, int pageSize = kPageSize);
    // The 1-based page that shows the message at index.
    static int pageOfIndex(qsizetype index, int pageSize = kPageSize);
    // The anchor in front of a message: "sms_" and its id.
    static QString messageAnchor(const _ViberMsg *msg);

    // The page shown when there are no messages: the bubble background alone.
    static QString emptyPageHtml();
    // The page shown before any source is there: the ways in, each a link
    // kWelcomeLinkPrefix + "itunes", "store", "desktop", "device" or "demo".
    static QString welcomePageHtml();
    static constexpr const char *kWelcomeLinkPrefix = "/welcome/";
    // The complete page (1-based); empty when page is out of range.
    static QString pageHtml(const QList<_ViberMsg *> &messages, int page, int pageSize = kPageSize);

    // Where a page is among count ("Page 3 of 31") with links to the first,
    // previous, next and last page where they lead somewhere; empty for one page.
    static QString pagerHtml(int page, int count);

    // A link around a picture no larger than kPictureLimit. source is used as it
    // stands when it is a web address, as a local file when it exists and is not
    // empty, and replaced by "vbbb/empty_photo.jpg" otherwise.
    static QString pictureLinkHtml(const QString &target, const QString &source);
    // The file: address of a local path, percent-encoded.
    static QString localFileAddress(const QString &path);

    // One message's notice or bubble, without its anchor and day line; empty
    // for types the view does not show.
    static QString messageHtml(const _ViberMsg *msg);
    static QString messageHtml(const _ViberMsg *msg, const BubbleStyle &style);
    // The view's style: the artwork beside the page, the store's files in place.
    static const BubbleStyle &viewStyle();
};

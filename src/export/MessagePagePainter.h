#pragma once

#include "viber/ViberData.h"

#include <QColor>
#include <QDate>
#include <QImage>
#include <QList>
#include <QMargins>
#include <QPainter>
#include <QRect>
#include <QSize>
#include <QString>

#include <functional>

class QPagedPaintDevice;

// Lays messages out on pages as chat bubbles: a notice for each new day, centred
// notices for calls and system messages, picture and text bubbles on the left
// for incoming and on the right for outgoing messages, page breaks and page
// numbers. Paints on any paged device: a QPrinter (printing and its preview) or a
// QPdfWriter (the PDF export). The bubble frames are the nine-slice pictures of
// "vbbb" under MessageText::pictureFolder().
//
// Texts keep their emoji: they are drawn from the colour emoji font, as pictures,
// since a PDF cannot hold that font's bitmap glyphs. Each paragraph finds its own
// direction, so Arabic and Hebrew run right to left.
class MessagePagePainter
{
public:
    enum class BubbleKind { Notice, Incoming, Outgoing };

    // How one kind of bubble is framed and filled.
    struct BubbleStyle
    {
        QString framePrefix; // "vbbb/r_", "vbbb/bb1_", "vbbb/bb2_"
        QMargins insets;     // where the text goes, inside the frame
        QMargins slices;     // sizes of the frame's corners and edges
        QSize minimum;
        int pointSize = 12;
    };

    // Largest width and height of a picture in a bubble; a picture exactly this
    // large is left as it is.
    static constexpr int kPictureLimit = 200;
    // Vertical space after every item.
    static constexpr int kItemSpacing = 10;
    // Space between a bubble's body and its header or time.
    static constexpr int kLineSpacing = 6;
    static constexpr int kPageNumberGap = 2;
    static constexpr int kPageNumberHeight = 18;
    // Characters beyond which a text is laid out a window at a time, in bubbles of
    // a page each (see LongTextCutter): far more than any page holds.
    static constexpr qsizetype kLongText = 8192;

    static const QColor &backgroundColor();
    static const QColor &timeColor();
    static const QColor &headerColor();
    static const QColor &pageNumberColor();

    static const BubbleStyle &style(BubbleKind kind);

    // --- Layout rules, free of any device ---------------------------------

    // The rectangle messages are laid out in, in device pixels from the paper's
    // top-left corner: the page less its margins (right and bottom inclusive).
    static QRect contentRect(const QSize &pageSize, const QMargins &margins);
    // Whether an item of the height still fits below y; an item exactly as high as
    // the room left fits.
    static bool fits(int height, int y, const QRect &content);
    // The widest a bubble may be: 80 % of the content's width, truncated.
    static int maximumBubbleWidth(const QRect &content);
    // A picture's size in its bubble: a landscape picture wider than the limit is
    // scaled to its width, any other picture taller than the limit to its height.
    static QSize scaledPictureSize(const QSize &size);
    // The size of a bubble around a body; the time and the header are empty sizes
    // when absent, and stretch the bubble to hold them.
    static QSize bubbleSize(BubbleKind kind, const QSize &body, const QSize &time = QSize(),
                            const QSize &header = QSize());

    // --- Message content ----------------------------------------------------

    // What one message shows: a notice, or a picture and a text bubble.
    struct Content
    {
        QString notice; // a centred notice; the rest is then empty
        bool picture = false;
        QString picturePath; // the preview; the placeholder shows when it is not a picture
        QString text;        // empty after trimming: no text bubble
        QString header;      // the sender's name in group chats
        QString time;        // the time of day (TimeText::time)
        bool outgoing = false;
    };
    static Content content(const _ViberMsg *msg);

    // The picture at path, read as JPEG or PNG, or the placeholder photo when it is
    // neither; scaled to scaledPictureSize.
    static QImage loadPicture(const QString &path);
    // The size loadPicture gives, read without decoding the picture.
    static QSize pictureSize(const QString &path);

    // --- Painting -------------------------------------------------------------

    MessagePagePainter() = default;
    ~MessagePagePainter();
    MessagePagePainter(const MessagePagePainter &) = delete;
    MessagePagePainter &operator=(const MessagePagePainter &) = delete;

    // Begins painting on the device with page 1; false when the device cannot be
    // painted on (a PDF file that cannot be created). A counting painter lays out
    // alone and draws nothing, so that the pages can be counted before they are
    // drawn (see setPageCount).
    bool start(QPagedPaintDevice *device, bool counting = false);
    // The title drawn above the content of the pages from the next page on; a
    // chat's pages carry its title.
    void setPageTitle(const QString &title) { m_pageTitle = title; }
    // The number of pages the whole document will have: the pages then say
    // "page N of M" rather than "N".
    void setPageCount(int count) { m_pageCount = count; }
    // Goes on on a fresh page unless the current one is still empty.
    void breakPage();
    // A chat's heading: its title, participants and the dates of its first and
    // last message, at the current position.
    void paintHeading(const QString &title, const QString &participants, const QString &dates);
    // Lays out and draws one message at the current position, breaking pages as needed.
    void paint(const _ViberMsg *msg);
    // Ends painting; for a PDF this completes the file. False when it failed.
    bool end();

    // Called again and again while a long text is painted, with the characters done
    // and the text's length: to show progress, or to stop by raising, which leaves
    // the painter to be ended or dropped.
    using Progress = std::function<void(qint64 done, qint64 length)>;
    void setProgress(Progress progress) { m_progress = std::move(progress); }

    bool isActive() const { return m_counting ? m_device != nullptr : m_painter.isActive(); }
    QRect contentRect() const { return m_content; }
    int y() const { return m_y; }
    int pageNumber() const { return m_page; }

private:
    void makeRoom(int height);
    void startPage();
    // Draws a bubble at the current y, left, right or centred by its kind: a
    // picture when one is given, the text otherwise. A text taller than a page
    // goes on in bubbles of a page each.
    void drawBubble(BubbleKind kind, const QString &text, const QImage &picture, const QString &header,
                    const QString &time);
    // A text of more than kLongText characters, in bubbles of a page each.
    void drawLongText(BubbleKind kind, const QString &text, const QString &header, const QString &time);
    // Makes room for a bubble around a body of the size and draws it with its
    // header and time; paintBody(inner rectangle, top of the body) draws the body.
    void placeBubble(BubbleKind kind, const QSize &body, const QString &header, const QString &time,
                     const std::function<void(const QRect &, int)> &paintBody);
    // The sizes a sender's name and a time take in a bubble; empty for none.
    QSize headerSize(const QString &header, int width) const;
    QSize timeSize(const QString &time) const;

    QPagedPaintDevice *m_device = nullptr;
    QPainter m_painter;
    QRect m_content;
    int m_y = 0;
    int m_page = 1;
    QDate m_lastDay;
    QList<QImage> m_frames[3]; // the nine pieces of each kind's frame
    Progress m_progress;
    bool m_counting = false;
    QString m_pageTitle;
    int m_pageCount = 0;
};

#include "MessagePagePainter.h"

#include "BubblePage.h"
#include "Emoji.h"
#include "MessageText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QLocale>
#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QRawFont>
#include <QStringList>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

const QString &emojiFamily()
{
    static const QString family = QStringLiteral("Noto Color Emoji");
    return family;
}

QFont textFont(int pointSize)
{
    QFont font; // the application font
    font.setPointSize(pointSize);
    // The emoji font is given to emoji alone (see WrappedText): as a family of the
    // whole text it would take digits and spaces too, which it draws as pictures.
    return font;
}

// Whether an emoji is meant to be seen as a picture. Text fonts draw a few emoji
// characters of their own in black (the copyright sign, arrows, a heart); a
// sequence asks for the picture with U+FE0F, a keycap or a joiner, and the
// characters beyond the symbol blocks are pictures by default.
bool isPictureEmoji(QStringView sequence)
{
    for (const char32_t c : sequence.toUcs4()) {
        if (c == 0xFE0F || c == 0x20E3 || c == 0x200D || c >= 0x1F000)
            return true;
    }
    return sequence.size() == 1 && sequence.at(0).unicode() >= 0x2300;
}

// A text laid out in paragraphs of their own direction, wrapped at a width, with
// its emoji in the colour emoji font.
class WrappedText
{
public:
    WrappedText(const QString &text, const QFont &font, QPaintDevice *device, Qt::Alignment alignment,
                bool singleLine = false)
    {
        QString &normal = m_text;
        normal = text;
        normal.remove(QLatin1Char('\r'));
        // The emoji font joins a keycap with its digit only without the variation
        // selector between them, which is invisible either way.
        normal.replace(QStringLiteral(u"\uFE0F\u20E3"), QStringLiteral(u"\u20E3"));
        if (singleLine)
            normal.replace(QLatin1Char('\n'), QLatin1Char(' '));
        QTextCharFormat emoji;
        QFont emojiFont = font;
        emojiFont.setFamilies({emojiFamily()});
        emoji.setFont(emojiFont);
        QTextOption option;
        option.setTextDirection(Qt::LayoutDirectionAuto);
        option.setWrapMode(singleLine ? QTextOption::NoWrap : QTextOption::WrapAtWordBoundaryOrAnywhere);
        for (const QString &paragraph : normal.split(QLatin1Char('\n'))) {
            auto layout = std::make_unique<QTextLayout>(paragraph, font, device);
            // A text layout takes left and right as they stand; unless asked for an
            // absolute left, a paragraph written right to left starts at the right edge.
            Qt::Alignment paragraphAlignment = alignment;
            if ((alignment & Qt::AlignLeading) && !(alignment & Qt::AlignAbsolute))
                paragraphAlignment = paragraph.isRightToLeft() ? Qt::AlignRight : Qt::AlignLeft;
            option.setAlignment(paragraphAlignment);
            layout->setTextOption(option);
            QList<QTextLayout::FormatRange> ranges;
            for (Emoji::Match m = Emoji::find(paragraph, 0); m.position >= 0;
                 m = Emoji::find(paragraph, m.position + m.length)) {
                if (isPictureEmoji(QStringView(paragraph).mid(m.position, m.length)))
                    ranges.append({int(m.position), int(m.length), emoji});
            }
            layout->setFormats(ranges);
            m_paragraphs.push_back(std::move(layout));
        }
    }

    // Lays the lines out within the width and returns the size they take: as wide
    // as the widest line.
    QSize layout(int width)
    {
        qreal y = 0;
        qreal widest = 0;
        for (const auto &paragraph : m_paragraphs) {
            paragraph->beginLayout();
            for (QTextLine line = paragraph->createLine(); line.isValid(); line = paragraph->createLine()) {
                line.setLineWidth(width);
                line.setPosition(QPointF(0, y));
                y += line.height();
                widest = std::max(widest, line.naturalTextWidth());
            }
            paragraph->endLayout();
        }
        return QSize(int(std::ceil(widest)), int(std::ceil(y)));
    }

    // The text cut at line starts into pieces no taller than height each, as last
    // laid out; a line taller than that is a piece of its own.
    QStringList pieces(int height) const
    {
        QStringList pieces;
        qsizetype pieceStart = 0;
        qsizetype paragraphStart = 0;
        qreal pieceTop = 0;
        for (const auto &paragraph : m_paragraphs) {
            for (int i = 0; i < paragraph->lineCount(); ++i) {
                const QTextLine line = paragraph->lineAt(i);
                const qsizetype start = paragraphStart + line.textStart();
                if (line.y() + line.height() - pieceTop > height && start > pieceStart) {
                    pieces.append(m_text.mid(pieceStart, start - pieceStart));
                    pieceStart = start;
                    pieceTop = line.y();
                }
            }
            paragraphStart += paragraph->text().size() + 1;
        }
        pieces.append(m_text.mid(pieceStart));
        for (QString &piece : pieces) {
            if (piece.endsWith(QLatin1Char('\n')))
                piece.chop(1);
        }
        return pieces;
    }

    void draw(QPainter *painter, const QPoint &topLeft, const QColor &color) const
    {
        painter->setPen(color);
        for (const auto &paragraph : m_paragraphs) {
            for (const QGlyphRun &run : paragraph->glyphRuns()) {
                if (run.rawFont().familyName() == emojiFamily())
                    drawEmoji(painter, topLeft, run);
                else
                    painter->drawGlyphRun(topLeft, run);
            }
        }
    }

private:
    // A PDF holds outline glyphs only, and the colour emoji font has bitmaps: the
    // emoji are painted into a picture, finer than the page so that print stays sharp.
    static void drawEmoji(QPainter *painter, const QPoint &topLeft, const QGlyphRun &run)
    {
        const QRectF box = run.boundingRect();
        if (box.isEmpty())
            return;
        const int dpi = painter->device() ? painter->device()->logicalDpiY() : 96;
        const qreal scale = std::max<qreal>(1, 384.0 / std::max(dpi, 1));
        QImage image(QSize(int(std::ceil(box.width() * scale)), int(std::ceil(box.height() * scale))),
                     QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter picture(&image);
            picture.setRenderHint(QPainter::SmoothPixmapTransform);
            picture.scale(scale, scale);
            picture.drawGlyphRun(-box.topLeft(), run);
        }
        painter->drawImage(QRectF(box.topLeft() + topLeft, box.size()), image);
    }

    QString m_text; // paragraphs joined by "\n"
    std::vector<std::unique_ptr<QTextLayout>> m_paragraphs;
};

QString timeText(double storeTime)
{
    return storeTimeToDateTime(storeTime).time().toString(QStringLiteral("hh:mm ap"));
}

// A caption with its carrier emoji as Unicode emoji, which the emoji font draws.
QString captionText(const _ViberMsg *msg)
{
    if (!Emoji::hasCarrierEmoji(msg->text))
        return msg->text;
    return Emoji::withUnicodeEmoji(msg->text, QCoreApplication::translate("MessageText", "IDS_MSG_EMOJI"));
}

bool isFile(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isFile();
}

QString picturePath(const QString &relative)
{
    return QDir(MessageText::pictureFolder()).filePath(relative);
}

QList<QImage> loadFrame(const QString &prefix)
{
    QList<QImage> pieces;
    for (int i = 1; i <= 9; ++i)
        pieces.append(QImage(picturePath(prefix + QStringLiteral("%1.png").arg(i, 2, 10, QLatin1Char('0')))));
    return pieces;
}

// Corners at their slice sizes; edges and centre stretched over the rest.
void drawFrame(QPainter *painter, const QRect &rect, const QMargins &slices, const QList<QImage> &pieces)
{
    if (pieces.size() != 9)
        return;
    const int xs[] = {rect.left(), rect.left() + slices.left(), rect.right() + 1 - slices.right(),
                      rect.right() + 1};
    const int ys[] = {rect.top(), rect.top() + slices.top(), rect.bottom() + 1 - slices.bottom(),
                      rect.bottom() + 1};
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) {
            const QRect target(QPoint(xs[column], ys[row]), QPoint(xs[column + 1] - 1, ys[row + 1] - 1));
            const QImage &piece = pieces.at(row * 3 + column);
            if (target.isValid() && !piece.isNull())
                painter->drawImage(target, piece);
        }
    }
}

} // namespace

const QColor &MessagePagePainter::backgroundColor()
{
    static const QColor color(213, 231, 236);
    return color;
}

const QColor &MessagePagePainter::timeColor()
{
    static const QColor color(141, 141, 141);
    return color;
}

const QColor &MessagePagePainter::headerColor()
{
    static const QColor color(123, 81, 157);
    return color;
}

const QColor &MessagePagePainter::pageNumberColor()
{
    static const QColor color(146, 146, 165);
    return color;
}

const MessagePagePainter::BubbleStyle &MessagePagePainter::style(BubbleKind kind)
{
    // Insets and slices as (left, top, right, bottom), to suit QMargins.
    static const BubbleStyle notice{QStringLiteral("vbbb/r_"), QMargins(9, 7, 7, 6), QMargins(15, 10, 13, 9),
                                    QSize(80, 20), 10};
    static const BubbleStyle incoming{QStringLiteral("vbbb/bb1_"), QMargins(14, 7, 10, 8),
                                      QMargins(16, 13, 16, 13), QSize(150, 16), 12};
    static const BubbleStyle outgoing{QStringLiteral("vbbb/bb2_"), QMargins(10, 7, 14, 8),
                                      QMargins(16, 13, 16, 13), QSize(150, 16), 12};
    switch (kind) {
    case BubbleKind::Notice:
        return notice;
    case BubbleKind::Incoming:
        return incoming;
    case BubbleKind::Outgoing:
        break;
    }
    return outgoing;
}

QRect MessagePagePainter::contentRect(const QSize &pageSize, const QMargins &margins)
{
    return QRect(margins.left(), margins.top(), pageSize.width() - margins.left() - margins.right(),
                 pageSize.height() - margins.top() - margins.bottom());
}

bool MessagePagePainter::fits(int height, int y, const QRect &content)
{
    return qint64(height) <= qint64(content.bottom()) + 1 - y;
}

int MessagePagePainter::maximumBubbleWidth(const QRect &content)
{
    return int(qint64(content.width()) * 80 / 100);
}

QSize MessagePagePainter::scaledPictureSize(const QSize &size)
{
    const qint64 w = size.width();
    const qint64 h = size.height();
    if (w <= 0 || h <= 0)
        return size;
    if (w > h && w > kPictureLimit)
        return QSize(kPictureLimit, int(std::max<qint64>(1, (h * kPictureLimit + w / 2) / w)));
    if (w <= h && h > kPictureLimit)
        return QSize(int(std::max<qint64>(1, (w * kPictureLimit + h / 2) / h)), kPictureLimit);
    return size;
}

QSize MessagePagePainter::bubbleSize(BubbleKind kind, const QSize &body, const QSize &time,
                                     const QSize &header)
{
    const BubbleStyle &s = style(kind);
    const int horizontal = s.insets.left() + s.insets.right();
    int width = std::max(body.width() + horizontal, s.minimum.width());
    int height = std::max(body.height() + s.insets.top() + s.insets.bottom(), s.minimum.height());
    if (!time.isEmpty()) {
        width = std::max(width, time.width() + horizontal);
        height += time.height() + kLineSpacing;
    }
    if (!header.isEmpty()) {
        width = std::max(width, header.width() + horizontal);
        height += header.height() + kLineSpacing;
    }
    return QSize(width, height);
}

MessagePagePainter::Content MessagePagePainter::content(const _ViberMsg *msg)
{
    Content c;
    if (!msg)
        return c;
    const _ViberAtta *att = msg->attachment;
    switch (msg->type) {
    case ViberMsgTypeCall:
        // A call without its record still shows, as an unknown call.
        c.notice = msg->call ? MessageText::callText(msg->call) : MessageText::plainText(msg);
        return c;
    case ViberMsgTypeSystem:
        c.notice = MessageText::systemText(msg);
        return c;
    case ViberMsgTypePicture:
    case ViberMsgTypeVideo:
        // Always a picture: the placeholder stands in for a missing preview.
        c.picture = true;
        c.picturePath = att ? att->previewPath : QString();
        c.text = captionText(msg);
        break;
    case ViberMsgTypeLocation: {
        c.picture = att && !att->previewPath.isEmpty();
        c.picturePath = att ? att->previewPath : QString();
        // The address, then what the sender wrote with the place.
        QStringList lines;
        if (!msg->address.trimmed().isEmpty())
            lines << msg->address;
        if (!msg->text.trimmed().isEmpty())
            lines << captionText(msg);
        c.text = lines.join(QLatin1Char('\n'));
        break;
    }
    case ViberMsgTypeAudio:
        c.text = MessageText::contentText(msg) + QLatin1Char(' ') +
                 BubblePage::durationText(att ? att->duration : 0);
        break;
    case ViberMsgTypeSticker:
        if (att && isFile(att->previewPath)) {
            c.picture = true;
            c.picturePath = att->previewPath;
        } else {
            c.text = MessageText::contentText(msg);
        }
        break;
    case ViberMsgTypeText:
        c.text = MessageText::contentText(msg);
        break;
    case ViberMsgTypeFile: {
        c.text = MessageText::fileDescription(msg);
        if (!msg->text.trimmed().isEmpty())
            c.text += QLatin1Char('\n') + captionText(msg);
        break;
    }
    default:
        return c;
    }
    if (const QString preamble = MessageText::preambleText(msg); !preamble.isEmpty())
        c.text = c.text.isEmpty() ? preamble : preamble + QLatin1Char('\n') + c.text;
    // Text layout breaks lines at LF only; a CR LF or a lone CR would join two lines.
    c.text.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    c.time = timeText(msg->date);
    c.outgoing = isOutgoing(msg);
    if (msg->chat && !msg->chat->groupId.isEmpty() && msg->person)
        c.header = personDisplayName(msg->person);
    return c;
}

QImage MessagePagePainter::loadPicture(const QString &path)
{
    QImage image;
    if (!path.isEmpty() && !image.load(path, "JPEG"))
        image.load(path, "PNG");
    if (image.isNull())
        image.load(picturePath(QStringLiteral("vbbb/empty_photo.jpg")));
    const QSize size = scaledPictureSize(image.size());
    if (size != image.size())
        image = image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}

MessagePagePainter::~MessagePagePainter()
{
    if (m_painter.isActive())
        m_painter.end();
}

bool MessagePagePainter::start(QPagedPaintDevice *device)
{
    m_device = device;
    m_page = 1;
    m_lastDay = QDate();
    if (!device || !m_painter.begin(device))
        return false;

    // The margins are set in points; the layout counts in the device's pixels.
    const QPageLayout layout = device->pageLayout();
    const int dpi = device->logicalDpiY();
    const QMarginsF points = layout.margins(QPageLayout::Point);
    const auto pixels = [dpi](qreal pt) { return int(std::lround(pt * dpi / 72.0)); };
    const QMargins margins(pixels(points.left()), pixels(points.top()), pixels(points.right()),
                           pixels(points.bottom()));
    m_content = contentRect(layout.fullRectPixels(dpi).size(), margins);
    // The painter starts at the corner of the printable area; the layout counts from
    // the paper's corner.
    if (layout.mode() != QPageLayout::FullPageMode)
        m_painter.translate(-QPointF(layout.paintRectPixels(dpi).topLeft()));

    for (int kind = 0; kind < 3; ++kind)
        m_frames[kind] = loadFrame(style(BubbleKind(kind)).framePrefix);
    startPage();
    return true;
}

bool MessagePagePainter::end()
{
    if (!m_painter.isActive())
        return false;
    return m_painter.end();
}

void MessagePagePainter::startPage()
{
    m_y = m_content.top();
    m_painter.fillRect(m_content, backgroundColor());
    m_painter.setFont(textFont(12));
    m_painter.setPen(pageNumberColor());
    const QRect box(m_content.left(), m_content.bottom() + 1 + kPageNumberGap, m_content.width(),
                    kPageNumberHeight);
    m_painter.drawText(box, Qt::AlignRight | Qt::AlignVCenter, QString::number(m_page));
}

void MessagePagePainter::makeRoom(int height)
{
    // On a fresh page a new page would gain nothing: what is too tall runs off.
    if (fits(height, m_y, m_content) || m_y == m_content.top())
        return;
    m_device->newPage();
    ++m_page;
    startPage();
}

void MessagePagePainter::drawBubble(BubbleKind kind, const QString &text, const QImage &picture,
                                    const QString &header, const QString &time)
{
    const BubbleStyle &s = style(kind);
    const int horizontal = s.insets.left() + s.insets.right();
    const int innerMaximum = std::max(1, maximumBubbleWidth(m_content) - horizontal);

    const Qt::Alignment alignment = kind == BubbleKind::Notice ? Qt::AlignHCenter : Qt::AlignLeading;
    WrappedText body(text, textFont(s.pointSize), m_device, alignment);
    const QSize bodySize = picture.isNull() ? body.layout(innerMaximum) : picture.size();

    std::unique_ptr<WrappedText> name;
    QSize headerSize;
    if (!header.isEmpty()) {
        // Names start at the bubble's left, in whatever script they are written.
        name = std::make_unique<WrappedText>(header, textFont(12), m_device,
                                             Qt::AlignLeft | Qt::AlignAbsolute, true);
        headerSize = name->layout(innerMaximum);
        headerSize.setWidth(std::min(headerSize.width(), innerMaximum));
    }
    const QFont timeFont = textFont(10);
    QSize timeSize;
    if (!time.isEmpty()) {
        const QFontMetrics metrics(timeFont, m_device);
        timeSize = QSize(metrics.horizontalAdvance(time), metrics.height());
    }

    const QSize size = bubbleSize(kind, bodySize, timeSize, headerSize);
    if (picture.isNull() && size.height() > m_content.height()) {
        // A text longer than a page goes on in bubbles of its own on the next pages,
        // the name on the first and the time on the last.
        const int frame = bubbleSize(kind, QSize(0, 0), timeSize, headerSize).height();
        const QStringList pieces = body.pieces(m_content.height() - frame);
        if (pieces.size() > 1) {
            for (qsizetype i = 0; i < pieces.size(); ++i)
                drawBubble(kind, pieces.at(i), picture, i == 0 ? header : QString(),
                           i == pieces.size() - 1 ? time : QString());
            return;
        }
    }
    makeRoom(size.height());
    int x = m_content.left();
    if (kind == BubbleKind::Outgoing)
        x = m_content.right() + 1 - size.width();
    else if (kind == BubbleKind::Notice)
        x = m_content.left() + (m_content.width() - size.width()) / 2;
    const QRect rect(QPoint(x, m_y), size);
    drawFrame(&m_painter, rect, s.slices, m_frames[int(kind)]);

    const QRect inner = rect.marginsRemoved(s.insets);
    int top = inner.top();
    if (name) {
        // A long name is cut at the bubble's edge rather than widening it.
        m_painter.save();
        m_painter.setClipRect(QRect(inner.topLeft(), QSize(inner.width(), headerSize.height())));
        name->layout(inner.width());
        name->draw(&m_painter, inner.topLeft(), headerColor());
        m_painter.restore();
        top += headerSize.height() + kLineSpacing;
    }
    if (picture.isNull()) {
        // Laid out again across the whole text area, so that right-to-left
        // paragraphs end at its right edge.
        body.layout(inner.width());
        body.draw(&m_painter, QPoint(inner.left(), top), Qt::black);
    } else {
        m_painter.drawImage(QPoint(inner.left(), top), picture);
    }
    if (!time.isEmpty()) {
        m_painter.setFont(timeFont);
        m_painter.setPen(timeColor());
        m_painter.drawText(
            QRect(QPoint(inner.right() + 1 - timeSize.width(), inner.bottom() + 1 - timeSize.height()),
                  timeSize),
            Qt::AlignRight | Qt::AlignVCenter, time);
    }
    m_y += size.height() + kItemSpacing;
}

void MessagePagePainter::paint(const _ViberMsg *msg)
{
    if (!msg || !m_painter.isActive())
        return;
    const QDate day = storeTimeToDateTime(msg->date).date();
    if (day != m_lastDay) {
        drawBubble(BubbleKind::Notice, day.toString(QStringLiteral("dd MMM yyyy")), QImage(), QString(),
                   QString());
        m_lastDay = day;
    }

    const Content c = content(msg);
    if (!c.notice.isEmpty()) {
        drawBubble(BubbleKind::Notice, c.notice, QImage(), QString(), QString());
        return;
    }
    const BubbleKind kind = c.outgoing ? BubbleKind::Outgoing : BubbleKind::Incoming;
    if (c.picture) {
        const QImage picture = loadPicture(c.picturePath);
        if (!picture.isNull())
            drawBubble(kind, QString(), picture, c.header, c.time);
    }
    if (!c.text.trimmed().isEmpty())
        drawBubble(kind, c.text, QImage(), c.header, c.time);
}

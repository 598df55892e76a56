#include "MessagePagePainter.h"

#include "BubblePage.h"
#include "Emoji.h"
#include "MessageText.h"
#include "TimeText.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QHash>
#include <QImageReader>
#include <QLocale>
#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QRawFont>
#include <QStringList>
#include <QTextLayout>

#include <functional>

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

// An emoji as the colour emoji font draws it at one size, measured and painted
// once: the font's glyphs are bitmaps that Qt does not cache, so shaping one
// decodes its picture again, which took half of a PDF's time when every message
// with emoji was laid out with the font.
struct EmojiPicture
{
    qreal advance = 0; // how far it moves the pen
    qreal ascent = 0;
    qreal descent = 0;
    QRectF box; // what it covers, from the pen on its baseline
    QImage image;
    QTextCharFormat place; // the text font that holds its place in a line (see paragraphLayout)
};

// The natural width of text in font on device.
qreal textWidth(const QString &text, const QFont &font, QPaintDevice *device)
{
    QTextLayout layout(text, font, device);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (!line.isValid())
        return 0;
    line.setLineWidth(1e6);
    layout.endLayout();
    return line.naturalTextWidth();
}

// The text font, without fallback (so that no emoji font is asked), as tall as the
// emoji and spaced to its width: Qt adds letter spacing once per character cluster.
QTextCharFormat placeFormat(const QString &sequence, const EmojiPicture &picture, const QFont &font,
                            QPaintDevice *device)
{
    QFont place = font;
    place.setStyleStrategy(QFont::NoFontMerging);
    const QFontMetricsF metrics(place, device);
    // A line of emoji alone as tall as the emoji font makes it (shorter than a line of
    // text, here); one with text too as tall as the taller of the two.
    const qreal textHeight = metrics.ascent() + metrics.descent();
    const qreal emojiHeight = picture.ascent + picture.descent;
    if (textHeight > 0 && emojiHeight > 0) {
        const qreal factor = emojiHeight / textHeight;
        if (place.pointSizeF() > 0)
            place.setPointSizeF(place.pointSizeF() * factor);
        else
            place.setPixelSize(std::max(1, int(std::lround(place.pixelSize() * factor))));
    }
    const qreal plain = textWidth(sequence, place, device);
    constexpr qreal kProbe = 16;
    place.setLetterSpacing(QFont::AbsoluteSpacing, kProbe);
    const qreal clusters = std::round((textWidth(sequence, place, device) - plain) / kProbe);
    place.setLetterSpacing(QFont::AbsoluteSpacing, clusters > 0 ? (picture.advance - plain) / clusters : 0);
    QTextCharFormat format;
    format.setFont(place);
    return format;
}

EmojiPicture emojiPicture(const QString &sequence, const QFont &font, QPaintDevice *device)
{
    QFont emojiFont = font;
    emojiFont.setFamilies({emojiFamily()});
    const int dpi = device ? device->logicalDpiY() : 96;
    const QString key = sequence + QLatin1Char('\n') + font.key() + QLatin1Char('\n') + QString::number(dpi);
    thread_local QHash<QString, EmojiPicture> pictures;
    if (const auto found = pictures.constFind(key); found != pictures.constEnd())
        return *found;
    EmojiPicture picture;
    QTextLayout layout(sequence, emojiFont, device);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (line.isValid())
        line.setLineWidth(1e6);
    layout.endLayout();
    const QList<QGlyphRun> runs = layout.glyphRuns();
    if (line.isValid()) {
        picture.advance = line.naturalTextWidth();
        picture.ascent = line.ascent();
        picture.descent = line.descent();
        for (const QGlyphRun &run : runs)
            picture.box |= run.boundingRect();
        picture.box.translate(0, -line.ascent());
    }
    // A PDF holds outline glyphs only: the picture is painted finer than the page, so
    // that print stays sharp, and a PDF keeps a picture drawn again only once.
    const qreal scale = std::max<qreal>(1, 384.0 / std::max(dpi, 1));
    if (!picture.box.isEmpty()) {
        picture.image = QImage(
            QSize(int(std::ceil(picture.box.width() * scale)), int(std::ceil(picture.box.height() * scale))),
            QImage::Format_ARGB32_Premultiplied);
        picture.image.fill(Qt::transparent);
        QPainter painter(&picture.image);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.scale(scale, scale);
        for (const QGlyphRun &run : runs)
            painter.drawGlyphRun(-picture.box.topLeft() - QPointF(0, line.ascent()), run);
    }
    picture.place = placeFormat(sequence, picture, font, device);
    if (pictures.size() >= 1024)
        pictures.clear();
    return *pictures.insert(key, picture);
}

// Where a paragraph holds an emoji drawn as a picture.
struct EmojiSlot
{
    int start;
    int length;
    EmojiPicture picture; // shares its image with the others of its kind
};

// One paragraph's layout in its own direction. Its emoji keep their characters, so
// that lines break and directions run as the text says, but take the text font
// without fallback, spaced to the emoji's width and sized to its height; the
// pictures are drawn over their places.
struct ParagraphLayout : QTextLayout
{
    using QTextLayout::QTextLayout;
    QList<EmojiSlot> emoji;
};

std::unique_ptr<ParagraphLayout> paragraphLayout(const QString &paragraph, const QFont &font,
                                                 QPaintDevice *device, Qt::Alignment alignment,
                                                 bool singleLine)
{
    auto layout = std::make_unique<ParagraphLayout>(paragraph, font, device);
    // Kept after laying out: drawing would shape every glyph a second time.
    layout->setCacheEnabled(true);
    QTextOption option;
    option.setTextDirection(Qt::LayoutDirectionAuto);
    option.setWrapMode(singleLine ? QTextOption::NoWrap : QTextOption::WrapAtWordBoundaryOrAnywhere);
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
        const QString sequence = paragraph.mid(m.position, m.length);
        if (!isPictureEmoji(sequence))
            continue;
        const EmojiPicture picture = emojiPicture(sequence, font, device);
        layout->emoji.append({int(m.position), int(m.length), picture});
        ranges.append({int(m.position), int(m.length), picture.place});
    }
    layout->setFormats(ranges);
    return layout;
}

// Draws a laid out line, its emoji as pictures.
void drawLine(QPainter *painter, const QPointF &topLeft, const ParagraphLayout &layout, const QTextLine &line)
{
    const int lineStart = line.textStart(), lineEnd = line.textStart() + line.textLength();
    int from = lineStart;
    auto drawText = [&](int to) {
        if (to > from)
            for (const QGlyphRun &run : line.glyphRuns(from, to - from))
                painter->drawGlyphRun(topLeft, run);
    };
    for (const EmojiSlot &slot : layout.emoji) {
        if (slot.start + slot.length <= lineStart || slot.start >= lineEnd)
            continue;
        drawText(slot.start);
        const qreal a = line.cursorToX(slot.start), b = line.cursorToX(slot.start + slot.length);
        const EmojiPicture &p = slot.picture;
        if (!p.image.isNull()) {
            const QPointF pen(std::min(a, b), line.y() + line.ascent());
            painter->drawImage(p.box.translated(pen + topLeft), p.image);
        }
        from = slot.start + slot.length;
    }
    drawText(lineEnd);
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
        for (const QString &paragraph : normal.split(QLatin1Char('\n')))
            m_paragraphs.push_back(paragraphLayout(paragraph, font, device, alignment, singleLine));
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
        for (const auto &paragraph : m_paragraphs)
            for (int i = 0; i < paragraph->lineCount(); ++i)
                drawLine(painter, topLeft, *paragraph, paragraph->lineAt(i));
    }

private:
    QString m_text; // paragraphs joined by "\n"
    std::vector<std::unique_ptr<ParagraphLayout>> m_paragraphs;
};

// A line of a text laid out a window at a time (see LongTextCutter).
struct WindowLine
{
    std::shared_ptr<ParagraphLayout> layout;
    int index = 0;
};

// A text too long to lay out at once, laid out a bounded window at a time and
// cut into pieces no taller than a height, so that time and memory grow with the
// text's length alone. A text layout given a whole book as one paragraph takes
// time that grows with the square of its length, and memory many times its size.
//
// A window's lines are those a layout of the whole paragraph would make, but for
// its last, which may end only because the window does: that line is laid out
// again at the start of the next window.
class LongTextCutter
{
public:
    // Characters in one window: a few screens of text, laid out in a moment.
    static constexpr qsizetype kWindow = 2048;

    using Piece = std::function<void(const std::vector<WindowLine> &lines, bool last)>;
    using Progress = std::function<void(qint64 done, qint64 length)>;

    LongTextCutter(const QString &text, const QFont &font, QPaintDevice *device, Qt::Alignment alignment,
                   int width)
        : m_text(text), m_font(font), m_device(device), m_alignment(alignment), m_width(width)
    {
    }

    // Calls piece with the lines of each piece in order, the last one told so;
    // after each window, progress, which may raise to stop.
    void cut(int height, const Piece &piece, const Progress &progress)
    {
        std::vector<WindowLine> lines, pending;
        qreal linesHeight = 0;
        for (qsizetype paragraphStart = 0; paragraphStart <= m_text.size();) {
            qsizetype paragraphEnd = m_text.indexOf(QLatin1Char('\n'), paragraphStart);
            if (paragraphEnd < 0)
                paragraphEnd = m_text.size();
            qsizetype windowStart = paragraphStart;
            do {
                qsizetype windowEnd = std::min(paragraphEnd, windowStart + kWindow);
                // Never half a character: a pair of surrogates stays whole.
                if (windowEnd < paragraphEnd && windowEnd > windowStart + 1 &&
                    m_text.at(windowEnd).isLowSurrogate())
                    --windowEnd;
                const std::shared_ptr<ParagraphLayout> layout = paragraphLayout(
                    m_text.mid(windowStart, windowEnd - windowStart), m_font, m_device, m_alignment, false);
                layout->beginLayout();
                for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine())
                    line.setLineWidth(m_width);
                layout->endLayout();
                const int count = layout->lineCount();
                // The window's last line goes on in the next window, unless it is all there is.
                const int kept = windowEnd == paragraphEnd || count < 2 ? count : count - 1;
                for (int i = 0; i < kept; ++i) {
                    const qreal lineHeight = layout->lineAt(i).height();
                    if (linesHeight + lineHeight > height && !lines.empty()) {
                        if (!pending.empty())
                            piece(pending, false);
                        pending = std::move(lines);
                        lines.clear();
                        linesHeight = 0;
                    }
                    lines.push_back({layout, i});
                    linesHeight += lineHeight;
                }
                windowStart =
                    kept < count ? windowStart + std::max(1, layout->lineAt(kept).textStart()) : windowEnd;
                progress(windowStart, m_text.size());
            } while (windowStart < paragraphEnd);
            paragraphStart = paragraphEnd + 1;
        }
        if (!pending.empty())
            piece(pending, lines.empty());
        if (!lines.empty())
            piece(lines, true);
    }

private:
    const QString &m_text;
    QFont m_font;
    QPaintDevice *m_device;
    Qt::Alignment m_alignment;
    int m_width;
};

// A caption with its carrier emoji as Unicode emoji, which the emoji font draws.
QString captionText(const _ViberMsg *msg)
{
    const QString text = msg->text.toString();
    if (!Emoji::hasCarrierEmoji(text))
        return text;
    return Emoji::withUnicodeEmoji(text, QCoreApplication::translate("MessageText", "IDS_MSG_EMOJI"));
}

bool isFile(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isFile();
}

QString picturePath(const QString &relative)
{
    return QDir(MessageText::pictureFolder()).filePath(relative);
}

// Read once per thread: an export of many chats starts a painter for each.
QList<QImage> loadFrame(const QString &prefix)
{
    thread_local QHash<QString, QList<QImage>> frames;
    const QString first = picturePath(prefix + QStringLiteral("01.png"));
    if (const auto it = frames.constFind(first); it != frames.constEnd())
        return it.value();
    QList<QImage> pieces;
    for (int i = 1; i <= 9; ++i)
        pieces.append(QImage(picturePath(prefix + QStringLiteral("%1.png").arg(i, 2, 10, QLatin1Char('0')))));
    frames.insert(first, pieces);
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
        // With its time, as the bubble view shows it.
        c.notice = (msg->call ? MessageText::callTextWithParty(msg) : MessageText::plainText(msg)) +
                   QLatin1String("   ") + TimeText::time(msg->call ? msg->call->date : msg->date);
        return c;
    case ViberMsgTypeSystem:
        c.notice = MessageText::systemText(msg);
        if (msg->systemKind == ViberSystemKindCallLog)
            c.notice += QLatin1String("   ") + TimeText::time(msg->date);
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
        if (!msg->address().trimmed().isEmpty())
            lines << msg->address();
        // Where it is, as text: the page fetches no map.
        lines << MessageText::coordinatesText(msg);
        if (!msg->text.toString().trimmed().isEmpty())
            lines << captionText(msg);
        c.text = lines.join(QLatin1Char('\n'));
        break;
    }
    case ViberMsgTypeAudio:
        c.text =
            MessageText::contentText(msg) + QLatin1Char(' ') + TimeText::duration(att ? att->duration : 0);
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
        if (!msg->text.toString().trimmed().isEmpty())
            c.text += QLatin1Char('\n') + captionText(msg);
        break;
    }
    default:
        return c;
    }
    if (const QString preamble = MessageText::preambleText(msg); !preamble.isEmpty())
        c.text = c.text.isEmpty() ? preamble : preamble + QLatin1Char('\n') + c.text;
    // Text layout breaks lines at LF only; a CR LF or a lone CR would join two lines.
    // Asked first, so that a long text without one is not copied.
    if (c.text.contains(QLatin1Char('\r')))
        c.text.replace(QLatin1String("\r\n"), QLatin1String("\n"))
            .replace(QLatin1Char('\r'), QLatin1Char('\n'));
    c.time = TimeText::time(msg->date);
    c.outgoing = isOutgoing(msg);
    if (msg->chat && !msg->chat->groupId.isEmpty() && msg->person)
        c.header = personDisplayName(msg->person);
    return c;
}

QSize MessagePagePainter::pictureSize(const QString &path)
{
    QSize size;
    for (const char *format : {"JPEG", "PNG"}) {
        if (path.isEmpty())
            break;
        QImageReader reader(path, format);
        if (reader.canRead() && (size = reader.size()).isValid())
            break;
        size = QSize();
    }
    if (!size.isValid())
        size = QImageReader(picturePath(QStringLiteral("vbbb/empty_photo.jpg"))).size();
    return size.isValid() ? scaledPictureSize(size) : QSize();
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

bool MessagePagePainter::start(QPagedPaintDevice *device, bool counting)
{
    m_device = nullptr;
    m_counting = counting;
    m_page = 1;
    m_lastDay = QDate();
    if (!device || (!counting && !m_painter.begin(device)))
        return false;
    m_device = device;

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
    if (layout.mode() != QPageLayout::FullPageMode && !m_counting)
        m_painter.translate(-QPointF(layout.paintRectPixels(dpi).topLeft()));

    if (!m_counting)
        for (int kind = 0; kind < 3; ++kind)
            m_frames[kind] = loadFrame(style(BubbleKind(kind)).framePrefix);
    startPage();
    return true;
}

bool MessagePagePainter::end()
{
    if (m_counting) {
        const bool wasActive = m_device != nullptr;
        m_device = nullptr;
        return wasActive;
    }
    if (!m_painter.isActive())
        return false;
    return m_painter.end();
}

void MessagePagePainter::startPage()
{
    m_y = m_content.top();
    if (m_counting)
        return;
    m_painter.fillRect(m_content, backgroundColor());
    m_painter.setFont(textFont(10));
    m_painter.setPen(pageNumberColor());
    // Title above the content, page number below it, both in the margins.
    if (!m_pageTitle.isEmpty()) {
        const QRect title(m_content.left(), m_content.top() - kPageNumberGap - kPageNumberHeight,
                          m_content.width(), kPageNumberHeight);
        m_painter.drawText(
            title, Qt::AlignLeft | Qt::AlignVCenter,
            QFontMetrics(m_painter.font(), m_device).elidedText(m_pageTitle, Qt::ElideRight, title.width()));
    }
    const QRect box(m_content.left(), m_content.bottom() + 1 + kPageNumberGap, m_content.width(),
                    kPageNumberHeight);
    const QString number = m_pageCount > 0
                               ? QCoreApplication::translate("MessagePagePainter", "IDS_PDF_PAGE_%1_OF_%2")
                                     .arg(m_page)
                                     .arg(m_pageCount)
                               : QString::number(m_page);
    m_painter.drawText(box, Qt::AlignRight | Qt::AlignVCenter, number);
}

void MessagePagePainter::breakPage()
{
    if (!isActive() || m_y == m_content.top())
        return;
    if (!m_counting)
        m_device->newPage();
    ++m_page;
    startPage();
}

void MessagePagePainter::makeRoom(int height)
{
    // On a fresh page a new page would gain nothing: what is too tall runs off.
    if (fits(height, m_y, m_content) || m_y == m_content.top())
        return;
    breakPage();
}

void MessagePagePainter::paintHeading(const QString &title, const QString &participants, const QString &dates)
{
    if (!isActive())
        return;
    const int width = m_content.width();
    QFont titleFont = textFont(16);
    titleFont.setBold(true);
    struct Line
    {
        std::unique_ptr<WrappedText> text;
        QSize size;
        QColor color;
    };
    std::vector<Line> lines;
    const std::pair<QString, QFont> parts[] = {
        {title, titleFont}, {participants, textFont(10)}, {dates, textFont(10)}};
    int height = 0;
    for (const auto &[text, font] : parts) {
        if (text.trimmed().isEmpty())
            continue;
        Line line{std::make_unique<WrappedText>(text, font, m_device, Qt::AlignHCenter), QSize(),
                  lines.empty() ? QColor(Qt::black) : timeColor()};
        line.size = line.text->layout(width);
        height += line.size.height() + kLineSpacing;
        lines.push_back(std::move(line));
    }
    if (lines.empty())
        return;
    makeRoom(height);
    if (!m_counting) {
        int y = m_y;
        for (const Line &line : lines) {
            line.text->draw(&m_painter, QPoint(m_content.left(), y), line.color);
            y += line.size.height() + kLineSpacing;
        }
    }
    m_y += height + kItemSpacing;
}

QSize MessagePagePainter::headerSize(const QString &header, int width) const
{
    if (header.isEmpty())
        return QSize();
    WrappedText name(header, textFont(12), m_device, Qt::AlignLeft | Qt::AlignAbsolute, true);
    QSize size = name.layout(width);
    size.setWidth(std::min(size.width(), width));
    return size;
}

QSize MessagePagePainter::timeSize(const QString &time) const
{
    if (time.isEmpty())
        return QSize();
    const QFontMetrics metrics(textFont(10), m_device);
    return QSize(metrics.horizontalAdvance(time), metrics.height());
}

void MessagePagePainter::drawLongText(BubbleKind kind, const QString &text, const QString &header,
                                      const QString &time)
{
    const BubbleStyle &s = style(kind);
    const int innerMaximum = std::max(1, maximumBubbleWidth(m_content) - s.insets.left() - s.insets.right());
    // Bubbles of a page each, as a text longer than a page goes on in the short way;
    // each line is laid out once, and drawn from that layout.
    const int frame =
        bubbleSize(kind, QSize(0, 0), timeSize(time), headerSize(header, innerMaximum)).height();
    const Qt::Alignment alignment = kind == BubbleKind::Notice ? Qt::AlignHCenter : Qt::AlignLeading;
    LongTextCutter cutter(text, textFont(s.pointSize), m_device, alignment, innerMaximum);
    bool first = true;
    const auto piece = [&](const std::vector<WindowLine> &lines, bool last) {
        qreal width = 0, height = 0;
        for (const WindowLine &l : lines) {
            const QTextLine line = l.layout->lineAt(l.index);
            width = std::max(width, line.naturalTextWidth());
            height += line.height();
        }
        const QSize body(int(std::ceil(width)), int(std::ceil(height)));
        placeBubble(kind, body, first ? header : QString(), last ? time : QString(),
                    [&](const QRect &inner, int top) {
                        m_painter.setPen(Qt::black);
                        qreal y = top;
                        for (const WindowLine &l : lines) {
                            const QTextLine line = l.layout->lineAt(l.index);
                            // Laid out across the widest bubble: a line that keeps to the right
                            // or the centre moves with this bubble's edge.
                            const Qt::Alignment a = l.layout->textOption().alignment();
                            const qreal shift = (a & Qt::AlignRight) ? inner.width() - innerMaximum
                                                : (a & Qt::AlignHCenter)
                                                    ? (inner.width() - innerMaximum) / 2.0
                                                    : 0;
                            const QPointF origin(inner.left() + shift, y - line.y());
                            if (l.layout->emoji.isEmpty())
                                line.draw(&m_painter, origin);
                            else
                                drawLine(&m_painter, origin, *l.layout, line);
                            y += line.height();
                        }
                    });
        first = false;
    };
    cutter.cut(std::max(1, m_content.height() - frame), piece, [this](qint64 done, qint64 length) {
        if (m_progress)
            m_progress(done, length);
    });
}

void MessagePagePainter::drawBubble(BubbleKind kind, const QString &text, const QImage &picture,
                                    const QString &header, const QString &time)
{
    if (picture.isNull() && text.size() > kLongText) {
        drawLongText(kind, text, header, time);
        return;
    }
    const BubbleStyle &s = style(kind);
    const int horizontal = s.insets.left() + s.insets.right();
    const int innerMaximum = std::max(1, maximumBubbleWidth(m_content) - horizontal);

    const Qt::Alignment alignment = kind == BubbleKind::Notice ? Qt::AlignHCenter : Qt::AlignLeading;
    WrappedText body(text, textFont(s.pointSize), m_device, alignment);
    QSize bodySize = picture.isNull() ? body.layout(innerMaximum) : picture.size();
    // A caption goes under its picture, in the same bubble, as the chat shows it.
    const bool captioned = !picture.isNull() && !QStringView(text).trimmed().isEmpty();
    int captionTop = 0;
    if (captioned) {
        const QSize caption = body.layout(innerMaximum);
        captionTop = picture.height() + kLineSpacing;
        bodySize = QSize(std::max(picture.width(), caption.width()), captionTop + caption.height());
        if (bubbleSize(kind, bodySize, timeSize(time), headerSize(header, innerMaximum)).height() >
            m_content.height()) {
            // Taller than a page together: the picture, then the caption on its own.
            drawBubble(kind, QString(), picture, header, QString());
            drawBubble(kind, text, QImage(), QString(), time);
            return;
        }
    }

    const QSize size = bubbleSize(kind, bodySize, timeSize(time), headerSize(header, innerMaximum));
    if (picture.isNull() && size.height() > m_content.height()) {
        // A text longer than a page goes on in bubbles of its own on the next pages,
        // the name on the first and the time on the last.
        const int frame =
            bubbleSize(kind, QSize(0, 0), timeSize(time), headerSize(header, innerMaximum)).height();
        const QStringList pieces = body.pieces(m_content.height() - frame);
        if (pieces.size() > 1) {
            for (qsizetype i = 0; i < pieces.size(); ++i)
                drawBubble(kind, pieces.at(i), picture, i == 0 ? header : QString(),
                           i == pieces.size() - 1 ? time : QString());
            return;
        }
    }
    placeBubble(kind, bodySize, header, time, [&](const QRect &inner, int top) {
        if (picture.isNull()) {
            // Laid out again across the whole text area, so that right-to-left
            // paragraphs end at its right edge.
            body.layout(inner.width());
            body.draw(&m_painter, QPoint(inner.left(), top), Qt::black);
        } else {
            m_painter.drawImage(QPoint(inner.left(), top), picture);
            if (captioned) {
                body.layout(inner.width());
                body.draw(&m_painter, QPoint(inner.left(), top + captionTop), Qt::black);
            }
        }
    });
}

void MessagePagePainter::placeBubble(BubbleKind kind, const QSize &body, const QString &header,
                                     const QString &time,
                                     const std::function<void(const QRect &, int)> &paintBody)
{
    const BubbleStyle &s = style(kind);
    const int innerMaximum = std::max(1, maximumBubbleWidth(m_content) - s.insets.left() - s.insets.right());
    std::unique_ptr<WrappedText> name;
    QSize headerBox;
    if (!header.isEmpty()) {
        // Names start at the bubble's left, in whatever script they are written.
        name = std::make_unique<WrappedText>(header, textFont(12), m_device,
                                             Qt::AlignLeft | Qt::AlignAbsolute, true);
        headerBox = name->layout(innerMaximum);
        headerBox.setWidth(std::min(headerBox.width(), innerMaximum));
    }
    const QSize timeBox = timeSize(time);
    const QSize size = bubbleSize(kind, body, timeBox, headerBox);
    makeRoom(size.height());
    int x = m_content.left();
    if (kind == BubbleKind::Outgoing)
        x = m_content.right() + 1 - size.width();
    else if (kind == BubbleKind::Notice)
        x = m_content.left() + (m_content.width() - size.width()) / 2;
    const QRect rect(QPoint(x, m_y), size);
    if (m_counting) {
        m_y += size.height() + kItemSpacing;
        return;
    }
    drawFrame(&m_painter, rect, s.slices, m_frames[int(kind)]);

    const QRect inner = rect.marginsRemoved(s.insets);
    int top = inner.top();
    if (name) {
        // A long name is cut at the bubble's edge rather than widening it.
        m_painter.save();
        m_painter.setClipRect(QRect(inner.topLeft(), QSize(inner.width(), headerBox.height())));
        name->layout(inner.width());
        name->draw(&m_painter, inner.topLeft(), headerColor());
        m_painter.restore();
        top += headerBox.height() + kLineSpacing;
    }
    paintBody(inner, top);
    if (!time.isEmpty()) {
        m_painter.setFont(textFont(10));
        m_painter.setPen(timeColor());
        m_painter.drawText(
            QRect(QPoint(inner.right() + 1 - timeBox.width(), inner.bottom() + 1 - timeBox.height()),
                  timeBox),
            Qt::AlignRight | Qt::AlignVCenter, time);
    }
    m_y += size.height() + kItemSpacing;
}

void MessagePagePainter::paint(const _ViberMsg *msg)
{
    if (!msg || !isActive())
        return;
    const QDate day = storeTimeToDateTime(msg->date).date();
    if (day != m_lastDay) {
        drawBubble(BubbleKind::Notice, TimeText::day(msg->date), QImage(), QString(), QString());
        m_lastDay = day;
    }

    const Content c = content(msg);
    if (!c.notice.isEmpty()) {
        drawBubble(BubbleKind::Notice, c.notice, QImage(), QString(), QString());
        return;
    }
    const BubbleKind kind = c.outgoing ? BubbleKind::Outgoing : BubbleKind::Incoming;
    if (c.picture) {
        // Counting needs the picture's size alone: read from its header, not decoded.
        const QImage picture = m_counting ? QImage(pictureSize(c.picturePath), QImage::Format_RGB32)
                                          : loadPicture(c.picturePath);
        if (!picture.isNull()) {
            // With its caption in one bubble; a caption too long for that follows in its own.
            const bool caption = c.text.size() <= kLongText;
            drawBubble(kind, caption ? c.text : QString(), picture, c.header, c.time);
            if (caption)
                return;
        }
    }
    if (!QStringView(c.text).trimmed().isEmpty())
        drawBubble(kind, c.text, QImage(), c.header, c.time);
}

#include "MessageMetadata.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// The extra columns that carry a message's metadata.
constexpr char kMetadataKey[] = "ZMETADATA";
constexpr char kClientFlagKey[] = "ClientFlag";

// Keys are looked up without regard to case: the app's versions spell them differently.
QJsonValue member(const QJsonObject &o, const char *key)
{
    const QLatin1String wanted(key);
    for (auto it = o.constBegin(); it != o.constEnd(); ++it)
        if (it.key().compare(wanted, Qt::CaseInsensitive) == 0)
            return it.value();
    return QJsonValue();
}

QJsonObject object(const QJsonObject &o, const char *key)
{
    return member(o, key).toObject();
}

// A text, or a number written as one.
QString text(const QJsonObject &o, std::initializer_list<const char *> keys)
{
    for (const char *key : keys) {
        const QJsonValue v = member(o, key);
        if (v.isString() && !v.toString().isEmpty())
            return v.toString();
        if (v.isDouble())
            return QString::number(v.toDouble(), 'g', 15);
    }
    return QString();
}

double number(const QJsonObject &o, const char *key)
{
    const QJsonValue v = member(o, key);
    if (v.isString())
        return v.toString().toDouble();
    const double d = v.toDouble();
    return d == d ? d : 0; // NaN cannot come from JSON, but keep every value a number
}

qint64 integer(const QJsonObject &o, const char *key)
{
    const double d = number(o, key);
    return d > -9.0e15 && d < 9.0e15 ? qint64(d) : 0;
}

void collectTexts(const QJsonValue &value, QStringList &out, int depth)
{
    // A hostile document may nest deeper than any message does.
    if (depth > 32)
        return;
    if (value.isArray()) {
        for (const QJsonValue &v : value.toArray())
            collectTexts(v, out, depth + 1);
    } else if (value.isObject()) {
        const QJsonObject o = value.toObject();
        for (auto it = o.constBegin(); it != o.constEnd(); ++it) {
            const QString key = it.key().toLower();
            if (it.value().isString()) {
                if (key == QLatin1String("text") || key == QLatin1String("title") ||
                    key == QLatin1String("caption")) {
                    const QString t = it.value().toString().trimmed();
                    if (!t.isEmpty())
                        out.append(t);
                }
            } else {
                collectTexts(it.value(), out, depth + 1);
            }
        }
    }
}

} // namespace

MessageMetadata MessageMetadata::parse(const QString &json)
{
    MessageMetadata m;
    if (json.isEmpty())
        return m;
    const QJsonObject root = QJsonDocument::fromJson(json.toUtf8()).object();
    if (root.isEmpty())
        return m;

    const QJsonObject quote = object(root, "quote");
    m.quote.name = text(quote, {"name", "senderName", "memberName"});
    m.quote.text = text(quote, {"text", "body"});
    m.quote.attachmentName = text(quote, {"attachmentName", "fileName"});

    const QJsonValue forward = member(root, "generalFwdInfo");
    if (forward.isObject()) {
        m.forwarded = true;
        const QJsonObject f = forward.toObject();
        m.forwardedFrom = text(f, {"name", "senderName", "originalSenderName", "from"});
        if (m.forwardedFrom.isEmpty())
            m.forwardedFrom = text(object(f, "origin"), {"name"});
    }

    const QJsonObject file = object(root, "fileInfo");
    m.file.name = text(file, {"FileName"});
    m.file.extension = text(file, {"FileExt"});
    m.file.contentType = text(file, {"ContentType"});
    m.file.size = integer(file, "FileSize");

    const QJsonObject poll = object(root, "poll");
    m.pollQuestion = text(poll, {"question", "text", "title"});
    for (const QJsonValue &option : member(poll, "options").toArray()) {
        const QString t =
            option.isString() ? option.toString() : text(option.toObject(), {"name", "text", "title"});
        if (!t.isEmpty())
            m.pollOptions.append(t);
    }

    const QJsonValue pin = member(root, "pin");
    m.pinText = pin.isString() ? pin.toString() : text(pin.toObject(), {"text", "title"});

    return m;
}

MessageMetadata MessageMetadata::of(const _ViberMsg *msg)
{
    // A search asks this of every message.
    if (!mayHoldExtraColumn(msg, {kMetadataKey, kClientFlagKey}))
        return MessageMetadata();
    const QVariantMap columns = readExtraColumns(msg);
    MessageMetadata meta = parse(columns.value(QLatin1String(kMetadataKey)).toString());
    meta.edited = columns.value(QLatin1String(kClientFlagKey)).toLongLong() & kDesktopEditedFlag;
    return meta;
}

QString MessageMetadata::formattedText(const QString &text)
{
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8());
    if (doc.isNull())
        return text;
    QStringList parts;
    collectTexts(doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object()), parts, 0);
    return parts.join(QLatin1Char('\n'));
}

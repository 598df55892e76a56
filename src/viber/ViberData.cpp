#include "ViberData.h"

#include "TinyKv.h"

#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <vector>

// The size a million loaded messages are counted in; a new field costs them 16 MB.
static_assert(sizeof(void *) != 8 || sizeof(_ViberMsg) <= 168,
              "a message record outgrew its allocation size");

ViberData::~ViberData()
{
    qDeleteAll(chats);
    qDeleteAll(persons);
    qDeleteAll(messages);
    qDeleteAll(attachments);
    qDeleteAll(calls);
}

ViberDataPtr makeEmptyViberData()
{
    return std::make_shared<ViberData>();
}

QString personDisplayName(const _ViberPerson *person)
{
    return person->name.isEmpty() ? person->phone : person->name;
}

QString personLabel(const _ViberPerson *person)
{
    if (person->phone.isEmpty())
        return person->name.trimmed();
    if (!person->name.isEmpty())
        return isolatedText(person->name) + QStringLiteral("(%1)").arg(person->phone);
    return person->phone;
}

QString isolatedText(const QString &text)
{
    bool needed = false;
    for (qsizetype i = 0; i < text.size() && !needed; ++i) {
        const char16_t u = text.at(i).unicode();
        if ((u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069) || u == 0x200F || u == 0x061C) {
            needed = true;
            break;
        }
        char32_t cp = u;
        if (QChar::isHighSurrogate(u) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            cp = QChar::surrogateToUcs4(u, text.at(++i).unicode());
        const QChar::Direction d = QChar::direction(cp);
        needed = d == QChar::DirR || d == QChar::DirAL;
    }
    if (!needed)
        return text;
    return QChar(0x2068) + text + QChar(0x2069);
}

qint64 personPhoneNumber(const _ViberPerson *person)
{
    QString digits;
    for (QChar c : person->phone)
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            digits.append(c);
    return digits.isEmpty() ? 0 : digits.toLongLong();
}

QString phoneDigits(const QString &text)
{
    QString digits;
    for (QChar c : text) {
        const ushort u = c.unicode();
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z'))
            return text;
        if (u >= '0' && u <= '9')
            digits.append(c);
    }
    return digits;
}

bool isOutgoing(const _ViberMsg *msg)
{
    // A call entry carries no state of its own: the call's direction decides.
    if (msg->type == ViberMsgTypeCall)
        return msg->call && isOutgoingCall(msg->call->type);
    if (msg->state == ViberMsgStateReceived)
        return false;
    if (msg->type == ViberMsgTypeSystem && isNoticeKind(msg->systemKind))
        return false;
    return true;
}

bool isOutgoingCall(ViberCallType type)
{
    return type == ViberCallTypeOutgoing || type == ViberCallTypeOutgoingVideo ||
           type == ViberCallTypeOutgoingViberOut;
}

ViberCallType callTypeFromStoreText(const QString &text)
{
    const auto has = [&](const char *word) {
        return text.contains(QLatin1String(word), Qt::CaseInsensitive);
    };
    const bool video = has("video");
    if (has("incoming"))
        return video ? ViberCallTypeIncomingVideo : ViberCallTypeIncoming;
    if (has("outgoing")) {
        if (has("viber_out"))
            return ViberCallTypeOutgoingViberOut;
        return video ? ViberCallTypeOutgoingVideo : ViberCallTypeOutgoing;
    }
    if (has("missed"))
        return video ? ViberCallTypeMissedVideo : ViberCallTypeMissed;
    return ViberCallTypeUnknown;
}

QString callTypeToStoreText(ViberCallType type)
{
    switch (type) {
    case ViberCallTypeIncoming:
        return QStringLiteral("incoming");
    case ViberCallTypeOutgoing:
        return QStringLiteral("outgoing_viber");
    case ViberCallTypeMissed:
        return QStringLiteral("missed");
    case ViberCallTypeIncomingVideo:
        return QStringLiteral("incoming_with_video");
    case ViberCallTypeOutgoingVideo:
        return QStringLiteral("outgoing_viber_with_video");
    case ViberCallTypeMissedVideo:
        return QStringLiteral("missed_with_video");
    case ViberCallTypeOutgoingViberOut:
        return QStringLiteral("outgoing_viber_out");
    case ViberCallTypeUnknown:
        break;
    }
    return QString();
}

namespace {

struct SystemKindName
{
    ViberSystemKind kind;
    const char *name;
};

const SystemKindName kSystemKindNames[] = {
    {ViberSystemKindNameChanged, "systemNameChanged"},
    {ViberSystemKindMemberAdded, "systemMemberAdded"},
    {ViberSystemKindFormatted, "formatted"},
    {ViberSystemKindUrl, "url"},
    {ViberSystemKindCallLog, "systemCallLog"},
    {ViberSystemKindSelfAdded, "systemSelfAdded"},
    {ViberSystemKindIconChanged, "systemIconChanged"},
    {ViberSystemKindMessageRemoved, "systemGeneralMessageRemoved"},
    {ViberSystemKindPinCreated, "systemPinnedMessageCreated"},
};

} // namespace

ViberSystemKind systemKindFromStoreText(const QString &text)
{
    if (text.isEmpty())
        return ViberSystemKindNone;
    for (const SystemKindName &k : kSystemKindNames)
        if (text.compare(QLatin1String(k.name), Qt::CaseInsensitive) == 0)
            return k.kind;
    return ViberSystemKindOther;
}

QString systemKindToStoreText(ViberSystemKind kind)
{
    for (const SystemKindName &k : kSystemKindNames)
        if (k.kind == kind)
            return QLatin1String(k.name);
    return QString();
}

bool isNoticeKind(ViberSystemKind kind)
{
    return kind != ViberSystemKindNone && kind != ViberSystemKindFormatted && kind != ViberSystemKindUrl;
}

ViberChatKind chatKind(const _ViberChat *chat)
{
    if (!chat || chat->other.isEmpty())
        return ViberChatKind::Chat;
    switch (readExtraColumns(chat).value(QStringLiteral("ZSUBTYPE")).toInt()) {
    case 3:
        return ViberChatKind::Channel;
    case 5:
        return ViberChatKind::MyNotes;
    default:
        return ViberChatKind::Chat;
    }
}

ViberMsgState msgStateFromStoreText(const QString &text)
{
    const QString t = text.toLower();
    if (t == QLatin1String("delivered") || t == QLatin1String("sending"))
        return ViberMsgStateDelivered;
    if (t == QLatin1String("received"))
        return ViberMsgStateReceived;
    if (t == QLatin1String("send"))
        return ViberMsgStateSend;
    if (t == QLatin1String("pendingnotsent") || t == QLatin1String("pending"))
        return ViberMsgStatePending;
    return ViberMsgStateNone;
}

QString msgStateToStoreText(ViberMsgState state)
{
    switch (state) {
    case ViberMsgStateDelivered:
        return QStringLiteral("delivered");
    case ViberMsgStateReceived:
        return QStringLiteral("received");
    case ViberMsgStateSend:
        return QStringLiteral("send");
    case ViberMsgStatePending:
        return QStringLiteral("pendingNotSent");
    case ViberMsgStateNone:
        break;
    }
    return QString();
}

namespace {

// Store times come from files: a NaN or a huge value must not reach an integer cast.
qint64 truncateToInt64(double v)
{
    if (!(v > -9.2e18 && v < 9.2e18))
        return 0;
    return qint64(v);
}

} // namespace

QDateTime storeTimeToDateTime(double storeTime)
{
    return QDateTime::fromSecsSinceEpoch(storeTimeToSecs(storeTime), Qt::LocalTime);
}

qint64 storeTimeToSecs(double storeTime)
{
    // Seconds become milliseconds inside Qt: beyond ten million years, where no real
    // date lies, the value counts as 0 like a NaN.
    const double seconds = std::fabs(storeTime) < 3e14 ? storeTime : 0.0;
    return kStoreTimeEpochOffset + truncateToInt64(seconds);
}

qint64 storeTimeToMSecs(double storeTime)
{
    return truncateToInt64((storeTime + double(kStoreTimeEpochOffset)) * 1000.0);
}

double storeTimeOfToken(qint64 token)
{
    // The upper bits count milliseconds from Viber's own epoch.
    return token > 0 ? msecsToStoreTime((token >> 22) + Q_INT64_C(292057776050)) : 0;
}

double msecsToStoreTime(qint64 msecs)
{
    return double(msecs) / 1000.0 - double(kStoreTimeEpochOffset);
}

double unixSecsToStoreTime(quint32 unixSecs)
{
    return double(qint32(unixSecs - quint32(kStoreTimeEpochOffset)));
}

QVariantMap readExtraColumns(const _ViberEntity *record)
{
    return record->other.isEmpty() ? QVariantMap() : tinykv::deserialize(record->other);
}

bool mayHoldExtraColumn(const _ViberEntity *record, std::initializer_list<const char *> columns)
{
    if (!record || record->other.isEmpty())
        return false;
    for (const char *column : columns)
        if (record->other.contains(column))
            return true;
    return false;
}

void writeExtraColumns(_ViberEntity *record, const QVariantMap &columns)
{
    QByteArray out;
    record->other = tinykv::serialize(columns, out) ? out : QByteArray();
}

QString photoAssetId(const _ViberAtta *attachment)
{
    static const QRegularExpression re(
        QStringLiteral("^assets-library://asset/[^/\\?=]+\\?id=([a-zA-Z0-9\\-]+)"),
        QRegularExpression::CaseInsensitiveOption);
    const QString url = readExtraColumns(attachment).value(QStringLiteral("ZURL")).toString();
    const QRegularExpressionMatch m = re.match(url);
    return m.hasMatch() ? m.captured(1).toUpper() : QString();
}

// Messages of one date keep the store's own order: its sequence number where it has
// one, then its key. A copy keeps both (it writes the sequence and hands out keys in
// this order), so a store and every copy of it show ties alike. Call entries, whose
// keys are their calls', follow the messages of their date.
namespace {

// What decides a message's place among others of a list.
struct DateKey
{
    double date;
    qint64 seq;
    qint64 key;
    bool call;

    explicit DateKey(const _ViberMsg *m)
        : date(m->date), seq(m->seq), key(m->type == ViberMsgTypeCall && m->call ? m->call->id : m->id),
          call(m->type == ViberMsgTypeCall)
    {
    }
    // A date that is no number comes first: each comparison must agree with the
    // others, or a sort may read out of bounds.
    static int compareDates(double a, double b)
    {
        const bool aNan = std::isnan(a), bNan = std::isnan(b);
        if (aNan || bNan)
            return int(bNan) - int(aNan);
        return a < b ? -1 : b < a ? 1 : 0;
    }
    int compare(const DateKey &o) const
    {
        if (const int dates = compareDates(date, o.date))
            return dates;
        if (call != o.call)
            return call ? 1 : -1;
        if (seq != o.seq)
            return seq < o.seq ? -1 : 1;
        return key < o.key ? -1 : key > o.key ? 1 : 0;
    }
};

} // namespace

bool msgDateLess(const _ViberMsg *a, const _ViberMsg *b)
{
    return DateKey(a).compare(DateKey(b)) < 0;
}

void sortByDate(QList<_ViberMsg *> &messages, bool descending)
{
    // By date alone first, from small entries; then each run of one date by the whole
    // key. Ties keep the list's order, as in a stable sort.
    struct Entry
    {
        double date;
        qsizetype at;
    };
    const QList<_ViberMsg *> unsorted = messages;
    std::vector<Entry> entries;
    entries.reserve(size_t(unsorted.size()));
    constexpr qsizetype kAhead = 8;
    for (qsizetype i = 0; i < unsorted.size(); ++i) {
        if (i + kAhead < unsorted.size())
            fetchAhead(unsorted.at(i + kAhead));
        entries.push_back({unsorted.at(i)->date, i});
    }
    const int sign = descending ? -1 : 1;
    std::sort(entries.begin(), entries.end(), [sign](const Entry &a, const Entry &b) {
        const int order = DateKey::compareDates(a.date, b.date) * sign;
        return order != 0 ? order < 0 : a.at < b.at;
    });
    const auto less = descending ? msgDateNotLess : msgDateLess;
    for (size_t run = 0; run < entries.size();) {
        size_t end = run + 1;
        while (end < entries.size() && DateKey::compareDates(entries[end].date, entries[run].date) == 0)
            ++end;
        for (size_t i = run; i < end; ++i)
            messages[qsizetype(i)] = unsorted.at(entries[i].at);
        if (end - run > 1)
            std::stable_sort(messages.begin() + qsizetype(run), messages.begin() + qsizetype(end), less);
        run = end;
    }
}

// "Not older" as a literal complement is true for equal dates, which is no strict
// ordering and makes std::sort read out of bounds; newer-first is what sorts use.
bool msgDateNotLess(const _ViberMsg *a, const _ViberMsg *b)
{
    return msgDateLess(b, a);
}

bool chatDateGreater(const _ViberChat *a, const _ViberChat *b)
{
    return a->date > b->date;
}

bool callDateLess(const _ViberCall *a, const _ViberCall *b)
{
    return a->date < b->date;
}

bool callDateNotLess(const _ViberCall *a, const _ViberCall *b)
{
    return b->date < a->date;
}

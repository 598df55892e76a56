#include "PCViberDb.h"

#include "MessageMetadata.h"

#include "StorePaths.h"
#include "app/Platform.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

const QString kDbName = u"viber.db"_s;

// A link is shown as its text and an audio file as a file: the model has no kinds of their own.
enum class Kind { None, Text, Link, Picture, Video, Sticker, Voice, Location, AudioFile };

// The classic layout's message kinds, tested in this order: the first set bit decides.
struct KindBit
{
    qint64 bit;
    Kind kind;
};
const KindBit kClassicKinds[] = {{0x40, Kind::Text},   {0x80, Kind::Picture},    {0x10000, Kind::Voice},
                                 {0x200, Kind::Video}, {0x1000, Kind::Location}, {0x800, Kind::Sticker}};

Kind classicKind(qint64 flags)
{
    for (const KindBit &k : kClassicKinds)
        if (flags & k.bit)
            return k.kind;
    return Kind::None;
}

// The message types of the 2017 and later clients, as the open readers of their files list them.
Kind contactsKind(qint64 type)
{
    switch (type) {
    case 0:
    case 1:
    case 15:
        return Kind::Text;
    case 2:
        return Kind::Picture;
    case 3:
    case 7: // an instant video: a video like any other once recorded
        return Kind::Video;
    case 4:
        return Kind::Sticker;
    case 6:
        return Kind::Voice;
    case 9:
        return Kind::Link;
    case 11:
        return Kind::AudioFile;
    default:
        return Kind::None;
    }
}

// The participant the 2017 and later clients write for the account's owner.
constexpr qint64 kOwnerContactId = 1;

// Times beyond the year 9999 (a damaged or hostile file) are held there, so that no
// conversion overflows and every date stays one a QDateTime can show.
constexpr qint64 kLatestSecs = 253402300799;

qint64 msecsOf(qint64 raw, bool millis)
{
    if (millis)
        return std::clamp(raw, -kLatestSecs * 1000, kLatestSecs * 1000);
    return std::clamp(raw, -kLatestSecs, kLatestSecs) * 1000;
}

struct MapPoint
{
    double latitude = 0;
    double longitude = 0;
};

// One coordinate as the file holds it: an integer of millionths of a degree (how the clients
// write them, a Kyiv longitude of 30.5234 as 30523400), or, with a point, degrees. The sign is
// kept: places west of Greenwich and south of the equator are negative. Empty when it is no number.
std::optional<double> degreesAt(const Sqlite3Cursor &c, int index)
{
    if (index < 0 || c.isNullAt(index))
        return 0.0;
    const QString text = c.getTextAt(index).trimmed();
    bool ok = false;
    const qint64 millionths = text.toLongLong(&ok);
    if (ok)
        return double(millionths) / 1e6;
    const double degrees = text.toDouble(&ok);
    if (ok && std::isfinite(degrees))
        return degrees;
    return std::nullopt;
}

// A pair that is no place on the globe at that scale was written at another one this version
// cannot tell: the message keeps its text without a map point rather than show a wrong place.
MapPoint mapPointAt(const Sqlite3Cursor &c, int latitudeCol, int longitudeCol)
{
    const std::optional<double> latitude = degreesAt(c, latitudeCol);
    const std::optional<double> longitude = degreesAt(c, longitudeCol);
    if (!latitude || !longitude || std::fabs(*latitude) > 90 || std::fabs(*longitude) > 180)
        return {};
    return {*latitude, *longitude};
}

// An id as the file holds it: an integer, or text or a real that is one. Anything else
// (NULL, a blob, "abc", 1.5) is no id; reading those as 0 would join unrelated rows.
std::optional<qint64> idAt(const Sqlite3Cursor &c, int index)
{
    if (index < 0 || c.isNullAt(index))
        return std::nullopt;
    const QString text = c.getTextAt(index).trimmed();
    bool ok = false;
    const qint64 v = text.toLongLong(&ok);
    if (ok)
        return v;
    const double d = text.toDouble(&ok);
    if (ok && std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 9.0e18)
        return qint64(d);
    return std::nullopt;
}

QString withSlashes(QString path)
{
    return path.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

// Milliseconds of the file become whole seconds; negative ones none.
double secondsOfMsecs(qint64 msecs)
{
    return msecs > 0 ? double(msecs / 1000) : 0.0;
}

// What Messages.Info of the 2017 and later clients says of a message's file; anything
// malformed says nothing.
struct FileInfo
{
    QString name;
    qint64 size = 0;
    std::optional<double> duration; // seconds
};

FileInfo fileInfoOf(const QString &info)
{
    FileInfo out;
    if (info.isEmpty())
        return out;
    const QJsonObject file = QJsonDocument::fromJson(info.toUtf8()).object().value(u"fileInfo"_s).toObject();
    // Only the name: the sender's folders are no part of it, and no path may lead out of a folder.
    out.name = QFileInfo(withSlashes(file.value(u"FileName"_s).toString())).fileName();
    if (out.name == u".."_s)
        out.name.clear();
    out.size = std::max<qint64>(0, qint64(file.value(u"FileSize"_s).toDouble()));
    const QJsonValue duration = file.value(u"Duration"_s);
    if (duration.isDouble() && duration.toDouble() > 0)
        out.duration = std::floor(std::min(duration.toDouble(), 1e15) / 1000);
    return out;
}

// A group must be known by an id, which these files give only in a token, if at all. Without
// one it is a number made from the account and the chat: the chat's own number would make
// groups of two accounts copied into one database one group.
QString madeUpGroupId(const QString &account, qint64 chatId)
{
    const QByteArray hash = QCryptographicHash::hash((account + u':' + QString::number(chatId)).toUtf8(),
                                                     QCryptographicHash::Sha1);
    quint64 n = 0;
    for (int i = 0; i < 7; ++i)
        n = (n << 8) | uchar(hash.at(i));
    return QString::number(n);
}

QString quoted(const QString &name)
{
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QLatin1String("\"\"")) +
           QLatin1Char('"');
}

} // namespace

struct PCViberDb::LoadContext
{
    ViberDataPtr data;
    bool millis = false;
    QHash<QString, _ViberPerson *> personByNumber; // the first row of a number wins
    QString pttFolder;                             // where voice messages without a path are
    LoadAccount *account = nullptr;
    QString accountName; // the folder of the file, named by the account
    // The owner's participant, never a member of a chat: the 2017 and later clients list
    // the owner in every chat and name the owner as the author of what the owner sent.
    std::optional<qint64> ownerId;

    // What the 2017 and later clients say of a chat; one-to-one or group is told from its
    // members once they are all read.
    struct ChatFacts
    {
        QString name;
        QString token;
        QList<_ViberPerson *> others; // the members besides the owner
        bool hasRoles = false;        // members with a role: only groups have them
    };
    QHash<qint64, ChatFacts> chatFacts;

    QString noKey() const { return PCViberDb::tr("IDS_LEFT_OUT_NO_KEY"); }
    QString noChat() const { return PCViberDb::tr("IDS_LEFT_OUT_NO_CHAT"); }
    QString repeatedKey() const { return PCViberDb::tr("IDS_LEFT_OUT_REPEATED_KEY"); }

    std::function<void(int)> progress;
    void report(int percent) const
    {
        if (progress)
            progress(percent);
    }

    // The participant a row of Events or ChatRelation refers to; null when none.
    _ViberPerson *person(const Sqlite3Cursor &c, int index, bool byNumber) const
    {
        if (byNumber) {
            const QString number = c.getTextAt(index);
            return number.isEmpty() ? nullptr : personByNumber.value(number);
        }
        const std::optional<qint64> id = idAt(c, index);
        return id ? data->persons.value(*id) : nullptr;
    }

    bool isOwner(const _ViberPerson *person) const { return person && ownerId && person->id == *ownerId; }

    // The one person besides the owner of a one-to-one chat; null for a group.
    static _ViberPerson *otherParty(const _ViberChat *chat)
    {
        return chat->groupId.isEmpty() && chat->participants.size() == 1 ? chat->participants.cbegin().value()
                                                                         : nullptr;
    }

    // A participant for a number no row of the participants' table holds (a call to a phone
    // outside Viber): read, and counted as made up for the call.
    _ViberPerson *madeUpPerson(const QString &number)
    {
        if (_ViberPerson *known = personByNumber.value(number))
            return known;
        qint64 id = 1;
        for (auto it = data->persons.cbegin(); it != data->persons.cend(); ++it)
            if (it.key() >= id && it.key() < std::numeric_limits<qint64>::max())
                id = it.key() + 1;
        while (data->persons.contains(id))
            --id;
        auto *person = new _ViberPerson;
        person->id = id;
        person->phone = number;
        data->persons.insert(id, person);
        personByNumber.insert(number, person);
        account->addRead(LoadAccount::People);
        account->addMadeUp(LoadAccount::People);
        return person;
    }
};

QString PCViberAccount::sourceName() const
{
    return u"ViberPC-"_s + name;
}

PCViberDb::PCViberDb(const QString &dbPath)
    : AbsViberDb(QFileInfo(dbPath).absoluteDir(), QFileInfo(dbPath).fileName(), false)
{
}

PCViberDb::~PCViberDb() = default;

QStringList PCViberDb::desktopFolders()
{
    return userAppDataFolders(u"ViberPC"_s);
}

QList<PCViberAccount> PCViberDb::findAccounts()
{
    QList<PCViberAccount> accounts;
    QSet<QString> seen; // one folder reached by two names (a link) is one account
    for (const QString &folder : desktopFolders()) {
        const QFileInfoList subfolders =
            QDir(folder).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
        for (const QFileInfo &sub : subfolders) {
            const QFileInfo db(QDir(sub.absoluteFilePath()).filePath(kDbName));
            if (!db.isFile() || db.size() <= 0)
                continue;
            const QString canonical = db.canonicalFilePath();
            if (seen.contains(canonical))
                continue;
            seen.insert(canonical);
            accounts.append({sub.fileName(), db.absoluteFilePath()});
        }
    }
    return accounts;
}

QString PCViberDb::noAccountText()
{
    return QCoreApplication::translate("PCViberDb", "IDS_THERE_IS_NO_PC_VIBER_ACCOUNT");
}

QString PCViberDb::chooseAccountTitle()
{
    return QCoreApplication::translate("PCViberDb", "IDS_SEL_ONE_PC_VIBER_ACCOUNT");
}

void PCViberDb::checkReadable() const
{
    const QString path = fullPath();
    QFile file(path);
    if (!QFileInfo(path).isFile())
        throw Sqlite3Exception(
            fileError("PCViberDb", QT_TRANSLATE_NOOP("PCViberDb", "IDS_PCVIBER_FILE_MISSING"), path), path,
            SQLITE_CANTOPEN);
    if (!file.open(QIODevice::ReadOnly))
        throw Sqlite3Exception(fileError("PCViberDb",
                                         QT_TRANSLATE_NOOP("PCViberDb", "IDS_PCVIBER_FILE_UNREADABLE"), path,
                                         file.errorString()),
                               path, SQLITE_CANTOPEN);
    static const QByteArray header("SQLite format 3\0", 16);
    if (file.read(header.size()) == header)
        return;
    // Current clients encrypt the whole file; anything else is no database at all
    // (SQLite would even take an empty file for an empty database).
    const char *key = looksEncrypted(file) ? QT_TRANSLATE_NOOP("PCViberDb", "IDS_PCVIBER_ENCRYPTED")
                                           : QT_TRANSLATE_NOOP("PCViberDb", "IDS_PCVIBER_NOT_SQLITE");
    throw Sqlite3Exception(fileError("PCViberDb", key, path), path, SQLITE_NOTADB);
}

bool PCViberDb::looksEncrypted(QFile &file)
{
    // An encrypted database is whole pages (512 bytes at the least) of bytes that look
    // random: nearly 8 bits of information in each, where text or a damaged
    // database has far fewer.
    const qint64 size = file.size();
    if (size < 1024 || size % 512 != 0 || !file.seek(0))
        return false;
    const QByteArray start = file.read(4096);
    std::array<qint64, 256> counts{};
    for (const char c : start)
        ++counts[uchar(c)];
    double bits = 0;
    for (const qint64 n : counts) {
        if (n > 0) {
            const double p = double(n) / double(start.size());
            bits -= p * std::log2(p);
        }
    }
    return bits >= 7.0;
}

void PCViberDb::open()
{
    if (isOpen())
        return;
    const QString path = fullPath();
    checkReadable();
    try {
        openForReading();
        readSchema();
        recogniseLayout();
    } catch (const Sqlite3Exception &e) {
        close();
        m_layout = Layout::Unknown;
        // A file encrypted with a readable header is still no database to SQLite.
        if ((e.code() & 0xff) == SQLITE_NOTADB)
            throw Sqlite3Exception(
                fileError("PCViberDb", QT_TRANSLATE_NOOP("PCViberDb", "IDS_PCVIBER_ENCRYPTED"), path), path,
                e.code());
        throw;
    }
}

void PCViberDb::recogniseLayout()
{
    // Without these three there is no message to read; the other tables are read
    // when they are there.
    requireTables({u"ChatInfo"_s, u"Events"_s, u"Messages"_s});
    const std::pair<const char16_t *, const char16_t *> keys[] = {
        {u"ChatInfo", u"ChatId"}, {u"Events", u"EventId"}, {u"Events", u"ChatID"}, {u"Messages", u"EventId"}};
    for (const auto &[table, column] : keys) {
        if (!hasColumn(QString::fromUtf16(table), QString::fromUtf16(column)))
            throw Sqlite3Exception(
                fileError("PCViberDb", QT_TRANSLATE_NOOP("PCViberDb", "IDS_PCVIBER_COLUMN_MISSING"), path(),
                          QString::fromUtf16(table) + u'.' + QString::fromUtf16(column)),
                path(), SQLITE_ERROR);
    }
    // The events' reference to their participant tells the layouts apart; a file
    // without one still has its participants' table to go by.
    if (hasColumn(u"Events"_s, u"ContactID"_s))
        m_layout = Layout::Contacts;
    else if (hasColumn(u"Events"_s, u"Number"_s) || hasTable(u"OriginNumberInfo"_s) ||
             !hasTable(u"Contact"_s))
        m_layout = Layout::Classic;
    else
        m_layout = Layout::Contacts;
}

QString PCViberDb::columnOrNull(const QString &alias, const QString &table, const QString &column) const
{
    return hasColumn(table, column) ? alias + u'.' + quoted(column) : u"NULL"_s;
}

QString PCViberDb::personRefColumn() const
{
    return m_layout == Layout::Contacts ? u"ContactID"_s : u"Number"_s;
}

ViberDataPtr PCViberDb::load()
{
    const CloseAfterLoading closer(this);
    QElapsedTimer timer;
    timer.start();
    open();

    LoadContext ctx;
    ctx.data = std::make_shared<ViberData>();
    ctx.account = &ctx.data->account;
    ctx.account->source = path();
    ctx.account->layout << tr("IDS_LAYOUT_DESKTOP")
                        << (m_layout == Layout::Contacts ? tr("IDS_LAYOUT_DESKTOP_CONTACTS")
                                                         : tr("IDS_LAYOUT_DESKTOP_CLASSIC"));
    ctx.millis = m_layout == Layout::Contacts;
    if (m_layout == Layout::Contacts)
        ctx.ownerId = kOwnerContactId;
    ctx.accountName = QFileInfo(fullPath()).absoluteDir().dirName();
    ctx.progress = m_loadProgress;
    ctx.pttFolder = QDir::home().filePath(u"Documents/ViberDownloads/PTT"_s);

    ctx.report(0);
    loadPersons(ctx);
    ctx.report(4);
    loadChats(ctx);
    ctx.report(7);
    loadMembers(ctx);
    ctx.report(10);
    loadMessages(ctx);
    ctx.report(90);
    loadCalls(ctx);
    ctx.report(100);
    const ViberData &d = *ctx.data;
    qInfo("Loaded %s: %lld chats, %lld persons, %lld messages, %lld calls in %.2f s", qUtf8Printable(path()),
          qint64(d.chats.size()), qint64(d.persons.size()), qint64(d.messages.size()), qint64(d.calls.size()),
          double(timer.elapsed()) / 1000.0);
    d.account.log();
    return ctx.data;
}

void PCViberDb::loadPersons(LoadContext &ctx)
{
    const bool contacts = m_layout == Layout::Contacts;
    const QString table = contacts ? u"Contact"_s : u"OriginNumberInfo"_s;
    if (!hasTable(table))
        return;
    // The classic table has no key of its own: its row id is the participant's.
    const QString id = contacts && hasColumn(table, u"ContactID"_s) ? u"n.ContactID"_s : u"n.rowid"_s;
    // The classic clients keep the names of the address book apart, in Contact joined to the
    // numbers by ContactRelation; one name for each number, so that no participant is read twice.
    QString contactName = u"NULL"_s, addressBook;
    if (contacts) {
        contactName = columnOrNull(u"n"_s, table, u"Name"_s);
    } else if (hasColumn(u"ContactRelation"_s, u"Number"_s) &&
               hasColumn(u"ContactRelation"_s, u"ContactID"_s) && hasColumn(u"Contact"_s, u"ContactID"_s)) {
        contactName = u"b.book_name"_s;
        addressBook =
            u" left join (select r.Number as number, min(nullif(trim(coalesce(%1, '') || ' ' || "
            u"coalesce(%2, '')), '')) as book_name from ContactRelation as r inner join Contact as k "
            u"on k.ContactID = r.ContactID group by r.Number) as b on b.number = n.Number"_s.arg(
                columnOrNull(u"k"_s, u"Contact"_s, u"FirstName"_s),
                columnOrNull(u"k"_s, u"Contact"_s, u"SecondName"_s));
    }
    const QString sql =
        u"select %1 as person_id, %2 as number, %3 as client_name, %4 as contact_name, "
        u"%5 as avatar from %6 as n"_s.arg(id, columnOrNull(u"n"_s, table, u"Number"_s),
                                           columnOrNull(u"n"_s, table, u"ClientName"_s), contactName,
                                           columnOrNull(u"n"_s, table, u"AvatarPath"_s), quoted(table)) +
        addressBook;
    Sqlite3Cursor c = queryThrow(sql);
    const int idCol = c.columnIndexOf(u"person_id"_s), numberCol = c.columnIndexOf(u"number"_s),
              clientCol = c.columnIndexOf(u"client_name"_s), nameCol = c.columnIndexOf(u"contact_name"_s),
              avatarCol = c.columnIndexOf(u"avatar"_s);
    auto &persons = ctx.data->persons;
    while (c.moveNext()) {
        const std::optional<qint64> personId = idAt(c, idCol);
        if (!personId || persons.contains(*personId)) {
            ctx.account->leaveOut(LoadAccount::People, personId ? ctx.repeatedKey() : ctx.noKey());
            continue;
        }
        ctx.account->addHeldAndRead(LoadAccount::People);
        auto *person = new _ViberPerson;
        person->id = *personId;
        persons.insert(person->id, person);
        person->phone = c.getTextAt(numberCol);
        // The name the user gave the contact, else the one its owner chose.
        person->name = c.getTextAt(nameCol);
        if (person->name.isEmpty())
            person->name = c.getTextAt(clientCol);
        person->contactIconPath = withSlashes(c.getTextAt(avatarCol));
        if (!person->phone.isEmpty() && !ctx.personByNumber.contains(person->phone))
            ctx.personByNumber.insert(person->phone, person);
    }
}

void PCViberDb::loadChats(LoadContext &ctx)
{
    const QString table = u"ChatInfo"_s;
    Sqlite3Cursor c = queryThrow(u"select c.ChatId as chat_id, %1 as ts, %2 as name, %3 as token "
                                 u"from ChatInfo as c"_s.arg(columnOrNull(u"c"_s, table, u"TimeStamp"_s),
                                                             columnOrNull(u"c"_s, table, u"Name"_s),
                                                             columnOrNull(u"c"_s, table, u"Token"_s)));
    const int idCol = c.columnIndexOf(u"chat_id"_s), tsCol = c.columnIndexOf(u"ts"_s),
              nameCol = c.columnIndexOf(u"name"_s), tokenCol = c.columnIndexOf(u"token"_s);
    auto &chats = ctx.data->chats;
    while (c.moveNext()) {
        const std::optional<qint64> chatId = idAt(c, idCol);
        if (!chatId || chats.contains(*chatId)) {
            ctx.account->leaveOut(LoadAccount::Chats, chatId ? ctx.repeatedKey() : ctx.noKey());
            continue;
        }
        ctx.account->addHeldAndRead(LoadAccount::Chats);
        auto *chat = new _ViberChat;
        chat->id = *chatId;
        chats.insert(chat->id, chat);
        chat->date = msecsToStoreTime(msecsOf(c.getInt64At(tsCol), ctx.millis));
        const QString token = c.getTextAt(tokenCol);
        if (ctx.ownerId) {
            ctx.chatFacts.insert(chat->id, {c.getTextAt(nameCol), token, {}, false});
            continue;
        }
        // A classic chat with one person carries that person's number as its token; any
        // other is a group, named by the file and known by its token.
        if (_ViberPerson *person = token.isEmpty() ? nullptr : ctx.personByNumber.value(token)) {
            chat->participants.insert(person->id, person);
        } else {
            chat->name = c.getTextAt(nameCol);
            chat->groupId = token;
        }
    }
}

void PCViberDb::loadMembers(LoadContext &ctx)
{
    const QString table = u"ChatRelation"_s;
    const QString ref = personRefColumn();
    if (hasColumn(table, u"ChatId"_s) && hasColumn(table, ref)) {
        Sqlite3Cursor c =
            queryThrow(u"select r.ChatId as chat_id, r.%1 as who, %2 as role from ChatRelation as r"_s.arg(
                quoted(ref), columnOrNull(u"r"_s, table, u"PGRole"_s)));
        const int chatCol = c.columnIndexOf(u"chat_id"_s), whoCol = c.columnIndexOf(u"who"_s),
                  roleCol = c.columnIndexOf(u"role"_s);
        const bool byNumber = m_layout != Layout::Contacts;
        while (c.moveNext()) {
            const std::optional<qint64> chatId = idAt(c, chatCol);
            _ViberChat *chat = chatId ? ctx.data->chats.value(*chatId) : nullptr;
            if (!chat)
                continue;
            auto facts = ctx.chatFacts.find(chat->id);
            if (facts != ctx.chatFacts.end() && !c.isNullAt(roleCol) && c.getInt64At(roleCol) != 0)
                facts->hasRoles = true;
            _ViberPerson *person = ctx.person(c, whoCol, byNumber);
            if (!person || ctx.isOwner(person))
                continue;
            if (facts == ctx.chatFacts.end())
                chat->participants.insert(person->id, person);
            else if (!facts->others.contains(person))
                facts->others.append(person);
        }
    }
    // A classic chat of no name whose token names nobody and which has no members is one with a
    // phone outside Viber (calls out of Viber), not a group.
    if (!ctx.ownerId) {
        for (_ViberChat *chat : std::as_const(ctx.data->chats)) {
            if (chat->name.isEmpty() && chat->participants.isEmpty() && !chat->groupId.isEmpty()) {
                _ViberPerson *person = ctx.madeUpPerson(chat->groupId);
                chat->participants.insert(person->id, person);
                chat->groupId.clear();
            }
        }
    }
    // Without a token that names the other person, more than one member besides the owner, or
    // roles, make a group; a chat of the owner alone is one when it has a name or a token.
    for (auto it = ctx.chatFacts.cbegin(); it != ctx.chatFacts.cend(); ++it) {
        _ViberChat *chat = ctx.data->chats.value(it.key());
        const LoadContext::ChatFacts &facts = it.value();
        const bool group = facts.others.size() > 1 || facts.hasRoles ||
                           (facts.others.isEmpty() && !(facts.name.isEmpty() && facts.token.isEmpty()));
        for (_ViberPerson *person : facts.others)
            chat->participants.insert(person->id, person);
        if (group) {
            chat->name = facts.name;
            chat->groupId = facts.token.isEmpty() ? madeUpGroupId(ctx.accountName, chat->id) : facts.token;
        }
    }
}

void PCViberDb::loadMessages(LoadContext &ctx)
{
    const QString m = u"m"_s, e = u"e"_s, msgs = u"Messages"_s, events = u"Events"_s;
    qint64 rows = 0;
    {
        Sqlite3Cursor count = queryThrow("select count(*) from Messages");
        if (count.moveNext())
            rows = count.getInt64At(0);
    }
    const QString sql =
        u"select m.EventId as event_id, %1 as kind, %2 as payload, %3 as thumbnail, %4 as subject, %5 as "
        u"body, "
        u"%6 as duration, %7 as ptt_id, %8 as ptt_duration, %9 as sticker_id, "_s.arg(
            columnOrNull(m, msgs, u"Type"_s), columnOrNull(m, msgs, u"PayloadPath"_s),
            columnOrNull(m, msgs, u"ThumbnailPath"_s), columnOrNull(m, msgs, u"Subject"_s),
            columnOrNull(m, msgs, u"Body"_s), columnOrNull(m, msgs, u"Duration"_s),
            columnOrNull(m, msgs, u"PttID"_s), columnOrNull(m, msgs, u"PttDuration"_s),
            columnOrNull(m, msgs, u"StickerID"_s)) +
        u"%1 as info, %2 as client_flag, "_s.arg(columnOrNull(m, msgs, u"Info"_s),
                                                 columnOrNull(m, msgs, u"ClientFlag"_s)) +
        u"%1 as ts, %2 as direction, %3 as longitude, %4 as latitude, e.ChatID as chat_id, %5 as who, "
        u"%6 as token from Messages as m inner join Events as e on m.EventId = e.EventId"_s.arg(
            columnOrNull(e, events, u"TimeStamp"_s), columnOrNull(e, events, u"Direction"_s),
            columnOrNull(e, events, u"ContactLongitude"_s), columnOrNull(e, events, u"ContactLatitude"_s),
            columnOrNull(e, events, personRefColumn()), columnOrNull(e, events, u"Token"_s));
    Sqlite3Cursor c = queryThrow(sql);
    const auto col = [&c](const char16_t *name) { return c.columnIndexOf(QString::fromUtf16(name)); };
    const int idCol = col(u"event_id"), kindCol = col(u"kind"), payloadCol = col(u"payload"),
              thumbCol = col(u"thumbnail"), subjectCol = col(u"subject"), bodyCol = col(u"body"),
              durationCol = col(u"duration"), pttIdCol = col(u"ptt_id"),
              pttDurationCol = col(u"ptt_duration"), stickerCol = col(u"sticker_id"), tsCol = col(u"ts"),
              directionCol = col(u"direction"), lonCol = col(u"longitude"), latCol = col(u"latitude"),
              chatCol = col(u"chat_id"), whoCol = col(u"who"), tokenCol = col(u"token"),
              infoCol = col(u"info"), clientFlagCol = col(u"client_flag");
    const bool classic = m_layout != Layout::Contacts;
    ViberData &data = *ctx.data;
    qint64 seen = 0, joined = 0;
    while (c.moveNext()) {
        if ((++seen & 0x3FF) == 0)
            ctx.report(10 + int(80 * std::min(seen, rows) / std::max<qint64>(rows, 1)));
        ++joined;
        const std::optional<qint64> id = idAt(c, idCol);
        const std::optional<qint64> chatId = idAt(c, chatCol);
        _ViberChat *chat = chatId ? data.chats.value(*chatId) : nullptr;
        // A repeated event id (the file has no key to prevent it) would replace a
        // record that a chat still lists.
        if (!id || !chat || data.messages.contains(*id)) {
            ctx.account->leaveOut(LoadAccount::Messages, !id     ? ctx.noKey()
                                                         : !chat ? ctx.noChat()
                                                                 : ctx.repeatedKey());
            continue;
        }
        const qint64 typeValue = c.getInt64At(kindCol);
        const Kind kind = classic ? classicKind(typeValue) : contactsKind(typeValue);
        if (kind == Kind::None) {
            ctx.account->leaveOut(LoadAccount::Messages,
                                  tr("IDS_LEFT_OUT_KIND_%1").arg(QString::number(typeValue)));
            continue;
        }
        ctx.account->addHeldAndRead(LoadAccount::Messages);

        auto *msg = new _ViberMsg;
        msg->id = *id;
        data.messages.insert(msg->id, msg);
        const qint64 msecs = msecsOf(c.getInt64At(tsCol), ctx.millis);
        msg->token = msg->seq = c.getInt64At(tokenCol);
        const MapPoint point = mapPointAt(c, latCol, lonCol);
        if (point.latitude != 0 || point.longitude != 0)
            msg->setPlace(point.latitude, point.longitude);
        msg->date = msg->stateDate = msecsToStoreTime(msecs);
        msg->state = c.getInt64At(directionCol) == 1 ? ViberMsgStateDelivered : ViberMsgStateReceived;
        msg->chat = chat;
        chat->messages.append(msg);
        // The author of the event: for what the owner sent, the owner, whom no message names.
        if (msg->state == ViberMsgStateReceived)
            msg->person = ctx.person(c, whoCol, classic);
        if (ctx.isOwner(msg->person))
            msg->person = nullptr;
        // The flag stays with the record, so that a changed message is not taken for its first wording.
        if (const qint64 flags = c.getInt64At(clientFlagCol); flags & MessageMetadata::kDesktopEditedFlag)
            writeExtraColumns(msg, {{u"ClientFlag"_s, flags}});

        if (kind == Kind::Text || kind == Kind::Link) {
            msg->type = ViberMsgTypeText;
            msg->text = c.getTextAt(bodyCol);
            if (msg->text.isEmpty() && kind == Kind::Link)
                msg->text = c.getTextAt(subjectCol);
            continue;
        }

        // The file of a message is part of its row.
        ctx.account->addHeldAndRead(LoadAccount::Attachments);
        auto *att = new _ViberAtta;
        att->id = msg->id;
        att->seq = msg->token;
        data.attachments.insert(att->id, att);
        att->message = msg;
        msg->attachment = att;
        // Files are named by their token, or by their date when they have none, unless the
        // file's own name is known.
        const QString tokenOrDate = QString::number(msg->token > 0 ? msg->token : msecs);
        const FileInfo file = fileInfoOf(c.getTextAt(infoCol));
        att->fileSize = file.size;
        const auto namedByFile = [&](const QString &path) {
            if (!file.name.isEmpty())
                return file.name;
            const QString suffix = QFileInfo(path).suffix();
            return suffix.isEmpty() ? tokenOrDate : tokenOrDate + u'.' + suffix;
        };
        // A picture's caption is its body in the later clients, its subject in the classic ones.
        const auto caption = [&] {
            const QString subject = c.getTextAt(subjectCol);
            return subject.isEmpty() ? c.getTextAt(bodyCol) : subject;
        };
        switch (kind) {
        case Kind::Picture:
        case Kind::Video:
        case Kind::AudioFile: {
            msg->type = kind == Kind::Picture ? ViberMsgTypePicture
                        : kind == Kind::Video ? ViberMsgTypeVideo
                                              : ViberMsgTypeFile;
            if (kind == Kind::AudioFile)
                att->type = u"file"_s; // "audio" would make it a voice message on a phone
            att->attId = QString::number(msg->token);
            att->filePath = withSlashes(c.getTextAt(payloadCol));
            att->previewPath = withSlashes(c.getTextAt(thumbCol));
            att->fileName = namedByFile(att->filePath);
            if (durationCol >= 0 && !c.isNullAt(durationCol) && c.getInt64At(durationCol) > 0)
                att->duration = secondsOfMsecs(c.getInt64At(durationCol));
            else if (file.duration)
                att->duration = *file.duration;
            msg->text = caption();
            break;
        }
        case Kind::Location:
            msg->type = ViberMsgTypeLocation;
            att->fileName = tokenOrDate;
            msg->text = c.getTextAt(bodyCol);
            break;
        case Kind::Voice: {
            msg->type = ViberMsgTypeAudio;
            const QString pttId = c.getTextAt(pttIdCol);
            att->attId = pttId;
            const int lengthCol = !c.isNullAt(durationCol) ? durationCol : pttDurationCol;
            att->duration = secondsOfMsecs(c.getInt64At(lengthCol));
            // The id comes from the file: it must not name a file outside the folder.
            att->filePath = withSlashes(c.getTextAt(payloadCol));
            if (att->filePath.isEmpty() && !pttId.isEmpty())
                att->filePath = StorePaths::childPath(ctx.pttFolder, pttId);
            // Later clients write no id: the name is the file's own.
            att->fileName = !pttId.isEmpty()           ? pttId
                            : !file.name.isEmpty()     ? file.name
                            : !att->filePath.isEmpty() ? QFileInfo(att->filePath).fileName()
                                                       : tokenOrDate;
            break;
        }
        default: // a sticker
            msg->type = ViberMsgTypeSticker;
            att->attId = QString::number(c.getInt64At(stickerCol));
            att->fileName = tokenOrDate;
            break;
        }
    }
    // The query reads messages with their event; one without is still counted.
    if (rows > joined)
        ctx.account->leaveOut(LoadAccount::Messages, tr("IDS_LEFT_OUT_NO_EVENT"), rows - joined);
}

_ViberPerson *PCViberDb::callParty(LoadContext &ctx, const Sqlite3Cursor &c, int whoCol,
                                   const _ViberChat *chat)
{
    // A call is the other party's: the event names its author, who for an outgoing call of
    // the later clients is the owner. The classic clients name the other party's number, which
    // may be a phone outside Viber that no participant has.
    if (m_layout == Layout::Contacts) {
        _ViberPerson *author = ctx.person(c, whoCol, false);
        return author && !ctx.isOwner(author) ? author : LoadContext::otherParty(chat);
    }
    if (_ViberPerson *known = ctx.person(c, whoCol, true))
        return known;
    const QString number = c.getTextAt(whoCol).trimmed();
    return number.isEmpty() ? LoadContext::otherParty(chat) : ctx.madeUpPerson(number);
}

void PCViberDb::loadCalls(LoadContext &ctx)
{
    const QString calls = u"Calls"_s, events = u"Events"_s, e = u"e"_s;
    if (!hasColumn(calls, u"EventId"_s))
        return;
    Sqlite3Cursor c = queryThrow(
        u"select c.EventId as event_id, %1 as duration, %2 as ts, %3 as direction, e.ChatID as chat_id, "
        u"%4 as who, %5 as token from Calls as c inner join Events as e on c.EventId = e.EventId"_s.arg(
            columnOrNull(u"c"_s, calls, u"Duration"_s), columnOrNull(e, events, u"TimeStamp"_s),
            columnOrNull(e, events, u"Direction"_s), columnOrNull(e, events, personRefColumn()),
            columnOrNull(e, events, u"Token"_s)));
    const int idCol = c.columnIndexOf(u"event_id"_s), durationCol = c.columnIndexOf(u"duration"_s),
              tsCol = c.columnIndexOf(u"ts"_s), directionCol = c.columnIndexOf(u"direction"_s),
              chatCol = c.columnIndexOf(u"chat_id"_s), whoCol = c.columnIndexOf(u"who"_s),
              tokenCol = c.columnIndexOf(u"token"_s);
    ViberData &data = *ctx.data;
    while (c.moveNext()) {
        const std::optional<qint64> id = idAt(c, idCol);
        const std::optional<qint64> chatId = idAt(c, chatCol);
        _ViberChat *chat = chatId ? data.chats.value(*chatId) : nullptr;
        const bool repeated = id && (data.messages.contains(*id) || data.calls.contains(*id));
        _ViberPerson *person = id && chat && !repeated ? callParty(ctx, c, whoCol, chat) : nullptr;
        if (!person) {
            ctx.account->leaveOut(LoadAccount::Calls, !id        ? ctx.noKey()
                                                      : !chat    ? ctx.noChat()
                                                      : repeated ? ctx.repeatedKey()
                                                                 : tr("IDS_LEFT_OUT_NO_PERSON"));
            continue;
        }
        ctx.account->addHeldAndRead(LoadAccount::Calls);
        auto *entry = new _ViberMsg;
        entry->id = *id;
        data.messages.insert(entry->id, entry);
        entry->type = ViberMsgTypeCall;
        entry->token = entry->seq = c.getInt64At(tokenCol);
        entry->date = entry->stateDate = msecsToStoreTime(msecsOf(c.getInt64At(tsCol), ctx.millis));
        entry->chat = chat;
        chat->messages.append(entry);

        auto *call = new _ViberCall;
        call->id = entry->id;
        data.calls.insert(call->id, call);
        call->callToken = entry->token;
        call->duration =
            qint32(std::clamp<qint64>(c.getInt64At(durationCol), 0, std::numeric_limits<qint32>::max()));
        call->date = entry->date;
        call->person = person;
        if (c.getInt64At(directionCol) == 1)
            call->type = ViberCallTypeOutgoing;
        else
            call->type = call->duration == 0 ? ViberCallTypeMissed : ViberCallTypeIncoming;
        entry->call = call;
    }
}

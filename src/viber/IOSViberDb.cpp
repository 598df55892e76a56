#include "IOSViberDb.h"

#include "AttachmentPreviews.h"
#include "StorePaths.h"
#include "TextBlocks.h"
#include "TinyKv.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryFile>

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <thread>
#include <vector>

namespace {

// Store columns without a field of their own that a record carries through
// unchanged, so that a writer can put them back.
enum class Kind { Int32, Int32NotNull, Int64, Int64NotZero, Text, TextNotEmpty, BlobNotEmpty };

struct CarriedColumn
{
    const char *name;
    Kind kind;
};

// Current stores' values that only some rows have are carried when they are there:
// a million messages then share the few blobs of the common values.
const CarriedColumn kChatCarried[] = {{"Z_OPT", Kind::Int32},
                                      {"ZCONTEXT", Kind::Int64},
                                      {"ZSMARTNOTIFICATIONSHOWN", Kind::Int32NotNull},
                                      {"ZSMARTSTATE", Kind::Int32},
                                      {"ZSUBTYPE", Kind::Int64NotZero}};
const CarriedColumn kPersonCarried[] = {{"Z_OPT", Kind::Int32}, {"ZCONTACT", Kind::Int64}};
const CarriedColumn kMessageCarried[] = {{"Z_OPT", Kind::Int32},
                                         {"ZEMOTICONSRANGES", Kind::BlobNotEmpty},
                                         {"ZRANGES", Kind::BlobNotEmpty},
                                         {"ZSYSTEMTYPE", Kind::TextNotEmpty},
                                         {"ZMETADATA", Kind::TextNotEmpty},
                                         {"ZCALLTYPE", Kind::TextNotEmpty},
                                         {"ZCALLDURATION", Kind::Int64NotZero}};
const CarriedColumn kAttachmentCarried[] = {{"Z_OPT", Kind::Int32},
                                            {"ZRANGE", Kind::Int64},
                                            {"ZSTATE", Kind::Text},
                                            {"ZURL", Kind::Text},
                                            {"ZMETADATA", Kind::TextNotEmpty}};
const CarriedColumn kCallCarried[] = {{"Z_OPT", Kind::Int32}, {"ZCALLTYPE", Kind::TextNotEmpty}};

// Rows are read by column position, resolved once per query: a lookup by name for
// every value of 200,000 rows costs more than SQLite's own work.
struct Col
{
    Col(const Sqlite3Cursor &c, const char *name) : index(c.columnIndexOf(QString::fromLatin1(name))) {}
    int index;
};

// Sets key, a buffer kept from row to row, to bytes. Lookups go through such a copy
// rather than a view of SQLite's memory: for short keys Qt's hash reads a few
// bytes around them, harmless but reported by memory checkers outside a string.
void setKey(QByteArray &key, QByteArrayView bytes)
{
    key.resize(0); // keeps the buffer, where clear() would free it
    key.append(bytes);
}

// The carried columns one query's result actually has, looked up once per query.
// Rows mostly carry the same few values (Z_OPT, no ranges), so equal values give
// one shared blob: made once instead of for every row, kept once instead of in
// every record (at a million messages, some 80 MB).
class ExtraColumns
{
public:
    template <size_t N> ExtraColumns(const Sqlite3Cursor &c, const CarriedColumn (&columns)[N])
    {
        for (const CarriedColumn &col : columns) {
            const QString name = QString::fromLatin1(col.name);
            const int index = c.columnIndexOf(name);
            if (index >= 0)
                m_present.append({name, index, col.kind});
        }
        m_other = c.columnIndexOf(QStringLiteral("_other"));
    }

    // The record's other field. Stores written by this program keep everything in
    // _other; a row whose _other is empty still keeps the columns it has.
    QByteArray other(const Sqlite3Cursor &c)
    {
        m_key.resize(0);
        if (m_other >= 0) {
            const QByteArrayView blob = c.blobBytesAt(m_other);
            if (!blob.isEmpty() || m_present.isEmpty()) {
                if (blob.isEmpty())
                    return QByteArray();
                m_key.append('b');
                m_key.append(blob);
                return known([&] { return blob.toByteArray(); });
            }
        }
        // The values as the blob will hold them, each of fixed size or with its length.
        m_key.append('c');
        for (const Present &p : std::as_const(m_present)) {
            switch (p.kind) {
            case Kind::Int32:
                appendValue(c.getIntAt(p.index));
                break;
            case Kind::Int32NotNull:
                m_key.append(c.isNullAt(p.index) ? 'n' : 'v');
                appendValue(c.getIntAt(p.index));
                break;
            case Kind::Int64:
            case Kind::Int64NotZero:
                appendValue(c.getInt64At(p.index));
                break;
            case Kind::Text:
            case Kind::TextNotEmpty:
                appendBytes(c.textBytesAt(p.index));
                break;
            case Kind::BlobNotEmpty:
                appendBytes(c.blobBytesAt(p.index));
                break;
            }
        }
        return known([&] { return columnsBlob(c); });
    }

private:
    struct Present
    {
        QString name;
        int index;
        Kind kind;
    };

    // Bounds the shared blobs of one query: values that differ in every row (a URL,
    // a range) are not worth remembering.
    static constexpr qsizetype kMaxShared = 4096;
    static constexpr qsizetype kMaxSharedKey = 256;

    template <typename T> void appendValue(T v)
    {
        m_key.append(reinterpret_cast<const char *>(&v), sizeof v);
    }
    void appendBytes(QByteArrayView bytes)
    {
        appendValue(qint64(bytes.size()));
        m_key.append(bytes);
    }

    // The blob of m_key's values: the shared one, or a new one from make.
    template <typename Make> QByteArray known(Make make)
    {
        const auto it = m_shared.constFind(m_key);
        if (it != m_shared.constEnd())
            return it.value();
        QByteArray blob = make();
        // A blob grown while it was written keeps its spare capacity; a copy does not.
        if (blob.capacity() > blob.size())
            blob = QByteArray(blob.constData(), blob.size());
        if (m_shared.size() < kMaxShared && m_key.size() <= kMaxSharedKey)
            m_shared.insert(m_key, blob);
        return blob;
    }

    QByteArray columnsBlob(const Sqlite3Cursor &c) const
    {
        QVariantMap map;
        for (const Present &p : m_present) {
            switch (p.kind) {
            case Kind::Int32:
                map.insert(p.name, c.getIntAt(p.index));
                break;
            case Kind::Int32NotNull:
                if (!c.isNullAt(p.index))
                    map.insert(p.name, c.getIntAt(p.index));
                break;
            case Kind::Int64:
                map.insert(p.name, c.getInt64At(p.index));
                break;
            case Kind::Int64NotZero:
                if (const qint64 v = c.getInt64At(p.index))
                    map.insert(p.name, v);
                break;
            case Kind::Text:
                map.insert(p.name, c.getTextAt(p.index));
                break;
            case Kind::TextNotEmpty:
                if (const QString t = c.getTextAt(p.index); !t.isEmpty())
                    map.insert(p.name, t);
                break;
            case Kind::BlobNotEmpty: {
                const QByteArray b = c.getBlobAt(p.index);
                if (!b.isEmpty())
                    map.insert(p.name, b);
                break;
            }
            }
        }
        if (m_other >= 0 && map.isEmpty())
            return QByteArray();
        QByteArray out;
        return tinykv::serialize(map, out) ? out : QByteArray();
    }

    QList<Present> m_present;
    int m_other = -1;
    QByteArray m_key; // the current row's values, reused from row to row
    QHash<QByteArray, QByteArray> m_shared;
};

// The state of each spelling met, so that a million rows do not each make and
// lower-case a string of their own.
class StateSpellings
{
public:
    ViberMsgState stateOf(const Sqlite3Cursor &c, int index)
    {
        setKey(m_key, c.textBytesAt(index));
        const auto it = m_known.constFind(m_key);
        if (it != m_known.constEnd())
            return it.value();
        const ViberMsgState state = msgStateFromStoreText(c.getTextAt(index));
        if (m_known.size() < 64)
            m_known.insert(m_key, state);
        return state;
    }

private:
    QByteArray m_key;
    QHash<QByteArray, ViberMsgState> m_known;
};

// Equal texts of many rows (a bucket, an attachment kind) as one shared string.
class SharedTexts
{
public:
    explicit SharedTexts(TextBlocks &blocks) : m_blocks(blocks) {}

    QString text(const Sqlite3Cursor &c, int index)
    {
        const QByteArrayView bytes = c.textBytesAt(index);
        if (bytes.isEmpty())
            return m_blocks.fromUtf8(bytes);
        setKey(m_key, bytes);
        const auto it = m_known.constFind(m_key);
        if (it != m_known.constEnd())
            return it.value();
        const QString text = m_blocks.fromUtf8(bytes);
        if (m_known.size() < 1024 && bytes.size() <= 64)
            m_known.insert(m_key, text);
        return text;
    }

private:
    TextBlocks &m_blocks;
    QByteArray m_key;
    QHash<QByteArray, QString> m_known;
};

// The records of a table by key, for the lookups of every message row. Stores number
// their rows from 1, so a vector indexed by the key finds them without hashing into
// a table; keys far apart (a merged or a hostile store) are looked up in the table.
template <typename T> class KeyIndex
{
public:
    explicit KeyIndex(const QHash<qint64, T *> &table) : m_table(table)
    {
        qint64 max = 0;
        for (auto it = table.cbegin(); it != table.cend(); ++it)
            max = std::max(max, it.key());
        if (max > 4 * qint64(table.size()) + 1024)
            return;
        m_byKey.assign(size_t(max) + 1, nullptr);
        for (auto it = table.cbegin(); it != table.cend(); ++it)
            if (it.key() > 0)
                m_byKey[size_t(it.key())] = it.value();
    }

    T *value(qint64 key) const
    {
        return key > 0 && key < qint64(m_byKey.size()) ? m_byKey[size_t(key)] : m_table.value(key);
    }

private:
    const QHash<qint64, T *> &m_table;
    std::vector<T *> m_byKey;
};

// The part of a load's progress that reading the messages takes.
constexpr int kMessagesStart = 10;
constexpr int kMessagesEnd = 85;

// Below this, a second thread and connection cost more than they spare.
std::atomic<qint64> s_splitMessageRows{100000};

qint64 rowCount(Sqlite3DB &db, const char *table)
{
    Sqlite3Cursor c = db.queryThrow(QByteArray("select count(*) from ") + table);
    return c.moveNext() ? c.getInt64At(0) : 0;
}

// Canonical numbers made of digits only are shown with the international "+".
bool allDigits(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (QChar ch : text)
        if (!ch.isDigit())
            return false;
    return true;
}

// The store's texts for the account, from the catalogue.
QString sentence(const char *key)
{
    return QCoreApplication::translate("IOSViberDb", key);
}

QString repeatedKey()
{
    return sentence(QT_TRANSLATE_NOOP("IOSViberDb", "IDS_LEFT_OUT_REPEATED_KEY"));
}

// A column of the table, or NULL under the same name when the table lacks it.
QString columnOr(const StoreLayout &layout, const QString &table, const QString &alias, const QString &column,
                 const QString &as)
{
    return layout.has(table, column) ? QStringLiteral("%1.%2 as %3").arg(alias, column, as)
                                     : QStringLiteral("null as %1").arg(as);
}

} // namespace

struct IOSViberDb::LoadContext
{
    ViberDataPtr data;
    QString root;                  // absolute, the base of every local path
    QList<_ViberChat *> chatOrder; // chats in the store's order, for choosing call chats
    // Newer stores link an attachment only from its message (ZVIBERMESSAGE.ZATTACHMENT).
    bool attachmentsFromMessages = false;
    QHash<qint64, _ViberMsg *> messageOfAttachment;
    // The other party of one-to-one chats (ZCONVERSATION.ZINTERLOCUTOR), by chat.
    QHash<_ViberChat *, qint64> interlocutors;
    // Messages that tell a call the recents hold as well; the call entry shows it.
    QSet<qint64> callLogMessages;
    // Where to look for a free key for a call entry whose own one is taken.
    qint64 nextFreeEntryId = -1;
    // The chat of each call-log message shown through its recent: a recent that names
    // nobody else still belongs there.
    QHash<qint64, _ViberChat *> callLogChats;
    // Messages left out, so that a row a join repeats is counted once, and their
    // attachments are told apart from orphans.
    QSet<qint64> messagesLeftOut;
    // The rows each kind holds, counted as read or left out with the reason.
    LoadAccount *account = nullptr;
    // Where the records' texts are kept.
    TextBlocks texts;

    QString textAt(const Sqlite3Cursor &c, int index) { return texts.fromUtf8(c.textBytesAt(index)); }

    // The part done, for a long read's progress dialog; the callback may raise to stop.
    std::function<void(int)> progress;
    void report(int percent) const
    {
        if (progress)
            progress(percent);
    }
};

IOSViberDb::IOSViberDb(const QDir &root, const QString &fileName, bool flag)
    : AbsViberDb(root, fileName, flag)
{
}

IOSViberDb::~IOSViberDb() = default;

qint64 IOSViberDb::setSplitMessageRows(qint64 rows)
{
    return s_splitMessageRows.exchange(rows);
}

QStringList IOSViberDb::requiredTables()
{
    // Without these no message can be read faithfully. Participants and calls are
    // read when their tables exist: newer stores keep participants elsewhere.
    return {QStringLiteral("Z_PRIMARYKEY"), QStringLiteral("ZCONVERSATION"), QStringLiteral("ZVIBERMESSAGE"),
            QStringLiteral("ZVIBERLOCATION"), QStringLiteral("ZATTACHMENT")};
}

void IOSViberDb::open()
{
    // A connection opened for reading serves no writer.
    if (isOpen() && !openedForReading())
        return;
    close();
    // What a writer learnt of the store holds for one connection.
    m_nextKeys.clear();
    m_indexMessages = false;
    const QString path = fullPath();
    try {
        const QFileInfo info(path);
        if (!info.exists()) {
            // SQLite would fail with a bare "unable to open"; say which folder is missing.
            if (!info.absoluteDir().exists())
                throw Sqlite3Exception(fileError("IOSViberDb",
                                                 QT_TRANSLATE_NOOP("IOSViberDb", "IDS_STORE_FOLDER_MISSING"),
                                                 path, QDir::toNativeSeparators(info.absolutePath())),
                                       path, SQLITE_CANTOPEN);
            createFromTemplate(path);
        }
        openThrow(path, Sqlite3DB::ReadWrite);
        // A copy or a delete touches every index of a large store in one transaction:
        // with SQLite's default 2 MB cache the same pages were read again and again.
        execThrow(QStringLiteral("PRAGMA cache_size=-65536"));
        // Cleaning orphans must not fire the store's own triggers; a writer that
        // needs them switches them on itself.
        treatAsUntrusted();
        readCatalogue();
        deleteOrphans();
    } catch (...) {
        close();
        m_layout = StoreLayout();
        throw;
    }
}

void IOSViberDb::openForLoading()
{
    if (isOpen())
        return;
    // A missing store is made from the template, as open() does; there is nothing
    // of the user's to keep unchanged.
    if (!QFileInfo::exists(fullPath())) {
        open();
        return;
    }
    try {
        openForReading();
        readCatalogue();
    } catch (...) {
        close();
        m_layout = StoreLayout();
        throw;
    }
}

void IOSViberDb::readCatalogue()
{
    m_duplicateByTokenSql.clear();
    readSchema();
    requireTables(requiredTables());
    readLayout();
}

void IOSViberDb::createFromTemplate(const QString &path)
{
    QFile script(QStringLiteral(":/res/ios_viber_db.sql"));
    if (!script.open(QIODevice::ReadOnly))
        throw Sqlite3Exception(fileError("IOSViberDb",
                                         QT_TRANSLATE_NOOP("IOSViberDb", "IDS_STORE_TEMPLATE_UNREADABLE"),
                                         path, script.errorString()),
                               path, SQLITE_CANTOPEN);
    const QString sql = QString::fromUtf8(script.readAll());

    // Built under a temporary name and renamed when complete, so that a failure (or a
    // crash) never leaves a half store that a later open would take for a real one.
    QTemporaryFile temp(path + QStringLiteral(".XXXXXX"));
    temp.setAutoRemove(true);
    if (!temp.open())
        throw Sqlite3Exception(fileError("IOSViberDb",
                                         QT_TRANSLATE_NOOP("IOSViberDb", "IDS_STORE_CREATE_FAILED"), path,
                                         temp.errorString()),
                               path, SQLITE_CANTOPEN);
    temp.close();
    {
        Sqlite3DB db;
        db.openThrow(temp.fileName(), Sqlite3DB::ReadWrite | Sqlite3DB::Create);
        QString error;
        if (db.exec(QStringLiteral("BEGIN;\n") + sql + QStringLiteral("\nCOMMIT;"), error) != SQLITE_OK)
            throw Sqlite3Exception(fileError("IOSViberDb",
                                             QT_TRANSLATE_NOOP("IOSViberDb", "IDS_STORE_CREATE_FAILED"), path,
                                             error),
                                   path, SQLITE_ERROR);
        db.close();
    }
    // rename never replaces a file that appeared meanwhile.
    QFile created(temp.fileName());
    if (!created.rename(path))
        throw Sqlite3Exception(fileError("IOSViberDb",
                                         QT_TRANSLATE_NOOP("IOSViberDb", "IDS_STORE_CREATE_FAILED"), path,
                                         created.errorString()),
                               path, SQLITE_CANTOPEN);
    temp.setAutoRemove(false);
}

void IOSViberDb::readLayout()
{
    QHash<QString, qint32> entities;
    Sqlite3Cursor c = queryThrow("select * from Z_PRIMARYKEY");
    const Col nameCol(c, "Z_NAME");
    const Col entCol(c, "Z_ENT");
    while (c.moveNext())
        entities.insert(c.getTextAt(nameCol.index), c.getIntAt(entCol.index));
    m_layout = StoreLayout(schema(), entities);
}

void IOSViberDb::deleteOrphans()
{
    // A store without write permission still serves reading; its orphans are simply
    // not read, since load() links rows only to loaded records.
    if (isReadOnly())
        return;
    const StoreLayout::Relation &join = m_layout.participants();
    if (m_layout.hasParticipantLinks())
        executeThrow(
            QStringLiteral("DELETE FROM %1 WHERE (SELECT 1 from ZCONVERSATION WHERE %1.%2=ZCONVERSATION.Z_PK "
                           "LIMIT 1) IS NULL")
                .arg(join.table, join.first));
    // Newer stores keep these links on the message's side only; there the test
    // below cannot be made and the rows stay.
    if (m_layout.locationLink() == StoreLayout::MessageLink::Own)
        executeThrow("DELETE FROM ZVIBERLOCATION WHERE (SELECT 1 from ZVIBERMESSAGE WHERE "
                     "ZVIBERLOCATION.ZMESSAGE=ZVIBERMESSAGE.Z_PK LIMIT 1) IS NULL");
    if (m_layout.attachmentLink() == StoreLayout::MessageLink::Own)
        executeThrow("DELETE FROM ZATTACHMENT WHERE (SELECT 1 from ZVIBERMESSAGE WHERE "
                     "ZATTACHMENT.ZMESSAGE=ZVIBERMESSAGE.Z_PK LIMIT 1) IS NULL");
}

QStringList IOSViberDb::layoutDescription() const
{
    QStringList out;
    const bool ours = m_layout.isLocal();
    out << (ours ? sentence("IDS_LAYOUT_LOCAL_DATABASE") : sentence("IDS_LAYOUT_PHONE_STORE"));
    if (m_layout.membersAsParticipants())
        out << sentence("IDS_LAYOUT_MEMBERS");
    else if (!m_layout.personTable().isEmpty() && !ours)
        out << sentence("IDS_LAYOUT_PHONE_NUMBER_INDEX");
    if (!ours) {
        if (m_layout.contactLink() == StoreLayout::ContactLink::Column)
            out << sentence("IDS_LAYOUT_CONTACT_COLUMN");
        else if (m_layout.contactLink() == StoreLayout::ContactLink::JoinTable)
            out << sentence("IDS_LAYOUT_CONTACT_TABLE");
    }
    if (m_layout.hasMessageMetadata())
        out << sentence("IDS_LAYOUT_METADATA");
    if (m_layout.attachmentLink() != StoreLayout::MessageLink::Own)
        out << sentence("IDS_LAYOUT_ATTACHMENT_LINKS");
    if (m_layout.hasMessageIndex())
        out << sentence("IDS_LAYOUT_MESSAGE_INDEX");
    if (m_layout.hasChangeHistory())
        out << sentence("IDS_LAYOUT_HISTORY");
    out << sentence("IDS_LAYOUT_ENTITIES_%1").arg(m_layout.entities().size());
    return out;
}

ViberDataPtr IOSViberDb::load()
{
    // Reading changes nothing and leaves nothing open beside the store; orphan rows
    // are simply not linked to anything below.
    const CloseAfterLoading closer(this);
    QElapsedTimer timer;
    timer.start();
    StorePaths::forgetResolvedFolders();
    const StorePaths::FolderListings listings;
    openForLoading();
    LoadContext ctx;
    ctx.progress = m_loadProgress;
    ctx.data = std::make_shared<ViberData>();
    ctx.account = &ctx.data->account;
    ctx.account->source = path();
    ctx.account->layout = layoutDescription();
    ctx.root = root().absolutePath();
    ctx.attachmentsFromMessages = m_layout.attachmentLink() != StoreLayout::MessageLink::Own;
    if (m_layout.callsNameMessages()) {
        Sqlite3Cursor c = queryThrow("select ZCALLLOGMESSAGE from ZRECENT where ZCALLLOGMESSAGE > 0");
        while (c.moveNext())
            ctx.callLogMessages.insert(c.getInt64At(0));
    }

    // Messages are most of the work; the other tables take a few percent each.
    ctx.report(0);
    loadChats(ctx);
    loadPersons(ctx);
    loadParticipants(ctx);
    ctx.report(kMessagesStart);
    loadMessages(ctx);
    ctx.report(kMessagesEnd);
    loadAttachments(ctx);
    ctx.report(95);
    loadCalls(ctx);
    ctx.report(100);
    // Lists grown message by message keep up to half of their size spare.
    for (_ViberChat *chat : std::as_const(ctx.data->chats))
        chat->messages.squeeze();
    const ViberData &d = *ctx.data;
    qInfo("Loaded %s: %lld chats, %lld persons, %lld messages, %lld calls in %.2f s", qUtf8Printable(path()),
          qint64(d.chats.size()), qint64(d.persons.size()), qint64(d.messages.size()), qint64(d.calls.size()),
          double(timer.elapsed()) / 1000.0);
    d.account.log();
    return ctx.data;
}

void IOSViberDb::loadChats(LoadContext &ctx)
{
    Sqlite3Cursor c = queryThrow("select * from ZCONVERSATION");
    ExtraColumns extra(c, kChatCarried);
    const Col pk(c, "Z_PK"), date(c, "ZDATE"), group(c, "ZGROUPID"), name(c, "ZNAME"),
        interlocutor(c, "ZINTERLOCUTOR");
    auto &chats = ctx.data->chats;
    while (c.moveNext()) {
        const qint64 id = c.getInt64At(pk.index);
        if (chats.contains(id)) {
            ctx.account->leaveOut(LoadAccount::Chats, repeatedKey());
            continue;
        }
        ctx.account->addHeldAndRead(LoadAccount::Chats);
        auto *chat = new _ViberChat;
        chat->id = id;
        chats.insert(id, chat);
        ctx.chatOrder.append(chat);
        chat->date = c.getDoubleAt(date.index);
        chat->groupId = ctx.textAt(c, group.index);
        chat->name = ctx.textAt(c, name.index);
        chat->other = extra.other(c);
        if (const qint64 other = c.getInt64At(interlocutor.index); other > 0)
            ctx.interlocutors.insert(chat, other);
    }
}

void IOSViberDb::loadPersons(LoadContext &ctx)
{
    const QString &source = m_layout.personSource();
    if (source.isEmpty())
        return;
    // The address-book entry: a column of the participant in older stores, a join table
    // of contacts and members in newer ones.
    const bool contactColumn = m_layout.contactLink() == StoreLayout::ContactLink::Column;
    const bool recordId = m_layout.contactRecordId();
    const StoreLayout::Relation &contacts = m_layout.contactJoin();
    QString sql = QStringLiteral("select p.*");
    if (contactColumn)
        sql += recordId ? QStringLiteral(", c.ZMAINNAME as person_name, c.ZRECORDID")
                        : QStringLiteral(", c.ZMAINNAME as person_name");
    else if (contacts.exists())
        sql += QStringLiteral(", cj.name as person_name");
    sql += QStringLiteral(" from %1 as p").arg(source);
    if (contactColumn)
        sql += QStringLiteral(" left join ZABCONTACT as c on p.ZCONTACT=c.Z_PK");
    else if (contacts.exists())
        sql += QStringLiteral(
                   " left join (select j.%1 as member, min(c.ZMAINNAME) as name from %2 as j inner join "
                   "ZABCONTACT as c on c.Z_PK=j.%3 where coalesce(c.ZMAINNAME, '')<>'' group by "
                   "j.%1) as cj on cj.member=p.Z_PK")
                   .arg(contacts.second, contacts.table, contacts.first);

    Sqlite3Cursor c = queryThrow(sql);
    ExtraColumns extra(c, kPersonCarried);
    const Col pk(c, "Z_PK"), personName(c, "person_name"), name(c, "ZNAME"), fullName(c, "ZDISPLAYFULLNAME"),
        shortName(c, "ZDISPLAYSHORTNAME"), phoneCol(c, "ZCANONIZEDPHONENUM"), iconId(c, "ZICONID"),
        recordIdCol(c, "ZRECORDID");
    const QString viberIcons = QLatin1Char('/') + QLatin1String(StorePaths::kViberIcons);
    const QString recordIcons = QLatin1Char('/') + QLatin1String(StorePaths::kContactIcons);
    const QString jpg = QStringLiteral(".jpg");
    while (c.moveNext()) {
        const qint64 id = c.getInt64At(pk.index);
        if (ctx.data->persons.contains(id)) {
            ctx.account->leaveOut(LoadAccount::People, repeatedKey());
            continue;
        }
        ctx.account->addHeldAndRead(LoadAccount::People);
        auto *person = new _ViberPerson;
        person->id = id;
        ctx.data->persons.insert(id, person);

        // The address-book name is the one the user gave; without a contact the
        // participant's own Viber name is still better than none (the views fall
        // back to the number).
        for (const Col *col : {&personName, &fullName, &name, &shortName}) {
            if (col->index >= 0)
                person->name = ctx.textAt(c, col->index);
            if (!person->name.trimmed().isEmpty())
                break;
        }
        QString phone = c.getTextAt(phoneCol.index);
        if (allDigits(phone))
            phone.prepend(QLatin1Char('+'));
        person->phone = ctx.texts.keep(phone);
        // Device paths, fetched from the phone later; an id or a number from the
        // store must not lead out of its folder there either.
        const QString icon = c.getTextAt(iconId.index);
        if (!icon.isEmpty())
            person->viberIconPath = ctx.texts.keep(StorePaths::childPath(viberIcons, icon + jpg));
        if (recordId && !c.isNullAt(recordIdCol.index))
            person->recordIconPath = ctx.texts.keep(
                StorePaths::childPath(recordIcons, QString::number(c.getInt64At(recordIdCol.index)) + jpg));
        const QString digits = phoneDigits(person->phone);
        if (!digits.isEmpty())
            person->contactIconPath =
                ctx.texts.keep(StorePaths::fileInFolder(ctx.root, StorePaths::kContactIcons, digits + jpg));
        person->other = extra.other(c);
    }
}

void IOSViberDb::loadParticipants(LoadContext &ctx)
{
    // Every person is loaded already, so the join table alone links them to chats.
    if (m_layout.personSource().isEmpty())
        return;
    // A one-to-one chat of a current store names its other party even when the join
    // table lacks the link.
    for (auto it = ctx.interlocutors.cbegin(); it != ctx.interlocutors.cend(); ++it)
        if (_ViberPerson *person = ctx.data->persons.value(it.value()); person && it.key()->groupId.isEmpty())
            it.key()->participants.insert(person->id, person);
    const StoreLayout::Relation &join = m_layout.participants();
    if (!m_layout.hasParticipantLinks()) {
        if (m_layout.has(join.table))
            qWarning("The participants table %s of %s lacks the columns %s, %s; chats are loaded without "
                     "participants",
                     qPrintable(join.table), qPrintable(path()), qPrintable(join.first),
                     qPrintable(join.second));
        return;
    }
    Sqlite3Cursor c = queryThrow(QStringLiteral("select j.%1 as chat_id, j.%2 as person_id from %3 as j")
                                     .arg(join.first, join.second, join.table));
    const Col chatCol(c, "chat_id"), personCol(c, "person_id");
    while (c.moveNext()) {
        _ViberPerson *person = ctx.data->persons.value(c.getInt64At(personCol.index));
        _ViberChat *chat = ctx.data->chats.value(c.getInt64At(chatCol.index));
        if (person && chat)
            chat->participants.insert(person->id, person);
    }
}

void IOSViberDb::loadMessages(LoadContext &ctx)
{
    // Newer stores link a location from its message only.
    QString sql = QStringLiteral("select m.*, l.ZLATITUDE, l.ZLONGITUDE, l.ZADDRESS as loc_address from "
                                 "ZVIBERMESSAGE as m left join ZVIBERLOCATION as l on ");
    switch (m_layout.locationLink()) {
    case StoreLayout::MessageLink::Own:
        sql += QStringLiteral("m.Z_PK=l.ZMESSAGE");
        break;
    case StoreLayout::MessageLink::Message:
        sql += QStringLiteral("m.ZLOCATION=l.Z_PK");
        break;
    default:
        sql += QStringLiteral("0");
    }
    // Sized once for the messages and call entries to come: grown step by step, the
    // table of a million is copied fourteen times, the last time holding both copies.
    const qint64 messageRows = rowCount(*this, "ZVIBERMESSAGE");
    qint64 rows = messageRows;
    if (m_layout.has(QStringLiteral("ZRECENT")))
        rows += rowCount(*this, "ZRECENT");
    ctx.data->messages.reserve(rows);

    const QString customLocation = QStringLiteral("customLocation");
    const QString noChat = sentence(QT_TRANSLATE_NOOP("IOSViberDb", "IDS_LEFT_OUT_NO_CHAT"));
    const KeyIndex<_ViberChat> chats(ctx.data->chats);
    const KeyIndex<_ViberPerson> persons(ctx.data->persons);

    // What one row tells; a row's record is made before the table is asked whether it
    // holds its key already, so that rows can be read on another thread.
    struct Row
    {
        enum Outcome : quint8 { Read, NoChat, NoState, CallLog } outcome = Read;
        LoadAccount::Kind kind = LoadAccount::Messages;
        qint64 id = 0;
        _ViberChat *chat = nullptr;
        _ViberMsg *msg = nullptr; // Read: made, not yet in the table
        qint64 attachmentKey = 0;
        QString state; // NoState: its spelling
    };
    // Reads rows of a cursor; one per thread, for its cursor's columns and its texts.
    struct Reader
    {
        const Sqlite3Cursor &c;
        const IOSViberDb::LoadContext &ctx;
        const KeyIndex<_ViberChat> &chats;
        const KeyIndex<_ViberPerson> &persons;
        const QString &customLocation;
        TextBlocks &texts;
        ExtraColumns extra{c, kMessageCarried};
        StateSpellings states{};
        const Col pk{c, "Z_PK"}, conv{c, "ZCONVERSATION"}, stateCol{c, "ZSTATE"}, systemCol{c, "ZSYSTEMTYPE"},
            textCol{c, "ZTEXT"}, seqCol{c, "ZSEQ"}, tokenCol{c, "ZTOKEN"}, personCol{c, "ZPHONENUMINDEX"},
            dateCol{c, "ZDATE"}, stateDateCol{c, "ZSTATEDATE"}, latCol{c, "ZLATITUDE"},
            lonCol{c, "ZLONGITUDE"}, addressCol{c, "loc_address"}, attachmentCol{c, "ZATTACHMENT"};

        Row read()
        {
            Row row;
            row.id = c.getInt64At(pk.index);
            const QString systemType = c.getTextAt(systemCol.index);
            ViberSystemKind kind = ViberSystemKindNone;
            bool location = false;
            if (systemType.compare(customLocation, Qt::CaseInsensitive) == 0)
                location = true;
            else // a kind this version does not know is kept as Other, its spelling with it
                kind = systemKindFromStoreText(systemType);
            row.kind = isNoticeKind(kind) ? LoadAccount::SystemEvents : LoadAccount::Messages;
            row.chat = chats.value(c.getInt64At(conv.index));
            if (!row.chat) {
                row.outcome = Row::NoChat;
                return row;
            }
            const ViberMsgState state = states.stateOf(c, stateCol.index);
            if (state == ViberMsgStateNone) {
                row.outcome = Row::NoState;
                row.state = c.getTextAt(stateCol.index);
                return row;
            }
            if (kind == ViberSystemKindCallLog && ctx.callLogMessages.contains(row.id)) {
                row.outcome = Row::CallLog;
                return row;
            }
            auto owned = std::make_unique<_ViberMsg>();
            _ViberMsg *msg = owned.get();
            msg->id = row.id;
            msg->seq = c.getInt64At(seqCol.index);
            msg->token = c.getInt64At(tokenCol.index);
            const qint64 personKey = c.getInt64At(personCol.index);
            if (personKey > 0)
                msg->person = persons.value(personKey);
            msg->date = c.getDoubleAt(dateCol.index);
            // A row without its date still has the send time in its token.
            if (msg->date == 0)
                msg->date = storeTimeOfToken(msg->token);
            msg->stateDate = c.getDoubleAt(stateDateCol.index);
            msg->state = state;
            // A member-added row of older stores has no text: the person added is its person.
            msg->text = texts.messageText(c.textBytesAt(textCol.index));
            // Only a message with a place gets one: a million others spare its room.
            const double latitude = c.getDoubleAt(latCol.index), longitude = c.getDoubleAt(lonCol.index);
            const QString address = texts.fromUtf8(c.textBytesAt(addressCol.index));
            if (latitude != 0 || longitude != 0 || !address.isEmpty())
                msg->setPlace(latitude, longitude, address);
            msg->other = extra.other(c);
            // A kind not known goes back into a store with its spelling, which a row of
            // this program's layout may keep only in its column.
            if (kind == ViberSystemKindOther) {
                QVariantMap columns = readExtraColumns(msg);
                if (!columns.contains(QStringLiteral("ZSYSTEMTYPE"))) {
                    columns.insert(QStringLiteral("ZSYSTEMTYPE"), systemType);
                    writeExtraColumns(msg, columns);
                }
            }
            msg->systemKind = kind;
            if (isNoticeKind(kind))
                msg->type = ViberMsgTypeSystem;
            else
                msg->type = location ? ViberMsgTypeLocation : ViberMsgTypeText;
            msg->chat = row.chat;
            if (ctx.attachmentsFromMessages)
                row.attachmentKey = c.getInt64At(attachmentCol.index);
            row.msg = owned.release();
            return row;
        }
    };

    auto &messages = ctx.data->messages;
    qint64 seen = 0;
    // Rows go into the records in the store's order, whichever thread read them.
    auto apply = [&](Row &row) {
        std::unique_ptr<_ViberMsg> msg(std::exchange(row.msg, nullptr));
        if ((++seen & 0x3FFF) == 0)
            ctx.report(kMessagesStart + int((kMessagesEnd - kMessagesStart) * std::min(seen, rows) /
                                            std::max<qint64>(rows, 1)));
        const qint64 id = row.id;
        // A row joined with several locations comes more than once: the first counts.
        auto leaveOut = [&](const QString &why) {
            if (!messages.contains(id) && !ctx.messagesLeftOut.contains(id)) {
                ctx.messagesLeftOut.insert(id);
                ctx.account->leaveOut(row.kind, why);
            }
        };
        switch (row.outcome) {
        case Row::NoChat:
            leaveOut(noChat);
            return;
        case Row::NoState:
            leaveOut(sentence(QT_TRANSLATE_NOOP("IOSViberDb", "IDS_LEFT_OUT_STATE_%1")).arg(row.state));
            return;
        case Row::CallLog:
            // Shown once, as the call its recent holds.
            if (!ctx.callLogChats.contains(id)) {
                ctx.callLogChats.insert(id, row.chat);
                ctx.account->addHeldAndRead(row.kind);
            }
            return;
        case Row::Read:
            break;
        }
        // Looked up once, as the slot to fill: at a million rows the lookups in a
        // table far larger than the processor's caches are much of the work.
        _ViberMsg *&slot = messages[id];
        if (slot)
            return;
        ctx.account->addHeldAndRead(row.kind);
        slot = msg.release();
        row.chat->messages.append(slot);
        if (row.attachmentKey > 0)
            ctx.messageOfAttachment.insert(row.attachmentKey, slot);
    };

    // A large table whose key is an integer (so never null) is read in two halves of
    // its keys side by side, the second on a thread of its own; a store this load
    // opened for itself gets a second connection for that.
    qint64 split = 0;
    bool halves = false;
    std::unique_ptr<Sqlite3DB> second;
    if (messageRows >= s_splitMessageRows.load() && openedForReading()) {
        Sqlite3Cursor key =
            queryThrow("select lower(type) = 'integer' from pragma_table_info('ZVIBERMESSAGE') "
                       "where name = 'Z_PK' and pk = 1 "
                       "and (select count(*) from pragma_table_info('ZVIBERMESSAGE') where pk > 0) = 1");
        if (key.moveNext() && key.getIntAt(0) == 1) {
            Sqlite3Cursor range = queryThrow("select min(Z_PK), max(Z_PK) from ZVIBERMESSAGE");
            if (range.moveNext()) {
                const qint64 low = range.getInt64At(0), high = range.getInt64At(1);
                // Halfway, without overflow for keys as far apart as a hostile store's.
                split = qint64(quint64(low) + (quint64(high) - quint64(low)) / 2);
                halves = high > low;
            }
        }
    }
    if (halves) {
        try {
            second = openAnotherReader();
        } catch (const Sqlite3Exception &e) {
            // Read in one piece as before.
            qWarning(
                "A second connection to %s could not be opened (%s); its messages are read on one thread",
                qUtf8Printable(path()), qUtf8Printable(e.message()));
            halves = false;
        }
    }
    // The rows select reads, read on this thread and applied as they come.
    auto readHere = [&](const QString &select) {
        Sqlite3Cursor c = queryThrow(select);
        Reader reader{c, ctx, chats, persons, customLocation, ctx.texts};
        while (c.moveNext()) {
            Row row = reader.read();
            apply(row);
        }
    };
    if (!halves) {
        readHere(sql);
    } else {
        // The second half's rows wait here until the first half's are in; a record
        // of each row read, its other fields where it has none.
        struct Staged
        {
            _ViberMsg *msg;
            qint64 attachmentKey;
        };
        std::vector<Staged> staged;
        staged.reserve(size_t(messageRows / 2 + 1));
        std::vector<Row> others;
        std::atomic<bool> stop{false};
        std::exception_ptr failure;
        const QString secondSql = sql + QStringLiteral(" where m.Z_PK > %1").arg(split);
        std::thread thread([&] {
            try {
                TextBlocks texts;
                Sqlite3Cursor c = second->queryThrow(secondSql);
                Reader reader{c, ctx, chats, persons, customLocation, texts};
                while (!stop.load(std::memory_order_relaxed) && c.moveNext()) {
                    Row row = reader.read();
                    if (row.outcome == Row::Read) {
                        staged.push_back({row.msg, row.attachmentKey});
                    } else {
                        staged.push_back({nullptr, 0});
                        others.push_back(std::move(row));
                    }
                }
            } catch (...) {
                failure = std::current_exception();
            }
        });
        size_t applied = 0;
        // Whatever ends the first half, the thread ends and leaves no record behind.
        const auto finish = qScopeGuard([&] {
            stop = true;
            if (thread.joinable())
                thread.join();
            for (size_t i = applied; i < staged.size(); ++i)
                delete staged[i].msg;
        });
        readHere(sql + QStringLiteral(" where m.Z_PK <= %1").arg(split));
        thread.join();
        if (failure)
            std::rethrow_exception(failure);
        size_t other = 0;
        for (; applied < staged.size(); ++applied) {
            Staged &entry = staged[applied];
            if (!entry.msg) {
                apply(others[other++]);
                continue;
            }
            Row row;
            row.msg = std::exchange(entry.msg, nullptr);
            row.id = row.msg->id;
            row.chat = row.msg->chat;
            row.kind = isNoticeKind(row.msg->systemKind) ? LoadAccount::SystemEvents : LoadAccount::Messages;
            row.attachmentKey = entry.attachmentKey;
            apply(row);
        }
    }
    // Rows no key of their own tells apart (a damaged store) are not read twice.
    const qint64 counted =
        ctx.account->count(LoadAccount::Messages).held + ctx.account->count(LoadAccount::SystemEvents).held;
    if (messageRows > counted)
        ctx.account->leaveOut(LoadAccount::Messages, repeatedKey(), messageRows - counted);
}

void IOSViberDb::loadAttachments(LoadContext &ctx)
{
    // Some current stores link attachments only through a join table of the two
    // entities; others have both it and the message's column.
    if (const StoreLayout::Relation &join = m_layout.attachmentJoin();
        ctx.attachmentsFromMessages && join.exists()) {
        Sqlite3Cursor j =
            queryThrow(QStringLiteral("select %1, %2 from %3").arg(join.first, join.second, join.table));
        while (j.moveNext()) {
            _ViberMsg *msg = ctx.data->messages.value(j.getInt64At(1));
            const qint64 attachment = j.getInt64At(0);
            if (msg && msg->type != ViberMsgTypeCall && !ctx.messageOfAttachment.contains(attachment))
                ctx.messageOfAttachment.insert(attachment, msg);
        }
    }
    Sqlite3Cursor c = queryThrow("select a.* from ZATTACHMENT as a");
    ExtraColumns extra(c, kAttachmentCarried);
    const Col pk(c, "Z_PK"), msgCol(c, "ZMESSAGE"), sizeCol(c, "ZFILESIZE"), seqCol(c, "ZSEQ"),
        durationCol(c, "ZDURATION"), idCol(c, "ZID"), bucketCol(c, "ZBUCKET"), nameCol(c, "ZNAME"),
        typeCol(c, "ZTYPE");
    auto &attachments = ctx.data->attachments;
    const QString &root = ctx.root;
    auto inFolder = [&](const char *folder, const QString &name) {
        return ctx.texts.keep(StorePaths::fileInFolder(root, folder, name));
    };
    // The preview in the first folder, else the one in the second, where
    // AttachmentPreviews makes it when neither exists.
    auto preview = [&](const char *first, const char *second, const QString &name) {
        bool isFile = false;
        const QString path = StorePaths::fileInFolder(root, first, name, &isFile);
        return ctx.texts.keep(isFile ? path : StorePaths::fileInFolder(root, second, name));
    };
    SharedTexts ids(ctx.texts), buckets(ctx.texts), types(ctx.texts);
    const QString noMessage = sentence(QT_TRANSLATE_NOOP("IOSViberDb", "IDS_LEFT_OUT_NO_MESSAGE"));
    while (c.moveNext()) {
        const qint64 id = c.getInt64At(pk.index);
        _ViberMsg *msg = ctx.attachmentsFromMessages ? ctx.messageOfAttachment.value(id)
                                                     : ctx.data->messages.value(c.getInt64At(msgCol.index));
        if (!msg || msg->type == ViberMsgTypeCall) {
            ctx.account->leaveOut(LoadAccount::Attachments, noMessage);
            continue;
        }
        ctx.account->addHeldAndRead(LoadAccount::Attachments);
        _ViberAtta *att = attachments.value(id);
        if (!att) {
            att = new _ViberAtta;
            att->id = id;
            attachments.insert(id, att);
            att->fileSize = c.getInt64At(sizeCol.index);
            att->seq = c.getInt64At(seqCol.index);
            att->duration = c.getDoubleAt(durationCol.index);
            att->attId = ids.text(c, idCol.index);
            att->bucket = buckets.text(c, bucketCol.index);
            att->fileName = ctx.textAt(c, nameCol.index);
            att->other = extra.other(c);
        }
        att->message = msg;
        msg->attachment = att;

        // Names come from the store: one that would lead out of its folder gives no path.
        const QString type = types.text(c, typeCol.index);
        att->type = type;
        if (type == QLatin1String("audio")) {
            msg->type = ViberMsgTypeAudio;
            att->filePath = inFolder(StorePaths::kVoiceMessages, att->fileName);
        } else if (type == QLatin1String("customLocation")) {
            msg->type = ViberMsgTypeLocation;
            att->previewPath = inFolder(StorePaths::kCustomLocationImage,
                                        StorePaths::locationImageName(msg->latitude(), msg->longitude()));
        } else if (type == QLatin1String("picture")) {
            msg->type = ViberMsgTypePicture;
            att->filePath = inFolder(StorePaths::kAttachments, att->fileName);
            if (att->filePath.isEmpty())
                continue;
            att->previewPath = preview(StorePaths::kAttachmentsPreview, StorePaths::kBigAttachmentsPreview,
                                       AttachmentPreviews::previewName(msg->type, att->fileName));
        } else if (type == QLatin1String("sticker")) {
            msg->type = ViberMsgTypeSticker;
            att->previewPath = inFolder(StorePaths::kStickers, StorePaths::stickerRelativePath(att->attId));
        } else if (type == QLatin1String("video")) {
            msg->type = ViberMsgTypeVideo;
            att->filePath = inFolder(StorePaths::kAttachments, att->fileName);
            const QString previewName = AttachmentPreviews::previewName(msg->type, att->fileName);
            if (att->filePath.isEmpty() || previewName.isEmpty())
                continue;
            att->previewPath =
                preview(StorePaths::kBigAttachmentsPreview, StorePaths::kAttachmentsPreview, previewName);
        } else if (msg->type == ViberMsgTypeText && (!type.isEmpty() || !att->fileName.isEmpty())) {
            // Documents, animations and kinds to come: shown and copied as files,
            // so that no attachment the store holds is lost.
            msg->type = ViberMsgTypeFile;
            att->filePath = inFolder(StorePaths::kAttachments, att->fileName);
        }
    }
}

void IOSViberDb::loadCalls(LoadContext &ctx)
{
    const QString line = QStringLiteral("ZRECENTSLINE");
    if (!m_layout.hasCalls())
        return;
    ViberData &data = *ctx.data;

    // A call belongs to the chat with its person alone. The store's order decides
    // between several (the later wins), and a one-to-one chat beats a group that
    // happens to have one member left.
    QHash<qint64, _ViberChat *> chatOfPerson;
    for (_ViberChat *chat : std::as_const(ctx.chatOrder)) {
        if (chat->participants.size() != 1)
            continue;
        const qint64 personId = chat->participants.constBegin().key();
        const _ViberChat *known = chatOfPerson.value(personId);
        if (known && known->groupId.isEmpty() && !chat->groupId.isEmpty())
            continue;
        chatOfPerson.insert(personId, chat);
    }

    // The party of a recent: its line's participant (a column, or in newer stores also
    // a join table of members and lines), else the line's number, else the chat of the
    // call-log message that tells it. Every recent is read, a line or not.
    QString sql = QStringLiteral("select r.*");
    if (m_layout.callsHaveLines()) {
        sql +=
            QStringLiteral(", ") + columnOr(m_layout, line, QStringLiteral("l"),
                                            QStringLiteral("ZPHONENUMINDEX"), QStringLiteral("line_person"));
        sql += QStringLiteral(", ") + columnOr(m_layout, line, QStringLiteral("l"),
                                               QStringLiteral("ZPHONENUMBER"), QStringLiteral("line_number"));
        if (const StoreLayout::Relation &members = m_layout.recentsLineMembers(); members.exists())
            sql += QStringLiteral(
                       ", (select j.%1 from %2 as j where j.%3=l.Z_PK order by j.%1 limit 1) as line_member")
                       .arg(members.first, members.table, members.second);
        sql += QStringLiteral(" from ZRECENT as r left join ZRECENTSLINE as l on r.ZRECENTSLINE=l.Z_PK");
    } else {
        sql += QStringLiteral(" from ZRECENT as r");
    }
    Sqlite3Cursor c = queryThrow(sql);
    ExtraColumns extra(c, kCallCarried);
    const Col pk(c, "Z_PK"), personCol(c, "line_person"), memberCol(c, "line_member"),
        numberCol(c, "line_number"), logCol(c, "ZCALLLOGMESSAGE"), typeCol(c, "ZCALLTYPE"),
        tokenCol(c, "ZCALLTOKEN"), durationCol(c, "ZDURATION"), dateCol(c, "ZDATE");

    // Persons made up for numbers no participant has, and the one for calls nobody is named in.
    QHash<QString, _ViberPerson *> byDigits;
    bool digitsIndexed = false;
    _ViberPerson *unknown = nullptr;
    qint64 nextPersonId = -1;
    auto madeUpPerson = [&](const QString &name, const QString &phone) {
        while (data.persons.contains(nextPersonId) && nextPersonId > INT64_MIN)
            --nextPersonId;
        auto *person = new _ViberPerson;
        person->id = nextPersonId--;
        person->name = name;
        person->phone = phone;
        data.persons.insert(person->id, person);
        ctx.account->addRead(LoadAccount::People);
        ctx.account->addMadeUp(LoadAccount::People);
        return person;
    };
    auto personOfNumber = [&](const QString &number) -> _ViberPerson * {
        const QString digits = phoneDigits(number);
        if (digits.isEmpty())
            return nullptr;
        if (!digitsIndexed) {
            for (_ViberPerson *p : std::as_const(data.persons))
                if (const QString d = phoneDigits(p->phone); !d.isEmpty() && !byDigits.contains(d))
                    byDigits.insert(d, p);
            digitsIndexed = true;
        }
        _ViberPerson *&person = byDigits[digits];
        if (!person)
            person =
                madeUpPerson(QString(), allDigits(number) ? QLatin1Char('+') + number : number.trimmed());
        return person;
    };
    auto chatOf = [&](_ViberPerson *person) {
        _ViberChat *&chat = chatOfPerson[person->id];
        if (!chat) {
            qint64 chatId = -qint64(data.chats.size());
            while (data.chats.contains(chatId) &&
                   chatId > INT64_MIN) // only a hostile store has negative keys
                --chatId;
            chat = new _ViberChat;
            chat->id = chatId;
            data.chats.insert(chatId, chat);
            chat->name = person->name;
            chat->participants.insert(person->id, person);
            ctx.account->addRead(LoadAccount::Chats);
            ctx.account->addMadeUp(LoadAccount::Chats);
        }
        return chat;
    };

    while (c.moveNext()) {
        const qint64 id = c.getInt64At(pk.index);
        if (data.calls.contains(id)) {
            ctx.account->leaveOut(LoadAccount::Calls, repeatedKey());
            continue;
        }
        _ViberPerson *person = nullptr;
        _ViberChat *chat = nullptr;
        for (const Col *col : {&personCol, &memberCol})
            if (!person && col->index >= 0 && c.getInt64At(col->index) != 0)
                person = data.persons.value(c.getInt64At(col->index));
        if (!person)
            person = personOfNumber(c.getTextAt(numberCol.index));
        if (!person) {
            chat = ctx.callLogChats.value(c.getInt64At(logCol.index));
            if (!chat && logCol.index >= 0)
                if (const _ViberMsg *told = data.messages.value(c.getInt64At(logCol.index)))
                    chat = told->chat;
            if (chat && chat->participants.size() == 1)
                person = chat->participants.constBegin().value();
        }
        if (!person) {
            // Nobody the store names: the call is still shown, under an unknown party.
            if (!unknown)
                unknown =
                    madeUpPerson(sentence(QT_TRANSLATE_NOOP("IOSViberDb", "IDS_UNKNOWN_PARTY")), QString());
            person = unknown;
        }
        if (!chat)
            chat = chatOf(person);

        // The entry's key is the call's negated; a store whose keys collide with that
        // (negative keys, INT64_MIN) gets a free one instead of losing the call.
        qint64 entryId = id > 0 ? -id : 0;
        if (entryId == 0 || data.messages.contains(entryId)) {
            while (data.messages.contains(ctx.nextFreeEntryId) && ctx.nextFreeEntryId > INT64_MIN)
                --ctx.nextFreeEntryId;
            if (data.messages.contains(ctx.nextFreeEntryId)) {
                // every key taken: no store holds that many rows
                ctx.account->leaveOut(LoadAccount::Calls, repeatedKey());
                continue;
            }
            entryId = ctx.nextFreeEntryId--;
        }
        ctx.account->addHeldAndRead(LoadAccount::Calls);
        auto *call = new _ViberCall;
        call->id = id;
        data.calls.insert(id, call);
        call->callToken = c.getInt64At(tokenCol.index);
        call->duration = c.getIntAt(durationCol.index);
        call->date = c.getDoubleAt(dateCol.index);
        // A kind this version does not know still shows, its spelling kept.
        call->type = callTypeFromStoreText(c.getTextAt(typeCol.index));
        call->person = person;
        call->other = extra.other(c);

        auto *entry = new _ViberMsg;
        entry->id = entryId;
        data.messages.insert(entryId, entry);
        entry->date = call->date;
        entry->type = ViberMsgTypeCall;
        entry->call = call;
        entry->chat = chat;
        chat->messages.append(entry);
        if (chat->date < call->date)
            chat->date = call->date;
    }
}

void IOSViberDb::foldWriteAheadLog(const QString &storePath)
{
    const QFileInfo log(storePath + QStringLiteral("-wal"));
    if (log.isFile() && log.size() > 0) {
        Sqlite3DB db;
        db.openThrow(storePath, Sqlite3DB::ReadWrite);
        db.execThrow(QStringLiteral("PRAGMA journal_mode=DELETE"));
    }
    // An index of shared memory outlives the log it described.
    QFile::remove(storePath + QStringLiteral("-shm"));
}

#include "CliApp.h"

#include "app/DataFolder.h"
#include "app/Platform.h"
#include "app/Plurals.h"
#include "export/MessageText.h"
#include "itunes/BackupLocations.h"
#include "itunes/BackupManifest.h"
#include "viber/LocalDatabases.h"
#include "viber/StorePaths.h"
#include "workers/AttachedPhones.h"
#include "workers/BackupTransfer.h"
#include "workers/BackupViberMsgThread.h"
#include "workers/ConsoleReporter.h"
#include "workers/DeleteViberMsgThread.h"
#include "workers/ExportMessagesThread.h"
#include "workers/ExportViberCallsThread.h"
#include "workers/ExtractMediaFilesThread.h"
#include "workers/LoadViberMsgThread.h"
#include "workers/SourceLoading.h"
#include "workers/UnlockBackupThread.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <algorithm>
#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {

// A failure with the sentence to print and the exit code.
struct CliError : std::runtime_error
{
    CliError(const QString &text, int code = CliApp::Failure)
        : std::runtime_error(text.toStdString()), code(code)
    {
    }
    int code;
};

struct Command
{
    const char *name;
    const char *summary; // the catalogue key of its one-line description
    bool source;         // takes a source
    bool filters;        // takes --chat, --since, --until
    const char *example; // a typical call, after the program's name
};

const Command kCommands[] = {
    {"list", "IDS_CLI_LIST", false, false, "list"},
    {"chats", "IDS_CLI_CHATS", true, false, "chats --db Archive"},
    {"inspect", "IDS_CLI_INSPECT", true, false, "inspect --backup ~/Backups/00008030-001A"},
    {"import", "IDS_CLI_IMPORT", true, true, "import --backup ~/Backups/00008030-001A --to Archive"},
    {"export", "IDS_CLI_EXPORT", true, true, "export --db Archive --chat Ann --format pdf --out ann"},
    {"attachments", "IDS_CLI_ATTACHMENTS", true, true,
     "attachments --db Archive --since 2023-01-01 --out files"},
    {"calls", "IDS_CLI_CALLS", true, true, "calls --db Archive --out calls.csv"},
    {"delete", "IDS_CLI_DELETE", true, true, "delete --db Archive --until 2019-12-31 --yes"},
    {"to-backup", "IDS_CLI_TO_BACKUP", true, true,
     "to-backup --db Archive --chat Ann --backup ~/Backups/00008030-001A"},
    {"transfer", "IDS_CLI_TRANSFER", true, true, "transfer --db Archive --chat Ann --device 00008030-001A"},
};

// How long the device layer has to tell of the phones attached.
constexpr int kPhoneWaitMs = 2000;

QString localTime(double storeTime)
{
    return storeTimeToDateTime(storeTime).toLocalTime().toString(u"yyyy-MM-dd HH:mm"_s);
}

QString shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// A day given as an ISO date, the start of it in local time.
QDateTime dayStart(const QString &text, const QString &option)
{
    const QDate date = QDate::fromString(text, Qt::ISODate);
    if (!date.isValid())
        throw CliError(CliApp::tr("IDS_CLI_BAD_DATE_%1_%2").arg(option, text), CliApp::UsageError);
    return date.startOfDay();
}

} // namespace

CliApp::CliApp(QTextStream &out, QTextStream &err) : m_out(out), m_err(err) {}

CliApp::~CliApp() = default;

void CliApp::cancel()
{
    if (ConsoleReporter *reporter = m_reporter.get())
        reporter->requestCancel();
}

int CliApp::run(const QStringList &arguments)
{
    const QString program = QFileInfo(arguments.value(0, u"chatwharf-cli"_s)).fileName();
    const QString name = arguments.value(1);
    const Command *command = nullptr;
    for (const Command &c : kCommands)
        if (name == QLatin1String(c.name))
            command = &c;
    if (name == u"--version"_s || name == u"-v"_s) {
        m_out << program << u' ' << QLatin1String(CHATWHARF_VERSION) << u'\n';
        return Success;
    }
    if (!command) {
        QString usage = tr("IDS_CLI_USAGE_%1").arg(program) + u'\n';
        for (const Command &c : kCommands)
            usage += u"  %1  %2\n"_s.arg(QLatin1String(c.name), -12).arg(tr(c.summary));
        usage += u"  %1  %2\n"_s.arg(u"--version"_s, -12).arg(tr("IDS_CLI_VERSION"));
        const bool help = name.isEmpty() || name == u"--help"_s || name == u"-h"_s || name == u"help"_s;
        (help ? m_out : m_err) << usage;
        if (!help)
            m_err << tr("IDS_CLI_UNKNOWN_COMMAND_%1").arg(name) << u'\n';
        return help ? Success : UsageError;
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(
        tr(command->summary) + u"\n\n"_s +
        tr("IDS_CLI_EXAMPLE_%1").arg(program + u' ' + QLatin1String(command->example)));
    parser.addHelpOption();
    if (command->source) {
        parser.addOption({u"db"_s, tr("IDS_CLI_OPT_DB"), u"name"_s});
        parser.addOption({u"backup"_s, tr("IDS_CLI_OPT_BACKUP"), u"folder"_s});
        parser.addOption({u"store"_s, tr("IDS_CLI_OPT_STORE"), u"path"_s});
        parser.addOption({u"viber-desktop"_s, tr("IDS_CLI_OPT_DESKTOP"), u"file"_s});
        parser.addOption({u"password-file"_s, tr("IDS_CLI_OPT_PASSWORD"), u"file"_s});
    }
    if (command->filters) {
        parser.addOption({u"chat"_s, tr("IDS_CLI_OPT_CHAT"), u"id|title"_s});
        parser.addOption({u"since"_s, tr("IDS_CLI_OPT_SINCE"), u"yyyy-mm-dd"_s});
        parser.addOption({u"until"_s, tr("IDS_CLI_OPT_UNTIL"), u"yyyy-mm-dd"_s});
    }
    if (name == u"import"_s)
        parser.addOption({u"to"_s, tr("IDS_CLI_OPT_TO"), u"name"_s});
    if (name == u"import"_s || name == u"delete"_s)
        parser.addOption({u"no-wait"_s, tr("IDS_CLI_OPT_NO_WAIT")});
    if (name == u"delete"_s)
        parser.addOption({u"all"_s, tr("IDS_CLI_OPT_ALL")});
    if (name == u"delete"_s || name == u"transfer"_s)
        parser.addOption(
            {u"yes"_s, tr(name == u"delete"_s ? "IDS_CLI_OPT_YES" : "IDS_CLI_OPT_YES_VIBER_CLOSED")});
    if (name == u"transfer"_s)
        parser.addOption({u"device"_s, tr("IDS_CLI_OPT_DEVICE"), u"udid"_s});
    parser.addOption({u"quiet"_s, tr("IDS_CLI_OPT_QUIET")});
    if (name == u"export"_s)
        parser.addOption({u"format"_s, tr("IDS_CLI_OPT_FORMAT"), u"txt|doc|csv|pdf|html|json"_s});
    if (name == u"export"_s || name == u"attachments"_s || name == u"calls"_s) {
        parser.addOption({u"out"_s, tr("IDS_CLI_OPT_OUT"), u"path"_s});
        parser.addOption({u"force"_s, tr("IDS_CLI_OPT_FORCE")});
    }

    QStringList rest = arguments;
    rest.removeAt(1);
    rest[0] = program + u' ' + name;
    if (!parser.parse(rest)) {
        m_err << program << u' ' << name << u": "_s << parser.errorText() << u'\n';
        return UsageError;
    }
    if (parser.isSet(u"help"_s)) {
        // The parser names the program by its path; the command reads better.
        QString help = parser.helpText();
        help.replace(QCoreApplication::arguments().value(0), rest[0]);
        m_out << help;
        return Success;
    }
    if (!parser.positionalArguments().isEmpty()) {
        m_err << tr("IDS_CLI_UNEXPECTED_%1").arg(parser.positionalArguments().join(u' ')) << u'\n';
        return UsageError;
    }

    m_reporter = std::make_unique<ConsoleReporter>();
    m_reporter->setProgressBar(stderrIsTerminal());
    m_quiet = parser.isSet(u"quiet"_s);
    m_reporter->setQuiet(m_quiet);
    try {
        // Before any source is read, which may take long: a typing error shows at once.
        if (command->filters)
            checkDates(parser);
        if (name == u"list"_s)
            list(parser);
        else if (name == u"chats"_s)
            chats(parser);
        else if (name == u"inspect"_s)
            inspect(parser);
        else if (name == u"import"_s)
            import(parser);
        else if (name == u"export"_s)
            exportMessages(parser);
        else if (name == u"attachments"_s)
            attachments(parser);
        else if (name == u"delete"_s)
            deleteMessages(parser);
        else if (name == u"to-backup"_s)
            toBackup(parser);
        else if (name == u"transfer"_s)
            transfer(parser);
        else
            calls(parser);
    } catch (const CliError &e) {
        if (e.what()[0] != '\0')
            m_err << QString::fromUtf8(e.what()) << u'\n';
        return e.code;
    } catch (const std::exception &e) {
        m_err << ConsoleReporter::toPlainText(QString::fromUtf8(e.what())).simplified() << u'\n';
        return Failure;
    }
    return Success;
}

bool CliApp::runWorker(WorkerThread &worker)
{
    worker.setReporter(m_reporter.get());
    worker.start();
    worker.wait();
    m_err.flush();
    return worker.outcome() == WorkerThread::Outcome::Succeeded;
}

void CliApp::checkFinished(WorkerThread &worker)
{
    if (!runWorker(worker))
        finishFailed(worker);
}

CliApp::Source CliApp::openSource(const QCommandLineParser &parser, bool backupIsTarget)
{
    QStringList given;
    for (const QString &option : {u"db"_s, u"backup"_s, u"store"_s, u"viber-desktop"_s})
        if (parser.isSet(option) && !(backupIsTarget && option == u"backup"_s))
            given << option;
    if (given.size() != 1)
        throw CliError(tr("IDS_CLI_ONE_SOURCE"), UsageError);
    const QString value = parser.value(given.first());
    Source source;
    source.name = value;
    const auto run = [this](WorkerThread &worker, const QString &) { return runWorker(worker); };
    const auto read = [&](LoadViberMsgThread &load) {
        checkFinished(load);
        source.data = load.data();
    };

    if (given.first() == u"db"_s) {
        const QString name = LocalDatabases::existingName(LocalDatabases::names(), value);
        if (name.isEmpty())
            throw CliError(tr("IDS_CLI_NO_DATABASE_%1_%2").arg(value, LocalDatabases::names().join(u", "_s)));
        LoadViberMsgThread load(QDir(LocalDatabases::folderOf(name)),
                                QLatin1String(LocalDatabases::kStoreFileName));
        read(load);
    } else if (given.first() == u"store"_s) {
        QString root, fileName;
        if (!StorePaths::findStoreFile(value, &root, &fileName))
            throw CliError(tr("IDS_CLI_NO_STORE_%1").arg(shown(value)));
        // A folder someone else made is only read: no previews are written into it.
        LoadViberMsgThread load(QDir(root), fileName);
        load.setMakePreviews(false);
        read(load);
    } else if (given.first() == u"viber-desktop"_s) {
        if (!QFileInfo(value).isFile())
            throw CliError(tr("IDS_CLI_NO_FILE_%1").arg(shown(value)));
        source.data = SourceLoading::loadViberDesktop(value, run);
    } else {
        if (!BackupManifest::holdsBackup(QDir(value)))
            throw CliError(tr("IDS_CLI_NO_BACKUP_%1").arg(shown(value)));
        BackupManifest manifest(QDir(value).absolutePath());
        manifest.loadManifestPlist();
        if (manifest.isEncrypted())
            unlock(manifest, parser);
        source.data = SourceLoading::loadITunesBackup(manifest, run);
    }
    if (!source.data)
        stepFailed();
    // What had to be done to the source first (an interrupted write finished) is never done unseen.
    for (const QString &note : std::as_const(source.data->account.notes))
        m_err << ConsoleReporter::toPlainText(note).simplified() << u'\n';
    return source;
}

void CliApp::unlock(BackupManifest &manifest, const QCommandLineParser &parser)
{
    QString password;
    const QString folder = shown(manifest.folder().path());
    if (parser.isSet(u"password-file"_s)) {
        QFile file(parser.value(u"password-file"_s));
        if (!file.open(QIODevice::ReadOnly))
            throw CliError(tr("IDS_CLI_PASSWORD_FILE_%1_%2").arg(shown(file.fileName()), file.errorString()));
        QByteArray line = file.readLine();
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        password = QString::fromUtf8(line);
        line.fill('\0');
        // No backup has an empty password: such a file was not filled in, and saying the
        // password is wrong would send the user looking for another.
        if (password.isEmpty())
            throw CliError(tr("IDS_CLI_PASSWORD_FILE_EMPTY_%1").arg(shown(file.fileName())));
    } else if (stdinIsTerminal()) {
        bool ok = false;
        password = readHiddenLine(tr("IDS_CLI_PASSWORD_PROMPT_%1").arg(folder), &ok);
        if (!ok)
            throw CliError(tr("IDS_CLI_CANCELLED"), Cancelled);
    } else {
        throw CliError(tr("IDS_CLI_PASSWORD_NEEDED_%1").arg(folder), UsageError);
    }
    UnlockBackupThread unlock(&manifest, password);
    password.fill(QChar(u'\0'));
    checkFinished(unlock);
    if (!unlock.unlocked())
        throw CliError(tr("IDS_CLI_WRONG_PASSWORD_%1").arg(folder));
}

QList<_ViberMsg *> CliApp::chosenMessages(const Source &source, const QCommandLineParser &parser) const
{
    QSet<const _ViberChat *> chats;
    for (const QString &wanted : parser.values(u"chat"_s)) {
        bool number = false;
        const qint64 id = wanted.toLongLong(&number);
        qsizetype found = 0;
        for (const _ViberChat *chat : std::as_const(source.data->chats)) {
            if ((number && chat->id == id) ||
                MessageText::chatTitle(chat).compare(wanted, Qt::CaseInsensitive) == 0) {
                chats.insert(chat);
                ++found;
            }
        }
        if (found == 0)
            throw CliError(tr("IDS_CLI_NO_CHAT_%1_%2").arg(wanted, source.name));
    }
    const QDateTime since =
        parser.isSet(u"since"_s) ? dayStart(parser.value(u"since"_s), u"--since"_s) : QDateTime();
    // Until a day means through that day.
    const QDateTime until =
        parser.isSet(u"until"_s) ? dayStart(parser.value(u"until"_s), u"--until"_s).addDays(1) : QDateTime();
    QList<_ViberMsg *> messages;
    for (_ViberMsg *m : std::as_const(source.data->messages)) {
        if (!m->chat || (!chats.isEmpty() && !chats.contains(m->chat)))
            continue;
        const QDateTime when = storeTimeToDateTime(m->date);
        if ((since.isValid() && when < since) || (until.isValid() && when >= until))
            continue;
        messages.append(m);
    }
    if (messages.isEmpty())
        throw CliError(tr("IDS_CLI_NO_MESSAGES_%1").arg(source.name));
    sortByDate(messages);
    return messages;
}

void CliApp::list(QCommandLineParser &)
{
    m_out << "kind\tname\tdevice\tdate\tencrypted\tlayout\tpath\n";
    for (const QString &name : LocalDatabases::names())
        m_out << "database\t" << name << "\t\t\t\t\t" << shown(LocalDatabases::folderOf(name)) << '\n';
    for (const QString &folder : BackupLocations::candidateBackupFolders()) {
        BackupManifest manifest(folder);
        try {
            manifest.loadManifestPlist();
        } catch (const std::exception &e) {
            m_err << ConsoleReporter::toPlainText(QString::fromUtf8(e.what())).simplified() << '\n';
            continue;
        }
        const bool newer = manifest.layout() == BackupManifest::Layout::ManifestDb;
        m_out << "backup\t" << manifest.displayName() << '\t' << manifest.deviceName() << '\t'
              << manifest.date().toLocalTime().toString(u"yyyy-MM-dd HH:mm"_s) << '\t'
              << (manifest.isEncrypted() ? "yes" : "no") << '\t' << (newer ? "Manifest.db" : "Manifest.mbdb")
              << '\t' << shown(folder) << '\n';
    }
}

void CliApp::chats(QCommandLineParser &parser)
{
    const Source source = openSource(parser);
    QList<const _ViberChat *> chats(source.data->chats.cbegin(), source.data->chats.cend());
    std::sort(chats.begin(), chats.end(),
              [](const _ViberChat *a, const _ViberChat *b) { return a->id < b->id; });
    m_out << "id\ttitle\tparticipants\tmessages\tfirst\tlast\n";
    for (const _ViberChat *chat : std::as_const(chats)) {
        double first = 0, last = 0;
        for (const _ViberMsg *m : chat->messages) {
            first = first == 0 ? m->date : std::min(first, m->date);
            last = std::max(last, m->date);
        }
        m_out << chat->id << '\t' << MessageText::chatTitle(chat) << '\t'
              << MessageText::participantLabels(chat) << '\t' << chat->messages.size() << '\t'
              << (first != 0 ? localTime(first) : QString()) << '\t'
              << (last != 0 ? localTime(last) : QString()) << '\n';
    }
}

void CliApp::inspect(QCommandLineParser &parser)
{
    const Source source = openSource(parser);
    m_out << source.data->account.text() << u'\n';
}

void CliApp::import(QCommandLineParser &parser)
{
    const QString typed = LocalDatabases::normalizedName(parser.value(u"to"_s));
    if (LocalDatabases::checkName(typed) != LocalDatabases::NameCheck::Valid)
        throw CliError(tr("IDS_CLI_BAD_DATABASE_NAME_%1").arg(typed), UsageError);
    const Source source = openSource(parser);
    const QList<_ViberMsg *> messages = chosenMessages(source, parser);
    // A database typed in another letter case is the existing one.
    QString name = LocalDatabases::existingName(LocalDatabases::names(), typed);
    if (name.isEmpty())
        name = typed;
    const QString folder = LocalDatabases::folderOf(name);
    LocalDatabaseLock lock(folder);
    lockDatabase(lock, name, parser.isSet(u"no-wait"_s));
    const bool created = lock.createFolder();
    BackupViberMsgThread copy(messages, QDir(folder));
    if (!runWorker(copy)) {
        // A database this run created holds nothing the user had.
        QString error;
        if (created && !LocalDatabases::remove(localDatabasesFolder(), name, &error))
            m_err << error << '\n';
        if (copy.outcome() == WorkerThread::Outcome::Cancelled)
            throw CliError(tr("IDS_CLI_CANCELLED"), Cancelled);
        throw CliError(QString());
    }
    const BackupViberMsgThread::Counts &n = copy.counts();
    say(tr("IDS_CLI_IMPORTED_%1_%2_%3_%4_%5")
            .arg(Plurals::messages(n.inserted - n.callsInserted), Plurals::calls(n.callsInserted), name,
                 Plurals::messages(n.present - n.callsPresent), Plurals::calls(n.callsPresent)));
    // Rows not copied or not read are never lost unseen, not even with --quiet.
    if (n.skipped > 0)
        (m_quiet ? m_err : m_out) << tr("IDS_CLI_SKIPPED_%1").arg(n.skipped) << '\n';
    if (!m_quiet || source.data->account.leftOutTotal() > 0)
        (m_quiet ? m_err : m_out) << source.data->account.text() << '\n';
}

void CliApp::deleteMessages(QCommandLineParser &parser)
{
    // Arguments first: nothing is read before the command is known to make sense.
    if (!parser.isSet(u"db"_s) || parser.isSet(u"backup"_s) || parser.isSet(u"store"_s) ||
        parser.isSet(u"viber-desktop"_s))
        throw CliError(tr("IDS_CLI_DELETE_DB_ONLY"), UsageError);
    const bool filtered = parser.isSet(u"chat"_s) || parser.isSet(u"since"_s) || parser.isSet(u"until"_s);
    if (!filtered && !parser.isSet(u"all"_s))
        throw CliError(tr("IDS_CLI_DELETE_NEEDS_CHOICE"), UsageError);
    const bool ask = !parser.isSet(u"yes"_s);
    if (ask && !stdinIsTerminal())
        throw CliError(tr("IDS_CLI_DELETE_NEEDS_YES"), UsageError);
    const QString name = LocalDatabases::existingName(LocalDatabases::names(), parser.value(u"db"_s));
    if (name.isEmpty())
        throw CliError(tr("IDS_CLI_NO_DATABASE_%1_%2")
                           .arg(parser.value(u"db"_s), LocalDatabases::names().join(u", "_s)));
    const QString folder = LocalDatabases::folderOf(name);
    // Held from the load on: the messages' keys must still be the store's when they are deleted.
    LocalDatabaseLock lock(folder);
    lockDatabase(lock, name, parser.isSet(u"no-wait"_s));
    const Source source = openSource(parser);
    const QList<_ViberMsg *> messages = chosenMessages(source, parser);
    const qint64 calls = std::count_if(messages.cbegin(), messages.cend(),
                                       [](const _ViberMsg *m) { return m->type == ViberMsgTypeCall; });
    const qint64 texts = messages.size() - calls;
    if (ask) {
        m_err << tr("IDS_CLI_DELETE_CONFIRM_%1_%2_%3")
                     .arg(Plurals::messages(texts), Plurals::calls(calls), name)
              << u' ';
        m_err.flush();
        const QString answer = QTextStream(stdin).readLine().trimmed().toLower();
        if (answer != u"y"_s && answer != u"yes"_s)
            throw CliError(tr("IDS_CLI_NOTHING_DELETED"), Failure);
    }
    const std::unique_ptr<IOSViberDb> store = LocalDatabases::store(folder);
    DeleteViberMsgThread worker(store.get(), messages);
    const bool ok = runWorker(worker);
    store->close();
    if (!ok)
        finishFailed(worker);
    say(tr("IDS_CLI_DELETED_%1_%2_%3").arg(Plurals::messages(texts), Plurals::calls(calls), name));
}

void CliApp::toBackup(QCommandLineParser &parser)
{
    const QString target = parser.value(u"backup"_s);
    if (target.isEmpty())
        throw CliError(tr("IDS_CLI_BACKUP_TARGET_NEEDED"), UsageError);
    if (!BackupManifest::holdsBackup(QDir(target)))
        throw CliError(tr("IDS_CLI_NO_BACKUP_%1").arg(shown(target)));
    BackupManifest manifest(QDir(target).absolutePath());
    manifest.loadManifestPlist();
    // Its files would need keys only the phone holds, as the window says too.
    if (manifest.isEncrypted())
        throw CliError(tr("IDS_CLI_ENCRYPTED_TARGET_%1").arg(shown(target)));
    const Source source = openSource(parser, true);
    const QList<_ViberMsg *> messages = chosenMessages(source, parser);
    const BackupTransfer::Result result = BackupTransfer::run(
        manifest, messages, [this](WorkerThread &worker, const QString &) { return runWorker(worker); });
    if (!manifest.recoveredText().isEmpty())
        m_err << ConsoleReporter::toPlainText(manifest.recoveredText()).simplified() << u'\n';
    if (!result.succeeded)
        stepFailed();
    say(tr("IDS_CLI_WROTE_TO_BACKUP_%1_%2_%3")
            .arg(Plurals::messages(result.messages), Plurals::calls(result.calls), shown(target)));
}

void CliApp::transfer(QCommandLineParser &parser)
{
    // The phone first: a missing one is said before a large source is read.
    AttachedPhones watcher;
    QString why;
    const QString wanted = parser.value(u"device"_s);
    const auto isWanted = [&](const PhoneTransfer::Phone &p) {
        return p.udid.compare(wanted, Qt::CaseInsensitive) == 0;
    };
    QList<PhoneTransfer::Phone> phones;
    if (watcher.watch(&why))
        phones = watcher.wait(kPhoneWaitMs, [&](const QList<PhoneTransfer::Phone> &known) {
            return !wanted.isEmpty() && std::any_of(known.cbegin(), known.cend(), isWanted);
        });
    else
        qWarning("The device layer cannot be used: %s", qUtf8Printable(why));
    QStringList udids;
    for (const PhoneTransfer::Phone &p : std::as_const(phones))
        udids << p.udid;
    if (!wanted.isEmpty())
        phones.removeIf([&](const PhoneTransfer::Phone &p) { return !isWanted(p); });
    if (phones.isEmpty())
        throw CliError(wanted.isEmpty() ? tr("IDS_CLI_NO_PHONE")
                                        : tr("IDS_CLI_NO_PHONE_%1_%2").arg(wanted, udids.join(u", "_s)));
    if (phones.size() > 1)
        throw CliError(tr("IDS_CLI_WHICH_PHONE_%1").arg(udids.join(u", "_s)), UsageError);
    const PhoneTransfer::Phone phone = phones.first();

    const Source source = openSource(parser);
    const QList<_ViberMsg *> messages = chosenMessages(source, parser);
    if (!m_quiet)
        m_err << tr("IDS_CLI_CLOSE_VIBER_%1").arg(phone.udid) << u'\n';
    if (!parser.isSet(u"yes"_s) && stdinIsTerminal()) {
        m_err << tr("IDS_CLI_PRESS_ENTER") << u' ';
        m_err.flush();
        QTextStream(stdin).readLine();
    }
    m_err.flush();
    PhoneTransfer::Host host;
    host.run = [this](WorkerThread &worker, const QString &) { return runWorker(worker); };
    host.unlock = [this, &parser](BackupManifest &manifest) {
        unlock(manifest, parser);
        return true;
    };
    host.inform = [this](const QString &text) {
        if (!m_quiet)
            m_err << ConsoleReporter::toPlainText(text) << u'\n';
    };
    host.fail = [this](const QString &text) { m_err << ConsoleReporter::toPlainText(text) << u'\n'; };
    host.settingInTheWay = [this](PhoneTransfer::Setting setting) {
        m_err << tr(setting == PhoneTransfer::Setting::ICloudBackup ? "IDS_CLI_TURN_OFF_ICLOUD_BACKUP"
                                                                    : "IDS_CLI_TURN_OFF_BACKUP_ENCRYPTION")
              << u'\n';
    };
    const PhoneTransfer::Transferred result = PhoneTransfer::transfer(phone, messages, host);
    if (!result.succeeded)
        stepFailed();
    say(tr("IDS_CLI_TRANSFERRED_%1_%2_%3")
            .arg(Plurals::messages(result.messages), Plurals::calls(result.calls), phone.udid));
}

void CliApp::say(const QString &line)
{
    if (!m_quiet)
        m_out << line << u'\n';
}

void CliApp::checkDates(const QCommandLineParser &parser) const
{
    for (const QString &option : {u"since"_s, u"until"_s})
        if (parser.isSet(option))
            dayStart(parser.value(option), u"--"_s + option);
}

void CliApp::finishFailed(const WorkerThread &worker)
{
    if (worker.outcome() == WorkerThread::Outcome::Cancelled)
        throw CliError(tr("IDS_CLI_CANCELLED"), Cancelled);
    throw CliError(QString()); // the reporter said why
}

void CliApp::stepFailed() const
{
    if (m_reporter->isCancelled())
        throw CliError(tr("IDS_CLI_CANCELLED"), Cancelled);
    throw CliError(QString()); // the step's runner said why
}

void CliApp::lockDatabase(LocalDatabaseLock &lock, const QString &name, bool noWait)
{
    if (lock.tryLock())
        return;
    if (lock.error().isEmpty() && !noWait) {
        m_err << tr("IDS_CLI_WAITING_FOR_DATABASE_%1").arg(name) << u'\n';
        m_err.flush();
        while (!lock.tryLock(200) && lock.error().isEmpty())
            if (m_reporter->isCancelled())
                throw CliError(tr("IDS_CLI_CANCELLED"), Cancelled);
    }
    if (!lock.isLocked())
        throw CliError(lock.error().isEmpty() ? tr("IDS_CLI_DATABASE_BUSY_%1").arg(name) : lock.error());
}

void CliApp::exportMessages(QCommandLineParser &parser)
{
    static const QHash<QString, int> formats{
        {u"txt"_s, ExportMessagesThread::Text},  {u"doc"_s, ExportMessagesThread::Text},
        {u"csv"_s, ExportMessagesThread::Csv},   {u"pdf"_s, ExportMessagesThread::Pdf},
        {u"html"_s, ExportMessagesThread::Html}, {u"json"_s, ExportMessagesThread::Json}};
    const QString format = parser.value(u"format"_s).toLower();
    if (!formats.contains(format))
        throw CliError(tr("IDS_CLI_BAD_FORMAT_%1").arg(parser.value(u"format"_s)), UsageError);
    checkOutput(parser);
    const Source source = openSource(parser);
    ExportMessagesThread worker(chosenMessages(source, parser), parser.value(u"out"_s),
                                formats.value(format));
    worker.setReplaceExisting(parser.isSet(u"force"_s));
    checkFinished(worker);
}

void CliApp::checkOutput(const QCommandLineParser &parser) const
{
    const QString out = parser.value(u"out"_s);
    if (out.isEmpty())
        throw CliError(tr("IDS_CLI_OUT_NEEDED"), UsageError);
    if (parser.isSet(u"force"_s) || ExportMessagesThread::isFreeOutput(out))
        return;
    if (QFileInfo(out).isDir())
        throw CliError(tr("IDS_CLI_OUT_NOT_EMPTY_%1").arg(shown(out)));
    throw CliError(tr("IDS_CLI_OUT_EXISTS_%1").arg(shown(out)));
}

void CliApp::attachments(QCommandLineParser &parser)
{
    checkOutput(parser);
    const Source source = openSource(parser);
    ExtractMediaFilesThread worker(chosenMessages(source, parser), QDir(parser.value(u"out"_s)));
    checkFinished(worker);
}

void CliApp::calls(QCommandLineParser &parser)
{
    checkOutput(parser);
    const Source source = openSource(parser);
    QList<_ViberCall *> calls;
    for (const _ViberMsg *m : chosenMessages(source, parser))
        if (m->call)
            calls.append(m->call);
    if (calls.isEmpty())
        throw CliError(tr("IDS_CLI_NO_CALLS_%1").arg(source.name));
    ExportViberCallsThread worker(calls, parser.value(u"out"_s));
    checkFinished(worker);
}

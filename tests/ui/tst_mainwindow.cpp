#include "app/AppConstants.h"
#include "app/Logging.h"
#include "app/UpdateCheck.h"
#include "device/MobileDevice.h"
#include "export/BubblePage.h"
#include "support/BackupFixtures.h"
#include "support/DesktopFixtures.h"
#include "support/MessageFixtures.h"
#include "support/ModalUser.h"
#include "support/SimulatedAfc.h"
#include "support/SimulatedDevice.h"
#include "support/StoreFixtures.h"
#include "support/TempHome.h"
#include "support/TestSupport.h"
#include "ui/Application.h"
#include "ui/ContextMenus.h"
#include "ui/ExportActions.h"
#include "ui/ImportActions.h"
#include "ui/ItemModelMain.h"
#include "ui/LocalDbActions.h"
#include "ui/LocalDbSelForm.h"
#include "ui/MainWindow.h"
#include "ui/MessageBoxes.h"
#include "ui/PasscodeDlg.h"
#include "ui/VBBubbleViewMgr.h"
#include "viber/IOSViberDb.h"
#include "viber/LocalDatabases.h"
#include "viber/PCViberDb.h"

#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <optional>

#include <sys/resource.h>

using namespace Qt::StringLiterals;
using Node = AbsTreeItemModel::_ItemNode;

// Chats Ann (4 messages), Bob (1) and "Weekend hiking friend" (1, the latest).
static fixtures::StorePlan alphaPlan()
{
    fixtures::StorePlan plan;
    fixtures::PersonPlan &ann = plan.addPerson(u"ann"_s, u"4915100001"_s, u"Ann"_s);
    ann.phone = u"+4915100001"_s;
    const qint64 bob = plan.addPerson(u"bob"_s, u"4915100002"_s, u"Bob"_s).pk;
    const qint64 annChat = plan.addChat(u"ann"_s, {ann.pk}).pk;
    const qint64 bobChat = plan.addChat(u"bob"_s, {bob}).pk;
    const qint64 group = plan.addChat(u"group"_s, {ann.pk, bob}, u"g1"_s, u"Weekend hiking friend"_s).pk;
    for (const QString &text : {u"apple pie"_s, u"no fruit"_s, u"another apple"_s, u"bye"_s})
        plan.addMessage(text, annChat, ann.pk, u"received"_s, text);
    plan.addMessage(u"b1"_s, bobChat, bob, u"received"_s, u"hi"_s);
    plan.addMessage(u"g1"_s, group, bob, u"received"_s, u"trail"_s);
    return plan;
}

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_home.emplace();
        // Databases Alpha and Beta (one message), a folder without a store, a stored phone.
        const QDir databases = localDatabasesFolder();
        for (const QString &name : {u"Alpha"_s, u"Beta"_s}) {
            fixtures::StorePlan plan = alphaPlan();
            if (name == u"Beta")
                plan.messages.resize(1);
            fixtures::writeStore(plan, databases.filePath(name), fixtures::StoreLayout::Template,
                                 QLatin1String(LocalDatabases::kStoreFileName));
        }
        QVERIFY(databases.mkpath(u"NotADatabase/Documents"_s));
        const QString phone = dataFolder().filePath(u"virtual_ios/Stored Phone"_s);
        fixtures::writeStore(alphaPlan(), phone, fixtures::StoreLayout::Phone);
        makeWindow();
    }
    void cleanup()
    {
        m_user.reset();
        m_w.reset();
        resetLoggingForTests();
        m_home.reset();
    }
    void menusFollowTheSelection_data()
    {
        // The actions that write or remove data on offer: in the toolbar as named, in
        // the tree's menu for the whole source or chat, in the list's for a selection.
        // A transfer needs an attached phone: a stored copy among the devices takes none.
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("attached"); // phones attached besides the stored one
        QTest::addColumn<QString>("actions");
        QTest::newRow("nothing") << QString() << 0 << QString();
        QTest::newRow("root") << u"Local Databases"_s << 1 << QString();
        QTest::newRow("phone") << u"Devices/Stored Phone"_s << 0 << u"BACKUP"_s;
        QTest::newRow("phone, one attached") << u"Devices/Stored Phone"_s << 1 << u"BACKUP I2I"_s;
        QTest::newRow("phone chat, one attached") << u"Devices/Stored Phone/Ann"_s << 1 << u"BACKUP I2I"_s;
        QTest::newRow("database") << u"Local Databases/Alpha"_s << 1 << u"DB2I DELETE"_s;
        QTest::newRow("database, stored phone only") << u"Local Databases/Alpha"_s << 0 << u"DELETE"_s;
        QTest::newRow("database chat") << u"Local Databases/Alpha/Ann"_s << 1 << u"DB2I DELETE"_s;
    }
    void menusFollowTheSelection()
    {
        QFETCH(QString, path);
        QFETCH(int, attached);
        QFETCH(QString, actions);
        IOSDeviceDesc phone;
        phone.name = phone.udid = u"Attached Phone"_s;
        phone.handle = &phone; // never used: only counted as attached
        if (attached > 0)
            m_w->treeModel()->addDeviceNode(phone);
        QVERIFY(select(path) || path.isEmpty());

        // An entry offered with another scope's suffix keeps it, and fails the match.
        auto writes = [](QStringList names, const QString &suffix) {
            static const QRegularExpression write(u"^IDS_MI_(BACKUP|I2I|DB2I|DELETE)"_s);
            return names.filter(write).replaceInStrings(u"IDS_MI_"_s, QString()).join(u' ').remove(suffix);
        };
        auto menu = [&](bool list) {
            const ContextMenus *menus = m_w->contextMenus();
            const std::unique_ptr<QMenu> shown =
                list ? menus->listMenu(m_w.get()) : menus->treeMenu(m_w.get());
            QStringList names;
            for (const QAction *a : shown ? shown->actions() : QList<QAction *>())
                names << a->objectName();
            return names;
        };
        QStringList enabled;
        const QList<QAction *> toolbar = m_w->findChild<QToolBar *>(u"mainToolBar"_s)->actions();
        for (const QAction *a : toolbar)
            enabled << (a->isEnabled() ? a->objectName() : QString());
        QCOMPARE(writes(enabled, u"_TOOLBAR"_s), actions);
        QCOMPARE(writes(menu(false), path.count(u'/') == 2 ? u"_CHAT"_s : u"_ALL"_s), actions);
        QCOMPARE(menu(true), QStringList()); // no message selected
        if (rows() > 0)
            selectRows(0);
        QCOMPARE(writes(menu(true), u"_SEL"_s), actions);
    }
    // Nothing goes unless the user agrees to a question naming it, escaped: a name is
    // never markup. What goes leaves the tree and the views.
    void deletionsAskAndUpdateTheTree()
    {
        const QString folder = LocalDatabases::folderOf(u"Alpha"_s);
        const ViberDataPtr loaded = LocalDatabases::load(folder);
        QList<_ViberMsg *> bye = loaded->messages.values();
        bye.removeIf([](const _ViberMsg *m) { return m->text != u"bye"; });
        const LocalDbDeletion selected{LocalDbDeletion::SelectedMessages, u"Alpha"_s, QString()},
            chat{LocalDbDeletion::WholeChat, u"Alpha"_s, u"<b>Ann</b>"_s};
        m_user->answer = QMessageBox::No;
        QVERIFY(!deleteMessagesFromLocalDb(m_w.get(), folder, bye, selected));
        QVERIFY(!deleteMessagesFromLocalDb(m_w.get(), folder, loaded->messages.values(), chat));
        QVERIFY(!deleteLocalDatabase(m_w.get(), u"Alpha"_s, 6));
        QCOMPARE(
            m_user->boxes,
            QStringList(
                {u"Delete the selected message from the database “Alpha”?"_s,
                 u"Delete the chat “&lt;b&gt;Ann&lt;/b&gt;” and all its 6 messages from the database “Alpha”?"_s,
                 u"Delete the whole database “Alpha” with its 6 messages? This cannot be undone."_s}));
        QCOMPARE(LocalDatabases::load(folder)->messages.size(), 6);
        m_user->answer = QMessageBox::Yes;
        m_user->boxes.clear();

        _LocalDbItemNode *alpha = m_w->treeModel()->findLocalDb(u"Alpha"_s);
        QVERIFY(select(u"Local Databases/Alpha/Bob"_s));
        QVERIFY(run("IDS_MI_DELETE_CHAT"));
        QCOMPARE(alpha->children.size(), 2);
        QCOMPARE(alpha->data->messages.size(), 5);
        // The chat that took Bob's row is on show, list and bubbles together.
        const Node *next = m_w->selectedNode();
        QVERIFY(next && next->parent == alpha && next->text != u"Bob");
        QCOMPARE(label(u"lbChatName"_s), next->text);
        QVERIFY(rows() > 0);
        QVERIFY(m_w->bubbleView()->currentHtml().contains(
            BubblePage::messageAnchor(m_w->smsModel()->message(0))));
        QVERIFY(!select(u"Local Databases/Alpha/Bob"_s));

        // Selected messages of a chat: the chat is selected again afterwards.
        QVERIFY(select(u"Local Databases/Alpha/Ann"_s));
        selectRows(0);
        QVERIFY(run("IDS_MI_DELETE_TOOLBAR"));
        QCOMPARE(m_w->selectedNode()->text, u"Ann"_s);
        QCOMPARE(rows(), 3);
        QCOMPARE(m_w->smsModel()->message(0)->text, u"no fruit"_s);

        // The toolbar on a database removes the whole of it.
        QVERIFY(select(u"Local Databases/Beta"_s));
        QVERIFY(run("IDS_MI_DELETE_TOOLBAR"));
        QCOMPARE(m_w->treeModel()->localDbNames(), QStringList(u"Alpha"_s));
        QVERIFY(!QFileInfo::exists(localDatabasesFolder().filePath(u"Beta"_s)));
        QVERIFY(!m_w->selectedNode());
        QCOMPARE(m_user->boxes.filter(u"Delete "_s).size(), 3); // each asked first
    }
    void devicesComeAndGo()
    {
        auto sim = std::make_shared<SimulatedDevice>();
        mobiledevice_set_backend(sim);
        makeWindow(true);
        m_w->setDeviceLoader([&](QWidget *, IOSDeviceDesc &desc) {
            desc.path = m_home->path() + u"/cache/"_s + desc.udid;
            fixtures::writeStore(alphaPlan(), desc.path, fixtures::StoreLayout::Phone);
            return true;
        });
        CFType values = CFType::dictionary();
        values.setValue(u"DeviceName"_s, CFType::fromString(u"Anna's iPhone"_s));
        values.setValue(u"UniqueDeviceID"_s, CFType::fromString(u"UDID1"_s));
        sim->addDevice(u"UDID1"_s, values);
        QTRY_COMPARE(m_w->treeModel()->deviceNodes().size(), 2);
        QCOMPARE(m_w->selectedNode(), m_w->treeModel()->deviceNodes().last());
        QCOMPARE(rows(), 6);

        // Its views let go of its records when it goes.
        sim->removeDevice(u"UDID1"_s);
        QTRY_COMPARE(m_w->treeModel()->deviceNodes().size(), 1);
        QVERIFY(!m_w->selectedNode());
        QCOMPARE(rows(), 0);
        // The stored copy disconnected by hand.
        QVERIFY(select(u"Devices/Stored Phone"_s));
        QVERIFY(run("IDS_MI_UNMOUNT_DEVICE"));
        QVERIFY(m_w->treeModel()->deviceNodes().isEmpty() && !m_w->selectedNode());
        m_w.reset();
        mobiledevice_set_backend(nullptr);
    }
    // The window's own loader reads a phone that hands out Viber's container.
    void aConnectedPhoneLoadsOverAfc()
    {
        QTemporaryDir phone;
        fixtures::writeStore(alphaPlan(), phone.filePath(u"container"_s), fixtures::StoreLayout::Phone);
        SimulatedAfc afc(phone.filePath(u"container"_s), phone.filePath(u"media"_s));
        QTRY_VERIFY(afc.device());
        makeWindow(true);
        QTRY_COMPARE(m_w->treeModel()->deviceNodes().size(), 2);
        QCOMPARE(m_w->selectedNode(), m_w->treeModel()->deviceNodes().last());
        QCOMPARE(rows(), 6);
        // A local database's messages go straight into the phone, which then shows them.
        QVERIFY(select(u"Local Databases/Alpha"_s));
        const QStringList sent =
            fixtures::messageContent(*ItemModelMain::sourceOf(m_w->selectedNode())->data);
        QVERIFY(run("IDS_MI_DB2I_ALL"));
        QTRY_COMPARE(m_w->treeModel()->deviceNodes().size(), 2);
        const ViberDataPtr onPhone =
            IOSViberDb(QDir(phone.filePath(u"container"_s)), QString::fromLatin1(fixtures::kStoreFileName))
                .load();
        for (const QString &message : sent)
            QVERIFY2(fixtures::messageContent(*onPhone).contains(message), qPrintable(message));
        QCOMPARE(m_user->boxes.filter(u"Successfully transferred"_s).size(), 1);
        m_w.reset();
    }
    void brokenDatabaseIsReportedAndStaysEmpty()
    {
        QVERIFY(testsupport::writeFile(
            localDatabasesFolder().filePath(u"Broken/Documents/Contacts-corvanta.data"_s),
            QByteArray(4096, 'x')));
        makeWindow();
        Node *broken = select(u"Local Databases/Broken"_s);
        QVERIFY(broken && broken->children.isEmpty() && rows() == 0);
        QCOMPARE(m_user->boxes.size(), 1);
        QVERIFY2(m_user->boxes.first().contains(u"Contacts-corvanta.data"_s),
                 qPrintable(m_user->boxes.first()));
        QVERIFY(select(u"Local Databases/Alpha"_s));
        QCOMPARE(rows(), 6);
    }
    // The cache of devices and backups (one left decrypted by an earlier version) goes;
    // local databases and stored phones stay.
    void clearCacheKeepsData()
    {
        for (const QString &cached : {u"ios_cache/UDID/com.viber/Documents/Contacts.data"_s,
                                      u"itunes_cache/0123abcd/com.viber/Documents/Contacts.data"_s})
            QVERIFY(testsupport::writeFile(dataFolder().filePath(cached), "chats"));
        QVERIFY(run("IDS_CLEAR_CACHE"));
        QVERIFY(m_user->boxes.value(0).contains(u"iTunes backups"_s));
        for (const char *cache : {"ios_cache", "itunes_cache"})
            QVERIFY2(!QFileInfo::exists(dataFolder().filePath(QLatin1String(cache))), cache);
        QVERIFY(QFileInfo::exists(localDatabasesFolder().filePath(u"Alpha"_s)) &&
                QFileInfo::exists(dataFolder().filePath(u"virtual_ios/Stored Phone"_s)));
    }
    // The local database actions behind the window, called as it calls them. The chooser
    // lists the databases and no blank entry, with a preset name typed; a name the
    // databases refuse keeps it open with the warning; Cancel gives no name.
    void chooser()
    {
        LocalDbSelForm form({u"Family"_s, u"Work"_s}, u"Imported 2024"_s);
        auto *combo = form.findChild<QComboBox *>(u"cbDatabases"_s);
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->currentText(), u"Imported 2024"_s);
        form.show();
        combo->setEditText(u"a/b"_s);
        form.findChild<QPushButton *>(u"btnOk"_s)->click(); // returns once the warning was answered
        QCOMPARE(m_user->boxes,
                 QStringList(u"Invalid Local Database name(can't contain \\ / : * ? \" < > |)."_s));
        QVERIFY(form.isVisible());
        combo->setEditText(u"  New one \t"_s);
        form.findChild<QPushButton *>(u"btnOk"_s)->click();
        QCOMPARE(form.selectedName(), u"New one"_s);
        form.show();
        form.findChild<QPushButton *>(u"btnCancel"_s)->click();
        QCOMPARE(form.selectedName(), QString());
    }
    void failedCopyKeepsOnlyTheDatabaseThatExisted()
    {
        // A picture too large for the file size limit fails the copy after the store
        // was made: a database that existed stays as it was, one made by the copy goes.
        const QString picture = m_home->path() + u"/big.jpg"_s;
        QVERIFY(testsupport::writeFile(picture, QByteArray(4 << 20, 'x')));
        testsupport::MessageFixture records;
        _ViberChat *chat = records.addChat(QString(), {records.addPerson(QString(), u"+1"_s)});
        const QDateTime morning(QDate(2024, 3, 5), QTime(9, 0));
        records
            .addAttachment(records.addMessage(chat, ViberMsgTypePicture, morning, true), picture, QString())
            ->fileName = u"big.jpg"_s;

        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit old = {};
        getrlimit(RLIMIT_FSIZE, &old);
        const struct rlimit limit = {2 << 20, old.rlim_max};
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
        QStringList started;
        // "ALPHA" is "Alpha" though the caller's list lacks it, as on a file system
        // that tells cases apart.
        for (const QString &name : {u"ALPHA"_s, u"New"_s}) {
            m_user->databaseName = name;
            started << QString();
            QVERIFY(
                backupMessagesToLocalDb(m_w.get(), records.messages(), {}, {}, &started.last()).isEmpty());
        }
        setrlimit(RLIMIT_FSIZE, &old);

        QCOMPARE(started, QStringList({u"Alpha"_s, QString()}));
        QCOMPARE(LocalDatabases::names(), QStringList({u"Alpha"_s, u"Beta"_s}));
        QCOMPARE(LocalDatabases::load(LocalDatabases::folderOf(u"Alpha"_s))->messages.size(), 6);
    }
    // Each action says which messages it will take, lets the user widen that, does
    // that many and says so again with its outcome.
    void actionsNameAndTakeTheirScope_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<int>("choice");
        QTest::addColumn<QString>("offers");
        QTest::addColumn<int>("done");
        const QString ann = u"the chat “Ann” (4 messages)"_s;
        const QString alpha = u"all 6 messages of “Alpha”"_s;
        QTest::newRow("export keeps the selection")
            << u"EXPORT"_s << u"Local Databases/Alpha/Ann"_s << QList<int>{1} << -1
            << u"the selected message|"_s + ann + u'|' + alpha << 1;
        QTest::newRow("export widened to all")
            << u"EXPORT"_s << u"Local Databases/Alpha/Ann"_s << QList<int>{} << 1 << ann + u'|' + alpha << 6;
        // The toolbar takes the selected messages, else the chat, else the whole source.
        const QString phone = u"|all 6 messages of “Stored Phone”"_s;
        QTest::newRow("backup of a chat")
            << u"BACKUP"_s << u"Devices/Stored Phone/Ann"_s << QList<int>{} << -1 << ann + phone << 4;
        QTest::newRow("backup of the phone")
            << u"BACKUP"_s << u"Devices/Stored Phone"_s << QList<int>{} << -1 << phone.mid(1) << 6;
        QTest::newRow("delete two selected")
            << u"DELETE"_s << u"Local Databases/Alpha/Ann"_s << QList<int>{0, 2} << -1
            << u"the 2 selected messages|"_s + ann + u'|' + alpha << 2;
        QTest::newRow("delete widened to the chat")
            << u"DELETE"_s << u"Local Databases/Alpha/Ann"_s << QList<int>{0} << 1
            << u"the selected message|"_s + ann + u'|' + alpha << 4;
    }
    void actionsNameAndTakeTheirScope()
    {
        QFETCH(QString, action);
        QFETCH(QString, path);
        QFETCH(QList<int>, selected);
        QFETCH(int, choice);
        QFETCH(QString, offers);
        QFETCH(int, done);
        QTemporaryDir out;
        const QString file = out.filePath(u"out"_s);
        m_w->exports()->setSaveFileChooser(
            [&](QWidget *, const QString &, const QString &, const QString &, QString *filter) {
                *filter = ExportController::exportFilters().at(2);
                return file;
            });
        m_user->databaseName = u"Scoped"_s;
        m_user->scopeChoice = choice;
        QVERIFY(select(path));
        for (int row : selected)
            selectRows(row);
        const qint64 before = m_w->treeModel()->findLocalDb(u"Alpha"_s)->data->messages.size();
        m_w->toolbarAction(u"IDS_MI_%1_TOOLBAR"_s.arg(action))->trigger();
        QTRY_COMPARE(m_user->scopeOffers.size(), 1);
        QCOMPARE(m_user->scopeOffers.first().join(u'|'), offers);
        const QString taken = m_user->scopesTaken.value(0);
        QCOMPARE(taken, offers.split(u'|').value(std::max(choice, 0))); // the narrowest first
        qint64 did = 0;
        if (action == u"EXPORT")
            did = testsupport::readFile(file + u".csv"_s).count('\n') - 1;
        else if (action == u"BACKUP") {
            // Into the database named, proposed after the source; the source stays on show.
            QCOMPARE(m_user->proposals, QStringList(u"Stored Phone_Backup"_s));
            const _LocalDbItemNode *scoped = m_w->treeModel()->findLocalDb(u"Scoped"_s);
            QVERIFY(scoped && scoped->loaded);
            QCOMPARE(scoped->children.size(), done == 6 ? 3 : 1); // its chats are listed
            did = scoped->data->messages.size();
            QCOMPARE(m_w->selectedNode()->text, path.section(u'/', -1));
            QCOMPARE(rows(), done);
            // A second copy into the database the first made: it is read afresh.
            QVERIFY(select(u"Devices/Stored Phone"_s) && run("IDS_MI_BACKUP_ALL"));
            QCOMPARE(scoped->data->messages.size(), 6);
        } else
            did = before - m_w->treeModel()->findLocalDb(u"Alpha"_s)->data->messages.size();
        QCOMPARE(did, qint64(done));
        QTRY_VERIFY2(m_user->boxes.join(u'\n').contains(u"This took "_s + taken),
                     qPrintable(m_user->boxes.join(u'\n')));
    }
    // A cancelled dialog writes nothing; an existing file is replaced only when the
    // user agrees; a folder export never goes among the files of a folder of that name.
    void exportScopesReachTheFiles()
    {
        QTemporaryDir out;
        QString answer; // none: the user cancels
        int filter = 2;
        m_w->exports()->setSaveFileChooser(
            [&](QWidget *, const QString &, const QString &, const QString &, QString *chosen) {
                if (chosen)
                    *chosen = ExportController::exportFilters().at(filter);
                return answer;
            });
        auto lines = [](const QString &path) { return testsupport::readFile(path).count('\n'); };
        QVERIFY(select(u"Local Databases/Alpha/Ann"_s) && run("IDS_MI_EXPORT_CHAT"));
        QVERIFY(m_user->boxes.isEmpty() && QDir(out.path()).isEmpty());

        QVERIFY(select(u"Local Databases/Alpha"_s));
        answer = out.filePath(u"all"_s);
        m_w->toolbarAction(u"IDS_MI_EXPORT_TOOLBAR"_s)->trigger();
        QCOMPARE(lines(answer + u".csv"_s), 7);
        // The dialog asked about "all", not about the "all.csv" the export would replace.
        m_user->boxes.clear();
        m_user->answer = QMessageBox::No;
        QVERIFY(select(u"Local Databases/Alpha/Ann"_s) && run("IDS_MI_EXPORT_CHAT"));
        QTRY_VERIFY2(m_user->boxes.value(0).contains(u"all.csv already exists"_s),
                     qPrintable(m_user->boxes.value(0)));
        QCOMPARE(lines(answer + u".csv"_s), 7);
        m_user->answer = QMessageBox::Yes;
        QVERIFY(run("IDS_MI_EXPORT_CHAT"));
        QTRY_COMPARE(lines(answer + u".csv"_s), 5);

        filter = 4;
        QVERIFY(testsupport::writeFile(answer + u"-html/index.html"_s, "the user's own"));
        m_user->boxes.clear();
        QVERIFY(run("IDS_MI_EXPORT_CHAT"));
        QTRY_VERIFY(m_user->boxes.value(0).startsWith(u"Successfully exported 4 messages to %1."_s.arg(
            QDir::toNativeSeparators(answer + u"-html(1)"_s))));
        QCOMPARE(testsupport::readFile(answer + u"-html/index.html"_s), QByteArray("the user's own"));
        QVERIFY(QFileInfo(answer + u"-html(1)/index.html"_s).isFile());
    }
    // Chats are filtered as the text is typed. Messages: every match is counted and
    // marked in the bubbles, visited in turn, and the search asks before starting over.
    void searchesCountMarkAndAsk()
    {
        auto *messageKeyword = m_w->findChild<QLineEdit *>(u"txtSMSKeyword"_s);
        auto *contactKeyword = m_w->findChild<QLineEdit *>(u"txtHandleKeyword"_s);
        auto *count = m_w->findChild<QLabel *>(u"lbSearchCount"_s);
        messageKeyword->setText(u"apple"_s);
        QTest::mouseClick(m_w->findChild<QToolButton *>(u"btnSearchSMS"_s), Qt::LeftButton);
        QTRY_VERIFY(m_user->boxes.value(0).startsWith(u"There are no messages here to search."_s));
        // Typing filters; with no source chosen, Enter takes the first match from the top.
        Node *phone = select(u"Devices/Stored Phone"_s);
        m_w->findChild<QTreeView *>(u"treeViewDS"_s)->selectionModel()->clearSelection();
        contactKeyword->setText(u"N"_s);
        auto hidden = [&](const QString &title) {
            for (qsizetype row = 0; row < phone->children.size(); ++row)
                if (phone->children.at(row)->text == title)
                    return m_w->findChild<QTreeView *>(u"treeViewDS"_s)
                        ->isRowHidden(int(row), m_w->treeModel()->indexOf(phone));
            return false;
        };
        QVERIFY(hidden(u"Bob"_s) && !hidden(u"Ann"_s) && !hidden(u"Weekend hiking friend"_s));
        QTest::keyClick(contactKeyword, Qt::Key_Return);
        QCOMPARE(m_w->selectedNode() ? m_w->selectedNode()->text : QString(), u"Weekend hiking friend"_s);
        contactKeyword->clear();
        QVERIFY(!hidden(u"Bob"_s));

        QSignalSpy marked(m_w->bubbleView(), &VBBubbleViewMgr::highlightShown);
        select(u"Devices/Stored Phone/Ann"_s);
        messageKeyword->setText(u"  APPLE "_s);
        QList<int> found;
        QStringList counts;
        m_user->boxes.clear();
        for (const auto answer : {QMessageBox::Yes, QMessageBox::Yes, QMessageBox::No, QMessageBox::Yes}) {
            m_user->answer = answer;
            QTest::keyClick(messageKeyword, Qt::Key_Return);
            found << list()->currentIndex().row();
            counts << count->text();
        }
        QCOMPARE(found, QList<int>({0, 2, 2, 0}));
        QCOMPARE(counts, QStringList({u"1 of 2 matches"_s, u"2 of 2 matches"_s, u"2 of 2 matches"_s,
                                      u"1 of 2 matches"_s}));
        QCOMPARE(m_user->boxes.size(), 2); // asked before going round, each time
        QVERIFY(m_user->boxes.first().startsWith(u"No more matches for “APPLE” below."_s));
        QTRY_VERIFY(!marked.isEmpty() && marked.last().first().toInt() == 2);
        QCOMPARE(list()->selectionModel()->selectedRows().size(), 1);
        // A new keyword may find the row the user is on.
        list()->setCurrentIndex(m_w->smsModel()->index(2, 0));
        messageKeyword->setText(u"another"_s);
        QTest::keyClick(messageKeyword, Qt::Key_Return);
        QCOMPARE(list()->currentIndex().row(), 2);
        QCOMPARE(count->text(), u"1 of 1 match"_s);
        // The keyword is named as typed, never as markup; a new keyword forgets the count.
        m_user->boxes.clear();
        messageKeyword->setText(u"<b>kiwi</b>"_s);
        QVERIFY(count->text().isEmpty());
        QTest::keyClick(messageKeyword, Qt::Key_Return);
        contactKeyword->setText(u"zed"_s);
        QTest::keyClick(contactKeyword, Qt::Key_Return);
        QCOMPARE(m_user->boxes, QStringList({u"No message holds “&lt;b&gt;kiwi&lt;/b&gt;”."_s,
                                             u"No chat is named with “zed”."_s}));
        QVERIFY(hidden(u"Ann"_s) && hidden(u"Bob"_s));
    }
    // A store folder the user opens is shown as a source, and nothing is written
    // into it: no previews, no journal files.
    void storeFolderIsOnlyRead()
    {
        QTemporaryDir top, empty;
        const QDir folder(top.filePath(u"a/store"_s));
        fixtures::StorePlan plan = alphaPlan();
        const qint64 picture = plan.addMessage(u"p"_s, plan.chat(u"ann"_s).pk, plan.person(u"ann"_s).pk,
                                               u"received"_s, QString())
                                   .pk;
        plan.addAttachment(u"p"_s, picture, u"picture"_s, u"p1.jpg"_s);
        plan.addFile(u"Documents/Attachments/p1.jpg"_s, fixtures::FileKind::Jpeg);
        fixtures::writeStore(plan, folder.path(), fixtures::StoreLayout::Phone);
        const QStringList before = fixtures::filesBelow(folder.path());
        QString chosen = folder.filePath(u"Documents"_s);
        m_w->imports()->setFolderChooser([&](QWidget *, const QString &, const QString &) { return chosen; });
        // Opened again, the same source is selected, not added twice.
        for (int open = 0; open < 2; ++open) {
            QVERIFY(run("IDS_MI_OPEN_STORE_FOLDER"));
            QCOMPARE(m_w->treeModel()->openedNodes().size(), 1);
            QCOMPARE(ItemModelMain::sourceOf(m_w->selectedNode())->data->messages.size(), 7);
        }
        QCOMPARE(fixtures::filesBelow(folder.path()), before);
        chosen = empty.path();
        QVERIFY(run("IDS_MI_OPEN_STORE_FOLDER"));
        QTRY_VERIFY(m_user->boxes.value(0).contains(u"holds no Viber store"_s));
    }
    void importsIntoALocalDatabase_data()
    {
        QTest::addColumn<QByteArray>("action");
        QTest::addColumn<QString>("database"); // proposed, and taken
        QTest::addColumn<bool>("elsewhere");   // Viber Desktop data not where it is kept
        QTest::newRow("Viber desktop")
            << QByteArray("IDS_MI_IMPORT_FROM_PC") << u"ViberPC-4915100001_Backup"_s << false;
        QTest::newRow("Viber desktop elsewhere")
            << QByteArray("IDS_MI_IMPORT_FROM_PC") << u"4915100001_Backup"_s << true;
        QTest::newRow("encrypted backup")
            << QByteArray("IDS_MI_IMPORT_FROM_ITUNES") << u"Test iPhone-0123_Backup"_s << false;
    }
    // A desktop store and an encrypted backup of the stored phone, each where it is
    // looked for: chosen, unlocked and read in place; then copied into a local database.
    void importsIntoALocalDatabase()
    {
        QFETCH(QByteArray, action);
        QFETCH(QString, database);
        QFETCH(bool, elsewhere);
        // Where it is not found, the user names the file instead.
        const QString desktop =
            elsewhere ? m_home->path() + u"/copy/4915100001/viber.db"_s
                      : qEnvironmentVariable("XDG_DATA_HOME") + u"/ViberPC/4915100001/viber.db"_s;
        m_w->imports()->setFileChooser([&](QWidget *, const QString &, const QString &) { return desktop; });
        fixtures::writeDesktopStore(fixtures::sampleDesktopStore(fixtures::DesktopLayout::Classic), desktop,
                                    fixtures::DesktopLayout::Classic);
        fixtures::EncryptedBackupFixture backup(m_home->path() + u"/.local/share/MobileSync/Backup/0123"_s,
                                                "secret");
        backup.addFilesBelow(u"AppDomain-com.viber"_s, dataFolder().filePath(u"virtual_ios/Stored Phone"_s));
        QCOMPARE(backup.write(), QString());
        const qsizetype messages =
            action == "IDS_MI_IMPORT_FROM_PC" ? PCViberDb(desktop).load()->messages.size() : 6;
        // The user takes the first account or backup, and gives the password.
        m_user->intercept = [](QWidget *modal) {
            const QString button = modal->objectName() == u"DataSourceSelForm"     ? u"btnConfirm"_s
                                   : modal->objectName() == u"LoadItunesBackupDlg" ? u"btnLoad"_s
                                   : modal->objectName() == u"PasscodeDlg"         ? u"btnOK"_s
                                                                                   : QString();
            if (button.isEmpty())
                return false;
            if (auto *accounts = modal->findChild<QComboBox *>(u"cbDataSources"_s))
                accounts->setCurrentIndex(0);
            if (auto *list = modal->findChild<QTreeView *>(u"listBackups"_s))
                list->selectionModel()->select(list->model()->index(0, 0),
                                               QItemSelectionModel::Select | QItemSelectionModel::Rows);
            if (auto *password = modal->findChild<QLineEdit *>(u"txtPasscode"_s))
                password->setText(u"secret"_s);
            QMetaObject::invokeMethod(modal->findChild<QPushButton *>(button), &QAbstractButton::click,
                                      Qt::QueuedConnection);
            return true;
        };
        m_user->databaseName = database;
        QVERIFY(run(action.constData()));
        QVERIFY(m_user->proposals.isEmpty());
        QCOMPARE(m_user->boxes.filter(u"Can't find Viber Desktop data"_s).size(), elsewhere ? 1 : 0);
        const auto *opened =
            static_cast<const _OpenedItemNode *>(ItemModelMain::sourceOf(m_w->selectedNode()));
        QVERIFY(opened && opened->kind == ItemNodeOpened && opened->parent == m_w->treeModel()->rootOpened());
        if (action == "IDS_MI_IMPORT_FROM_PC")
            QCOMPARE(opened->path, desktop);
        QCOMPARE(opened->data->messages.size(), messages);
        QCOMPARE(rows(), messages);
        m_w->toolbarAction(u"IDS_MI_BACKUP_TOOLBAR"_s)->trigger();
        QCOMPARE(m_user->proposals, QStringList{database});
        QCOMPARE(LocalDatabases::load(LocalDatabases::folderOf(database))->messages.size(), messages);
    }
    void passcodeAnswers()
    {
        fixtures::EncryptedBackupFixture good(m_home->path() + u"/good"_s, "s3cret");
        QCOMPARE(good.write(), QString());
        BackupManifest manifest(good.folder());
        manifest.loadManifestPlist();
        PasscodeDlg dialog(&manifest);
        auto *field = dialog.findChild<QLineEdit *>(u"txtPasscode"_s);
        auto *ok = dialog.findChild<QPushButton *>(u"btnOK"_s);
        ok->click();
        field->setText(u"wrong"_s);
        ok->click();
        QCOMPARE(m_user->boxes, QStringList({u"Password is required."_s, u"Invalid password."_s}));
        QCOMPARE(field->text(), QString());
        QVERIFY(!manifest.isUnlocked());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }
    // What surrounds the window: start-up, the message boxes, the update service's replies.
    // With the wrong database layer nothing starts: no device library, window, data folder or log.
    void starts_data()
    {
        QTest::addColumn<int>("sqliteWrapper"); // its version less the one required
        QTest::addColumn<int>("exitCode");
        QTest::newRow("all there") << 0 << 0;
        QTest::newRow("wrong database layer") << -1 << 1;
    }
    void starts()
    {
        QFETCH(int, sqliteWrapper);
        QFETCH(int, exitCode);
        // Answers the boxes and closes start-up's window once it is up with no box
        // open; the suite's own window, user and data folder go first.
        m_w.reset();
        m_user.reset();
        ModalUser user;
        QVERIFY(QDir(m_home->path() + u"/xdg/CorVanta"_s).removeRecursively());
        user.idle = [] {
            for (QWidget *window : QApplication::topLevelWidgets())
                if (qobject_cast<MainWindow *>(window) && window->isVisible())
                    window->close();
        };
        StartupEnvironment env = defaultStartupEnvironment();
        env.sqliteWrapperVersion = [&] {
            return AppConstants::kRequiredSqliteWrapperVersion + sqliteWrapper;
        };
        bool deviceAsked = false;
        env.loadDeviceFramework = [&](QString &) {
            deviceAsked = true;
            return true;
        };
        QCOMPARE(runStartup(env), exitCode);
        QCOMPARE(deviceAsked, exitCode == 0);
        QCOMPARE(user.boxes.size(), exitCode);
        QVERIFY2(user.boxes.value(0).contains(exitCode ? u"invalid libsqlite_qt."_s : QString()),
                 qPrintable(user.boxes.value(0)));
        QCOMPARE(QFileInfo::exists(m_home->path() + u"/xdg/CorVanta"_s), exitCode == 0);
        QCOMPARE(currentLogFilePath().isEmpty(), exitCode != 0);
    }
    // Escape never answers Yes.
    void boxes()
    {
        QList<bool> answers;
        for (const auto press : {QMessageBox::Yes, QMessageBox::No, QMessageBox::NoButton /* Escape */}) {
            m_user->answer = press;
            answers << askYesNo(u"Sure?"_s);
        }
        QCOMPARE(answers, QList<bool>({true, false, false}));
    }
    // Only the link's address and text are taken from an announcement; the label's HTML
    // is built anew. A download address is taken only over the web.
    void repliesAreReadSafely_data()
    {
        QTest::addColumn<bool>("isAddress"); // the service's download address, else its announcement
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("shown");
        QTest::newRow("address") << true << QByteArray("  http://dl.example/setup-3.2.exe\r\n")
                                 << u"http://dl.example/setup-3.2.exe"_s;
        QTest::newRow("up to date") << true << QByteArray("0") << QString();
        QTest::newRow("other scheme") << true << QByteArray("ftp://x/y") << QString();
        QTest::newRow("link")
            << false
            << QByteArray("<a href=\"https://cw.example/news\" onclick=\"x()\">New <b>release</b> & "
                          "more</a><script>bad()</script>")
            << u"<a href=\"https://cw.example/news\" style=\"color:#FF8B00;\">New release &amp; more</a>"_s;
        QTest::newRow("script address")
            << false << QByteArray("<a href=\"javascript:alert(1)\">x</a>") << QString();
        QTest::newRow("no link") << false << QByteArray("plain text") << QString();
        QTest::newRow("empty link") << false << QByteArray("<a href=\"https://x.example/\"></a>")
                                    << QString();
    }
    void repliesAreReadSafely()
    {
        QFETCH(bool, isAddress);
        QFETCH(QByteArray, reply);
        QFETCH(QString, shown);
        QCOMPARE(isAddress ? UpdateCheck::downloadAddress(reply) : UpdateCheck::announcement(reply), shown);
    }

private:
    void makeWindow(bool devices = false);
    // Clicks down a path of tree texts ("Local Databases/Alpha/Ann"), so that
    // databases load on the way as they do for the user.
    Node *select(const QString &path);
    void selectRows(int row);
    QTreeView *list() const { return m_w->findChild<QTreeView *>(u"treeViewSMS"_s); }
    QString label(const QString &name) const { return m_w->findChild<QLabel *>(name)->text(); }
    int rows() const { return m_w->smsModel()->rowCount(); }
    // Does what the user does by choosing the entry named key: an action of the window
    // (menus, toolbar), else an entry of the tree's context menu. False when not on offer.
    bool run(const char *key)
    {
        if (QAction *action = m_w->toolbarAction(QLatin1String(key))) {
            action->trigger();
            return true;
        }
        const std::unique_ptr<QMenu> menu = m_w->contextMenus()->treeMenu(m_w.get());
        QAction *entry = menu ? menu->findChild<QAction *>(QLatin1String(key)) : nullptr;
        if (entry)
            entry->trigger();
        return entry;
    }
    std::optional<TempHome> m_home;
    std::unique_ptr<MainWindow> m_w;
    std::unique_ptr<ModalUser> m_user;
};
void TestMainWindow::makeWindow(bool devices)
{
    m_w.reset();
    MainWindow::Options options;
    options.deviceLibraryLoaded = devices;
    m_w = std::make_unique<MainWindow>(options);
    m_w->setFolderOpener([](const QString &) { return true; }); // never the desktop's
    m_w->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_w.get()));
    m_user = std::make_unique<ModalUser>();
}

Node *TestMainWindow::select(const QString &path)
{
    Node *node = nullptr;
    for (const QString &step : path.split(u'/', Qt::SkipEmptyParts)) {
        const QList<Node *> level = node ? node->children : m_w->treeModel()->topLevelNodes();
        const auto it = std::find_if(level.begin(), level.end(), [&](Node *n) { return n->text == step; });
        if (it == level.end())
            return nullptr;
        node = *it;
        m_w->findChild<QTreeView *>(u"treeViewDS"_s)
            ->selectionModel()
            ->setCurrentIndex(m_w->treeModel()->indexOf(node), QItemSelectionModel::ClearAndSelect);
    }
    return node;
}

void TestMainWindow::selectRows(int row)
{
    list()->selectionModel()->select(m_w->smsModel()->index(row, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

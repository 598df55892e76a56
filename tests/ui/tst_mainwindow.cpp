#include "app/AppConstants.h"
#include "app/Logging.h"
#include "app/StyleSheet.h"
#include "app/UpdateCheck.h"
#include "device/MobileDevice.h"
#include "export/BubblePage.h"
#include "export/MessageText.h"
#include "itunes/BackupLocations.h"
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
#include "ui/DataSourceSelForm.h"
#include "ui/ExportActions.h"
#include "ui/ImportActions.h"
#include "ui/ItemModelLoadBk.h"
#include "ui/ItemModelMain.h"
#include "ui/LoadItunesBackupDlg.h"
#include "ui/LocalDbActions.h"
#include "ui/LocalDbSelForm.h"
#include "ui/MainWindow.h"
#include "ui/MessageBoxes.h"
#include "ui/PasscodeDlg.h"
#include "ui/VBBubbleViewMgr.h"
#include "viber/IOSViberDb.h"
#include "viber/LocalDatabases.h"
#include "viber/PCViberDb.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QSignalSpy>
#include <QStyle>
#include <QTextBrowser>
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
using Buttons = QList<QMessageBox::StandardButton>;

// Chats Ann (4 messages), Bob (1) and "Weekend hiking friend" (1, the latest);
// Ann has a contact picture.
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
    plan.addFile(u"Documents/ContactIcons/4915100001.jpg"_s, fixtures::FileKind::Jpeg, QSize(64, 64));
    return plan;
}

// A plain backup whose Manifest.plist carries a date in the given year.
static void writeBackup(const QString &folder, int year)
{
    fixtures::BackupFixture backup(folder);
    backup.xml = true;
    QCOMPARE(backup.write(), QString());
    const QString plist = QDir(folder).filePath(u"Manifest.plist"_s);
    QByteArray bytes = testsupport::readFile(plist);
    bytes.replace("2015-01-20T", QByteArray::number(year) + "-01-20T");
    QVERIFY(testsupport::writeFile(plist, bytes));
}

static QStringList years(const ItemModelLoadBk *model)
{
    QStringList list;
    for (int row = 0; row < model->rowCount(); ++row)
        list << QString::number(model->manifestAt(model->index(row, 0))->date().date().year());
    return list;
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
            QVERIFY(databases.mkpath(name));
            fixtures::StorePlan plan = alphaPlan();
            if (name == u"Beta")
                plan.messages.resize(1);
            fixtures::writeStore(plan, databases.filePath(name), fixtures::StoreLayout::Template,
                                 QLatin1String(LocalDatabases::kStoreFileName));
        }
        QVERIFY(databases.mkpath(u"NotADatabase/Documents"_s));
        const QString phone = dataFolder().filePath(u"virtual_ios/Stored Phone"_s);
        QVERIFY(QDir().mkpath(phone));
        fixtures::writeStore(alphaPlan(), phone, fixtures::StoreLayout::Phone);
        m_opened.clear();
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
    // Every entry of the menu bar either shows something (a dialog, a window, a folder
    // handed to the desktop, a change in the tree) or is disabled and says why.
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
        // With the pretend phone attached, a transfer would reach for it.
        if (attached == 0) {
            const QString problems = silentOrUnexplainedEntries();
            QVERIFY2(problems.isEmpty(), qPrintable(problems));
        }
        if (rows() > 0)
            selectRows(0);
        QCOMPARE(writes(menu(true), u"_SEL"_s), actions);
    }
    void selectionFillsListHeaderAndBubbles()
    {
        // Databases are listed at start and read when selected.
        ItemModelMain *model = m_w->treeModel();
        QCOMPARE(model->localDbNames(), QStringList({u"Alpha"_s, u"Beta"_s}));
        QVERIFY(model->localDbNodes().first()->children.isEmpty());
        QVERIFY(select(u"Local Databases/Alpha"_s));
        QCOMPARE(label(u"lbSMSCount"_s), u"Messages: 6"_s);
        // Its menu tells what the database holds, line by line.
        QVERIFY(run("IDS_MI_SHOW_ACCOUNT"));
        QTRY_COMPARE(m_user->boxes.size(), 1);
        QVERIFY2(m_user->boxes.first().contains(u"<br/>Layout: a local database of this program, "_s) &&
                     m_user->boxes.first().contains(u"<br/>calls: "_s),
                 qPrintable(m_user->boxes.first()));
        m_user->boxes.clear();

        // A chat: its messages, its name and picture in the header.
        QVERIFY(select(u"Local Databases/Alpha/Ann"_s));
        QCOMPARE(rows(), 4);
        QCOMPARE(label(u"lbChatName"_s), u"Ann"_s);
        auto *picture = m_w->findChild<QLabel *>(u"lbChatImg"_s);
        QVERIFY(picture->isVisible());
        QTest::mouseClick(picture, Qt::LeftButton);
        QCOMPARE(m_opened.size(), 1);
        QVERIFY(m_opened.first().endsWith(u"Alpha/Documents/ContactIcons/4915100001.jpg"_s));
        // Picking a message takes the bubble view to it.
        selectRows(2);
        QCOMPARE(m_w->bubbleView()->anchor(), u"sms_%1"_s.arg(m_w->smsModel()->message(2)->id));

        // Without a picture file there is nothing to show or open.
        QVERIFY(select(u"Local Databases/Alpha/Bob"_s));
        QVERIFY(picture->isHidden());
        QTest::mouseClick(picture, Qt::LeftButton);
        QCOMPARE(m_opened.size(), 1);
        // A long title is cut to 17 characters.
        QVERIFY(select(u"Devices/Stored Phone/Weekend hiking friend"_s));
        QCOMPARE(label(u"lbChatName"_s), u"Weekend hiking fr..."_s);
        // A title is text, never markup, in the header and its tool tip.
        auto *header = m_w->findChild<QLabel *>(u"lbChatName"_s);
        QCOMPARE(header->textFormat(), Qt::PlainText);
        QCOMPARE(header->toolTip(), u"<p>Weekend hiking friend</p>"_s);
        // A root clears the views.
        QVERIFY(select(u"Devices"_s));
        QCOMPARE(rows(), 0);
        QCOMPARE(label(u"lbSMSCount"_s), u"Messages: 0"_s);
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
    // The platform's standard keys reach their actions; Find goes to the message search, Help
    // to the page shipped with the program.
    void standardKeysAndHelp()
    {
        const QList<std::pair<QString, QKeySequence>> keys{
            {u"IDS_MI_EXPORT_TOOLBAR"_s, QKeySequence(Qt::CTRL | Qt::Key_E)},
            {u"IDS_MI_PRINT_TOOLBAR"_s, QKeySequence(QKeySequence::Print)},
            {u"IDS_MI_DELETE_TOOLBAR"_s, QKeySequence(QKeySequence::Delete)},
            {u"IDS_MI_EXIT"_s, QKeySequence(QKeySequence::Quit)},
            {u"IDS_MI_HELP"_s, QKeySequence(QKeySequence::HelpContents)},
            {u"findMessages"_s, QKeySequence(QKeySequence::Find)}};
        for (const auto &[name, key] : keys) {
            const auto *action = m_w->findChild<QAction *>(name, Qt::FindDirectChildrenOnly);
            QVERIFY2(action && !key.isEmpty() && action->shortcut() == key, qPrintable(name));
        }
        list()->setFocus();
        m_w->findChild<QAction *>(u"findMessages"_s, Qt::FindDirectChildrenOnly)->trigger();
        QCOMPARE(m_w->focusWidget(), m_w->findChild<QLineEdit *>(u"txtSMSKeyword"_s));
        // Help is the page shipped with the program, not a web address.
        m_w->findChild<QAction *>(u"IDS_MI_HELP"_s, Qt::FindDirectChildrenOnly)->trigger();
        const auto *help = m_w->findChild<QDialog *>(u"helpDialog"_s);
        QVERIFY(help && help->isVisible());
        QVERIFY(help->findChild<QTextBrowser *>()->toPlainText().contains(u"Writing messages back"_s));
    }

    void mapSiteIsTheUsers()
    {
        QCOMPARE(MessageText::mapSite(), u"https://www.openstreetmap.org/?mlat=%1&mlon=%2#map=16/%1/%2"_s);
        m_w->findChild<QAction *>(u"IDS_MAP_SITE_GOOGLE"_s)->trigger();
        QVERIFY(MessageText::mapSite().startsWith(u"https://www.google.com/maps/"_s));
        MessageText::setMapSite(QString());
        makeWindow();
        QVERIFY(MessageText::mapSite().startsWith(u"https://www.google.com/maps/"_s));
        QVERIFY(m_w->findChild<QAction *>(u"IDS_MAP_SITE_GOOGLE"_s)->isChecked());
        m_w->findChild<QAction *>(u"IDS_MAP_SITE_OPENSTREETMAP"_s)->trigger();
        QVERIFY(MessageText::mapSite().contains(u"openstreetmap.org"_s));
    }
    // At 800×600 every toolbar caption is whole, and what has no room is behind the
    // toolbar's overflow button.
    void toolbarFitsASmallScreen()
    {
        // With a chat on show, whose title and picture take room in the bubbles' header.
        QVERIFY(select(u"Devices/Stored Phone/Weekend hiking friend"_s));
        m_w->resize(800, 600);
        auto *bar = m_w->findChild<QToolBar *>(u"mainToolBar"_s);
        QTRY_COMPARE(m_w->width(), 800);
        bool hidden = false;
        for (QAction *action : bar->actions()) {
            auto *button = qobject_cast<QToolButton *>(bar->widgetForAction(action));
            if (!button)
                continue;
            if (!button->isVisible()) {
                hidden = true;
                continue;
            }
            const int needed = button->fontMetrics().horizontalAdvance(action->iconText());
            QVERIFY2(button->contentsRect().width() >= needed, qPrintable(action->iconText()));
        }
        auto *overflow = bar->findChild<QToolButton *>(u"qt_toolbar_ext_button"_s);
        QVERIFY(hidden && overflow && overflow->isVisible() && overflow->width() > 0);
    }
    void deletesUpdateTheTree()
    {
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
            QDir().mkpath(desc.path);
            fixtures::writeStore(alphaPlan(), desc.path, fixtures::StoreLayout::Phone);
            return true;
        });
        CFType values = CFType::dictionary();
        values.setValue(u"DeviceName"_s, CFType::fromString(u"Anna's iPhone"_s));
        values.setValue(u"UniqueDeviceID"_s, CFType::fromString(u"UDID1"_s));
        sim->addDevice(u"UDID1"_s, values);
        QTRY_COMPARE(m_w->treeModel()->deviceNodes().size(), 2);
        QVERIFY(m_user->boxes.value(0).contains(u"enter your passcode on iPhone first"_s));
        _IOSDeviceItemNode *node = m_w->treeModel()->deviceNodes().last();
        QCOMPARE(node->text, u"Anna's iPhone"_s);
        QCOMPARE(m_w->selectedNode(), node);
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
    void clearCacheKeepsDataAndFoldersOpen()
    {
        // A device's copy and a backup's (one left decrypted by an earlier version) both go.
        for (const QString &cached : {u"ios_cache/UDID/com.viber/Documents/Contacts.data"_s,
                                      u"itunes_cache/0123abcd/com.viber/Documents/Contacts.data"_s})
            QVERIFY(testsupport::writeFile(dataFolder().filePath(cached), "chats"));
        QVERIFY(run("IDS_CLEAR_CACHE"));
        QVERIFY(m_user->boxes.value(0).contains(u"iTunes backups"_s));
        const QString phone = dataFolder().filePath(u"virtual_ios/Stored Phone"_s);
        for (const char *cache : {"ios_cache", "itunes_cache"})
            QVERIFY2(!QFileInfo::exists(dataFolder().filePath(QLatin1String(cache))), cache);
        QVERIFY(QFileInfo::exists(localDatabasesFolder().filePath(u"Alpha"_s)) && QFileInfo::exists(phone));

        QVERIFY(run("IDS_MI_OPEN_DB_FOLDER"));
        QVERIFY(select(u"Devices/Stored Phone"_s));
        QVERIFY(run("IDS_MI_VIEW_CACHE_FILES"));
        QCOMPARE(m_opened, QStringList({localDatabasesFolder().path(), phone}));
        // A desktop that cannot open it: the user is told which folder.
        m_w->setFolderOpener([](const QString &) { return false; });
        QVERIFY(run("IDS_MI_OPEN_DB_FOLDER"));
        QVERIFY(m_user->boxes.value(1).contains(QDir::toNativeSeparators(localDatabasesFolder().path())));
    }
    void deviceChooserNeedsAChoice()
    {
        DataSourceSelForm form(QString(), {{QIcon(), u"One"_s}, {QIcon(), u"Two"_s}});
        auto press = [&](const QString &button) { form.findChild<QPushButton *>(button)->click(); };
        form.show();
        press(u"btnConfirm"_s);
        QCOMPARE(m_user->boxes, QStringList(u"Need to select a Device to continue."_s));
        QVERIFY(form.isVisible());
        form.comboBox()->setCurrentIndex(1);
        press(u"btnConfirm"_s);
        QCOMPARE(form.selectedIndex(), 1);
        form.show();
        press(u"btnCancel"_s); // a choice, then Cancel
        QCOMPARE(form.selectedIndex(), -1);
    }
    // The local database actions behind the window, called as it calls them.
    void chooser_data()
    {
        QTest::addColumn<QString>("preset");
        QTest::addColumn<QString>("typed"); // null: "Work" picked from the list
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("warning"); // the chooser stays open
        const QString invalid = u"Invalid Local Database name(can't contain \\ / : * ? \" < > |)."_s;
        QTest::newRow("picked") << QString() << QString() << u"Work"_s << QString();
        QTest::newRow("typed, trimmed")
            << u"Imported 2024"_s << u"  New one \t"_s << u"New one"_s << QString();
        QTest::newRow("slash") << QString() << u"a/b"_s << QString() << invalid;
        QTest::newRow("blanks only") << QString() << u"   "_s << QString()
                                     << u"Select one Database or enter a new Database name"_s;
    }
    void chooser()
    {
        QFETCH(QString, preset);
        QFETCH(QString, typed);
        QFETCH(QString, chosen);
        QFETCH(QString, warning);
        // The databases and no blank entry, none chosen; a preset name stands typed.
        LocalDbSelForm form({u"Family"_s, u"Work"_s}, preset);
        auto *combo = form.findChild<QComboBox *>(u"cbDatabases"_s);
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->currentText(), preset);
        form.show();
        if (typed.isNull())
            combo->setCurrentIndex(1);
        else
            combo->setEditText(typed);
        form.findChild<QPushButton *>(u"btnOk"_s)->click(); // returns once a warning was answered
        QCOMPARE(m_user->boxes, warning.isEmpty() ? QStringList() : QStringList(warning));
        QCOMPARE(form.isVisible(), !warning.isEmpty());
        if (!warning.isEmpty())
            form.findChild<QPushButton *>(u"btnCancel"_s)->click(); // no name once cancelled
        QCOMPARE(form.selectedName(), chosen);
    }
    void deletionsAskFirst()
    {
        const QString folder = LocalDatabases::folderOf(u"Alpha"_s);
        const ViberDataPtr loaded = LocalDatabases::load(folder);
        QList<_ViberMsg *> bye = loaded->messages.values();
        bye.removeIf([](const _ViberMsg *m) { return m->text != u"bye"; });
        // The questions name what goes, escaped: a name is never markup.
        const LocalDbDeletion selected{LocalDbDeletion::SelectedMessages, u"Alpha"_s, QString()},
            chat{LocalDbDeletion::WholeChat, u"Alpha"_s, u"<b>Ann</b>"_s};
        m_user->answer = QMessageBox::No;
        QVERIFY(!deleteMessagesFromLocalDb(m_w.get(), folder, bye, selected));
        QVERIFY(!deleteMessagesFromLocalDb(m_w.get(), folder, loaded->messages.values(), chat));
        QVERIFY(!deleteLocalDatabase(m_w.get(), u"Alpha"_s, 6));
        QVERIFY(!deleteLocalDatabase(m_w.get(), u"Alpha"_s, -1));
        QCOMPARE(
            m_user->boxes,
            QStringList(
                {u"Delete the selected message from the database “Alpha”?"_s,
                 u"Delete the chat “&lt;b&gt;Ann&lt;/b&gt;” and all its 6 messages from the database “Alpha”?"_s,
                 u"Delete the whole database “Alpha” with its 6 messages? This cannot be undone."_s,
                 u"Delete the whole database “Alpha” with all its messages? This cannot be undone."_s}));
        QCOMPARE(LocalDatabases::load(folder)->messages.size(), 6);
        QCOMPARE(LocalDatabases::names(), QStringList({u"Alpha"_s, u"Beta"_s}));
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
    // Exports and imports, through the window's controllers.
    void filterGivesFormatAndPath_data()
    {
        QTest::addColumn<int>("filter");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("path");
        QTest::newRow("text adds its suffix") << 0 << u"/h/chats"_s << 0 << u"/h/chats.txt"_s;
        QTest::newRow("text keeps a suffix") << 0 << u"/h/chats.log"_s << 0 << u"/h/chats.log"_s;
        QTest::newRow("doc is text") << 1 << u"/h/chats"_s << 0 << u"/h/chats.doc"_s;
        QTest::newRow("csv") << 2 << u"/h/chats"_s << 1 << u"/h/chats.csv"_s;
        QTest::newRow("pdf makes a folder") << 3 << u"/h/chats(1).x.pdf"_s << 2 << u"/h/chats(1)-pdf"_s;
        QTest::newRow("html makes a folder") << 4 << u"/h/chats"_s << 3 << u"/h/chats-html"_s;
        QTest::newRow("json is one file") << 5 << u"/h/chats.x"_s << 4 << u"/h/chats.x.json"_s;
        QTest::newRow("json keeps its suffix") << 5 << u"/h/chats.JSON"_s << 4 << u"/h/chats.JSON"_s;
    }
    void filterGivesFormatAndPath()
    {
        QFETCH(int, filter);
        QFETCH(QString, chosen);
        QString path;
        QTEST(ExportController::formatForFilter(ExportController::exportFilters().at(filter), chosen, &path),
              "format");
        QTEST(path, "path");
        QCOMPARE(ExportController::formatForFilter(u"Anything(*.*)"_s, chosen, &path), -1);
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
        QTest::newRow("export widened to the chat")
            << u"EXPORT"_s << u"Local Databases/Alpha/Ann"_s << QList<int>{1} << 1
            << u"the selected message|"_s + ann + u'|' + alpha << 4;
        QTest::newRow("export widened to all")
            << u"EXPORT"_s << u"Local Databases/Alpha/Ann"_s << QList<int>{} << 1 << ann + u'|' + alpha << 6;
        // The toolbar takes the selected messages, else the chat, else the whole source.
        const QString phone = u"|all 6 messages of “Stored Phone”"_s;
        QTest::newRow("backup keeps the selection")
            << u"BACKUP"_s << u"Devices/Stored Phone/Ann"_s << QList<int>{1} << -1
            << u"the selected message|"_s + ann + phone << 1;
        QTest::newRow("backup of a chat")
            << u"BACKUP"_s << u"Devices/Stored Phone/Ann"_s << QList<int>{} << -1 << ann + phone << 4;
        QTest::newRow("backup of a chat widened to the phone")
            << u"BACKUP"_s << u"Devices/Stored Phone/Ann"_s << QList<int>{} << 1 << ann + phone << 6;
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
            QCOMPARE(rows(), selected.isEmpty() && path.count(u'/') == 1 ? 6 : 4);
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
    // user agrees.
    void exportScopesReachTheFiles()
    {
        QTemporaryDir out;
        QString answer; // none: the user cancels
        m_w->exports()->setSaveFileChooser(
            [&](QWidget *, const QString &, const QString &, const QString &, QString *chosen) {
                if (chosen)
                    *chosen = ExportController::exportFilters().at(2);
                return answer;
            });
        auto lines = [](const QString &path) { return testsupport::readFile(path).count('\n'); };
        QVERIFY(select(u"Local Databases/Alpha/Ann"_s));
        QVERIFY(run("IDS_MI_EXPORT_CHAT"));
        QVERIFY(m_user->boxes.isEmpty() && QDir(out.path()).isEmpty());

        QVERIFY(select(u"Local Databases/Alpha"_s));
        answer = out.filePath(u"all"_s);
        m_w->toolbarAction(u"IDS_MI_EXPORT_TOOLBAR"_s)->trigger();
        QCOMPARE(lines(answer + u".csv"_s), 7);

        // The dialog asked about "all", not about the "all.csv" the export would replace.
        m_user->boxes.clear();
        m_user->answer = QMessageBox::No;
        QVERIFY(select(u"Local Databases/Alpha/Ann"_s));
        QVERIFY(run("IDS_MI_EXPORT_CHAT"));
        QTRY_COMPARE(m_user->boxes.size(), 1);
        QVERIFY2(m_user->boxes.first().contains(u"all.csv already exists"_s),
                 qPrintable(m_user->boxes.first()));
        QCOMPARE(lines(answer + u".csv"_s), 7);
        m_user->answer = QMessageBox::Yes;
        QVERIFY(run("IDS_MI_EXPORT_CHAT"));
        QTRY_COMPARE(lines(answer + u".csv"_s), 5);

        // A folder export never goes among the files of a folder of that name.
        m_w->exports()->setSaveFileChooser(
            [&](QWidget *, const QString &, const QString &, const QString &, QString *chosen) {
                *chosen = ExportController::exportFilters().at(4);
                return answer;
            });
        QVERIFY(testsupport::writeFile(answer + u"-html/index.html"_s, "the user's own"));
        m_user->boxes.clear();
        QVERIFY(run("IDS_MI_EXPORT_CHAT"));
        QTRY_VERIFY(m_user->boxes.value(0).startsWith(u"Successfully exported 4 messages to %1."_s.arg(
            QDir::toNativeSeparators(answer + u"-html(1)"_s))));
        QCOMPARE(testsupport::readFile(answer + u"-html/index.html"_s), QByteArray("the user's own"));
        QVERIFY(QFileInfo(answer + u"-html(1)/index.html"_s).isFile());
    }
    // A store folder the user opens is shown as a source, and nothing is written
    // into it: no previews, no journal files.
    void storeFolderIsOnlyRead()
    {
        QTemporaryDir top, empty;
        const QDir folder(top.filePath(u"a/store"_s));
        QVERIFY(folder.mkpath(u"."_s));
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
        // Another folder of the same name is told apart by where it lies.
        QVERIFY(QDir().mkpath(top.filePath(u"b/store/Documents"_s)));
        QVERIFY(QFile::copy(folder.filePath(u"Documents/Contacts.data"_s),
                            top.filePath(u"b/store/Documents/Contacts.data"_s)));
        chosen = top.filePath(u"b/store"_s);
        QVERIFY(run("IDS_MI_OPEN_STORE_FOLDER"));
        QCOMPARE(m_w->treeModel()->openedNodes().size(), 2);
        QCOMPARE(m_w->selectedNode()->text,
                 u"store (%1)"_s.arg(QDir::toNativeSeparators(top.filePath(u"b"_s))));
        chosen = empty.path();
        QVERIFY(run("IDS_MI_OPEN_STORE_FOLDER"));
        QTRY_VERIFY(m_user->boxes.value(0).contains(u"holds no Viber store"_s));
    }
    void importsIntoALocalDatabase_data()
    {
        QTest::addColumn<QByteArray>("action");
        QTest::addColumn<QString>("database"); // proposed, and taken
        QTest::newRow("Viber desktop")
            << QByteArray("IDS_MI_IMPORT_FROM_PC") << u"ViberPC-4915100001_Backup"_s;
        QTest::newRow("encrypted backup")
            << QByteArray("IDS_MI_IMPORT_FROM_ITUNES") << u"Test iPhone-0123_Backup"_s;
    }
    // A desktop store and an encrypted backup of the stored phone, each where it is
    // looked for: chosen, unlocked and read in place; then copied into a local database.
    void importsIntoALocalDatabase()
    {
        QFETCH(QByteArray, action);
        QFETCH(QString, database);
        const QString desktop = qEnvironmentVariable("XDG_DATA_HOME") + u"/ViberPC/4915100001/viber.db"_s;
        fixtures::writeDesktopStore(fixtures::sampleDesktopStore(fixtures::DesktopLayout::Classic), desktop,
                                    fixtures::DesktopLayout::Classic);
        fixtures::EncryptedBackupFixture backup(m_home->path() + u"/.local/share/MobileSync/Backup/0123"_s,
                                                "secret");
        backup.addFilesBelow(u"AppDomain-com.viber"_s, dataFolder().filePath(u"virtual_ios/Stored Phone"_s));
        QCOMPARE(backup.write(), QString());
        const qsizetype messages =
            action == "IDS_MI_IMPORT_FROM_PC" ? PCViberDb(desktop).load()->messages.size() : 6;
        QVERIFY(messages > 0);
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
        const _AbsDBItemNode *opened = ItemModelMain::sourceOf(m_w->selectedNode());
        QVERIFY(opened && opened->kind == ItemNodeOpened && opened->parent == m_w->treeModel()->rootOpened());
        QCOMPARE(opened->data->messages.size(), messages);
        QCOMPARE(rows(), messages);
        m_w->toolbarAction(u"IDS_MI_BACKUP_TOOLBAR"_s)->trigger();
        QCOMPARE(m_user->proposals, QStringList{database});
        QCOMPARE(LocalDatabases::load(LocalDatabases::folderOf(database))->messages.size(), messages);
    }
    // A window without sources shows the ways in; the demo archive becomes a local
    // database whose every file arrived, shown at once.
    void welcomeLeadsToTheDemo()
    {
        QVERIFY(QDir(dataFolder().path()).removeRecursively());
        makeWindow();
        QVERIFY(m_w->bubbleView()->currentHtml().contains(u"href=\"/welcome/demo\""_s));
        m_w->bubbleView()->onLinkClicked(QUrl(u"/welcome/demo"_s));
        const ViberDataPtr demo = LocalDatabases::load(LocalDatabases::folderOf(u"Demo"_s));
        QVERIFY(demo->messages.size() >= 15);
        QVERIFY(!demo->calls.isEmpty() && !demo->attachments.isEmpty());
        for (const _ViberAtta *a : std::as_const(demo->attachments))
            QVERIFY2(a->filePath.isEmpty() || QFileInfo(a->filePath).size() > 0, qPrintable(a->filePath));
        QVERIFY(m_w->selectedNode() && m_w->selectedNode()->text == u"Demo");
        QVERIFY(!m_w->bubbleView()->currentHtml().contains(u"/welcome/"_s));
        // Asked again, the demo is shown, not made twice.
        m_w->bubbleView()->onLinkClicked(QUrl(u"/welcome/demo"_s));
        QCOMPARE(m_w->treeModel()->localDbNames(), QStringList{u"Demo"_s});
    }
    // Choosing a backup. Where nothing is found, the program says where it looked and
    // offers the way on.
    void backupsListNewestFirstEachOnce()
    {
        const QDir itunes(BackupLocations::itunesBackupFolder());
        {
            // An empty list names the folder searched; its button asks for a folder, and
            // a store folder chosen there opens as one when the user agrees.
            LoadItunesBackupDlg empty;
            const QString title = empty.findChild<QLabel *>(u"lbTitle"_s)->text();
            QVERIFY2(title.contains(QDir::toNativeSeparators(itunes.path()).toHtmlEscaped()),
                     qPrintable(title));
            const QString store = dataFolder().filePath(u"virtual_ios/Stored Phone"_s);
            empty.setFolderChooser([&](QWidget *, const QString &, const QString &) { return store; });
            empty.btnLoadClicked();
            QCOMPARE(empty.result(), int(QDialog::Accepted));
            QCOMPARE(empty.storeFolderRoot(), store);
            QVERIFY(!empty.selectedManifest());
        }
        m_user->boxes.clear(); // asked whether to open the folder as one
        writeBackup(itunes.filePath(u"old"_s), 2013);
        writeBackup(itunes.filePath(u"new"_s), 2017);
        writeBackup(itunes.filePath(u"broken"_s), 2014);
        QVERIFY(testsupport::writeFile(itunes.filePath(u"broken/Manifest.plist"_s), "not a plist"));
        QVERIFY(testsupport::writeFile(itunes.filePath(u"plistonly/Manifest.plist"_s), "skipped silently"));
        const QString elsewhere = QDir(m_home->path()).filePath(u"elsewhere"_s);
        writeBackup(elsewhere, 2015);
        {
            LoadItunesBackupDlg dialog;
            QCOMPARE(m_user->boxes.size(), 1);
            QVERIFY2(m_user->boxes.first().contains(u"The backup in "_s + itunes.filePath(u"broken"_s) +
                                                    u" cannot be read."_s),
                     qPrintable(m_user->boxes.first()));
            QCOMPARE(years(dialog.model()), QStringList({u"2017"_s, u"2013"_s}));

            QString chosen = itunes.filePath(u"old/"_s);
            dialog.setFolderChooser([&](QWidget *, const QString &, const QString &) { return chosen; });
            dialog.btnAddOtherClicked(u"#"_s);
            QCOMPARE(m_user->boxes.last(), u"This iTunes Backup has been listed on the left."_s);
            QCOMPARE(dialog.model()->rowCount(), 2);

            chosen = elsewhere;
            dialog.btnAddOtherClicked(u"#"_s);
            QCOMPARE(years(dialog.model()), QStringList({u"2017"_s, u"2015"_s, u"2013"_s}));
            dialog.btnLoadClicked();
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QCOMPARE(dialog.selectedManifest()->folder().absolutePath(), elsewhere);
        }
        // The added folder is listed again; Load without a choice warns and stays.
        LoadItunesBackupDlg again;
        QCOMPARE(years(again.model()), QStringList({u"2017"_s, u"2015"_s, u"2013"_s}));
        again.btnLoadClicked();
        QVERIFY(m_user->boxes.last().startsWith(u"Choose one of the backups in the list first"_s));
        QVERIFY(!again.selectedManifest());
    }
    // No Viber Desktop data where it is kept: the user names the file instead.
    void desktopDataElsewhereIsAskedFor()
    {
        QTemporaryDir elsewhere;
        const QString desktop = elsewhere.filePath(u"copy/viber.db"_s);
        fixtures::writeDesktopStore(fixtures::sampleDesktopStore(fixtures::DesktopLayout::Classic), desktop,
                                    fixtures::DesktopLayout::Classic);
        m_w->imports()->setFileChooser([&](QWidget *, const QString &, const QString &) { return desktop; });
        QVERIFY(run("IDS_MI_IMPORT_FROM_PC"));
        QCOMPARE(m_user->boxes.filter(u"Can't find Viber Desktop data"_s).size(), 1);
        const auto *opened =
            static_cast<const _OpenedItemNode *>(ItemModelMain::sourceOf(m_w->selectedNode()));
        QVERIFY(opened && opened->kind == ItemNodeOpened && opened->what == _OpenedItemNode::ViberDesktop);
        QCOMPARE(opened->path, desktop);
        QCOMPARE(opened->data->messages.size(), PCViberDb(desktop).load()->messages.size());
    }
    // Volumes are "<letter> <free bytes> [ro|tmpfs|nfs]"; letter X names a missing root.
    void workDriveRoot_data()
    {
        QTest::addColumn<QString>("remembered");
        QTest::addColumn<QStringList>("volumes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("remembered root kept") << u"A"_s << QStringList{u"B 100"_s} << u"A"_s;
        QTest::newRow("remembered root missing")
            << u"/no/such/root"_s << QStringList{u"A 10"_s, u"B 100"_s} << u"B"_s;
        QTest::newRow("remembered root relative") << u"rel/dir"_s << QStringList{u"A 10"_s} << u"A"_s;
        QTest::newRow("most free, first of equals")
            << QString() << QStringList{u"A 50"_s, u"B 100"_s, u"C 100"_s} << u"B"_s;
        QTest::newRow("read-only, memory, network, full skipped")
            << QString() << QStringList{u"A 900 ro"_s, u"B 900 tmpfs"_s, u"C 900 nfs"_s, u"D 0"_s, u"E 5"_s}
            << u"E"_s;
        QTest::newRow("unknown free space ranks last")
            << QString() << QStringList{u"A -1"_s, u"B 5"_s} << u"B"_s;
        QTest::newRow("none writable: system root")
            << QString() << QStringList{u"X 100"_s, u"A 9 ro"_s} << u"/"_s;
    }
    void workDriveRoot()
    {
        QFETCH(QString, remembered);
        QFETCH(QStringList, volumes);
        QFETCH(QString, expected);
        QTemporaryDir roots;
        const auto root = [&](const QString &letter) {
            if (letter == u"/"_s || letter.size() != 1)
                return letter;
            if (letter != u"X"_s)
                QDir(roots.path()).mkdir(letter);
            return QDir(roots.path()).filePath(letter);
        };
        const QString pathFile = dataFolder().filePath(u"__corvanta_iosbk_temp.path"_s);
        if (!remembered.isNull())
            QVERIFY(testsupport::writeFile(pathFile, root(remembered).toUtf8()));
        QList<StorageVolume> given;
        for (const QString &line : std::as_const(volumes)) {
            const QStringList f = line.split(u' ');
            StorageVolume v{root(f[0]), u"/dev/sda1"_s, "ext4"};
            v.bytesAvailable = f[1].toLongLong();
            v.readOnly = f.value(2) == u"ro"_s;
            if (f.value(2) == u"tmpfs"_s)
                v.fileSystemType = "tmpfs";
            if (f.value(2) == u"nfs"_s)
                v.device = u"server:/share"_s;
            given << v;
        }

        const QString work = BackupLocations::backupWorkFolder([&] { return given; });
        QCOMPARE(work, QDir(root(expected)).filePath(u"__corvanta_iosbk_temp"_s));
        QCOMPARE(QString::fromUtf8(testsupport::readFile(pathFile)), root(expected));
        if (expected != u"/"_s) {
            QVERIFY(QDir().mkpath(work + u"/inner"_s));
            BackupLocations::clearBackupWorkFolder();
            QVERIFY(!QFileInfo::exists(work));
            QVERIFY(!QFileInfo::exists(pathFile));
        }
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
        QCOMPARE(field->echoMode(), QLineEdit::Password);
        // It names the backup it asks for, and lets the user see what was typed.
        const QString title = dialog.findChild<QLabel *>(u"lbTitle2"_s)->text();
        QVERIFY2(title.contains(manifest.displayName().toHtmlEscaped()) &&
                     title.contains(QDir::toNativeSeparators(good.folder()).toHtmlEscaped()),
                 qPrintable(title));
        dialog.findChild<QCheckBox *>(u"cbShowPassword"_s)->setChecked(true);
        QCOMPARE(field->echoMode(), QLineEdit::Normal);

        ok->click();
        QCOMPARE(m_user->boxes, QStringList{u"Password is required."_s});
        field->setText(u"wrong"_s);
        ok->click();
        QCOMPARE(m_user->boxes.last(), u"Invalid password."_s);
        QCOMPARE(field->text(), QString());
        QVERIFY(!manifest.isUnlocked());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));

        fixtures::BackupFixture damaged(m_home->path() + u"/damaged"_s);
        damaged.keyBag = "garbage";
        QCOMPARE(damaged.write(), QString());
        BackupManifest broken(damaged.folder());
        broken.loadManifestPlist();
        PasscodeDlg second(&broken);
        second.setResult(QDialog::Accepted);
        second.findChild<QLineEdit *>(u"txtPasscode"_s)->setText(u"s3cret"_s);
        second.findChild<QPushButton *>(u"btnOK"_s)->click();
        QCOMPARE(m_user->boxes.size(), 3);
        QCOMPARE(m_user->icons.last(), QMessageBox::Critical);
        QCOMPARE(second.result(), int(QDialog::Rejected));
    }
    // What surrounds the window: start-up, the message boxes, the daily update
    // check with its announcement.
    void starts_data()
    {
        QTest::addColumn<int>("sqliteWrapper");   // its version less the one required
        QTest::addColumn<QString>("deviceError"); // of loading the device library
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("box"); // a part of the one box shown
        QTest::newRow("all there") << 0 << QString() << 0 << QString();
        // Only a warning, over the window, with help; the reason goes to the log for support.
        QTest::newRow("no device library")
            << 0 << u"Failed to load (Mobile Device) framework."_s << 0
            << u"href=\"%1\""_s.arg(QLatin1String(AppConstants::kDeviceHelpUrl));
        // Nothing starts: no device library, window, data folder or log.
        QTest::newRow("wrong database layer") << -1 << QString() << 1 << u"invalid libsqlite_qt."_s;
    }
    void starts()
    {
        QFETCH(int, sqliteWrapper);
        QFETCH(QString, deviceError);
        QFETCH(int, exitCode);
        QFETCH(QString, box);
        // Answers the boxes and closes start-up's window once it is up with no box
        // open; the suite's own window, user and data folder go first.
        m_w.reset();
        m_user.reset();
        ModalUser user;
        QVERIFY(QDir(m_home->path() + u"/xdg/CorVanta"_s).removeRecursively());
        bool windowUnderFirstBox = false;
        QString windowStyle; // empty: no window came up
        user.intercept = [&](QWidget *) {
            windowUnderFirstBox = windowUnderFirstBox || (user.boxes.isEmpty() && shownWindow());
            return false;
        };
        user.idle = [&] {
            if (MainWindow *window = shownWindow()) {
                windowStyle = window->styleSheet();
                window->close();
            }
        };
        StartupEnvironment env = defaultStartupEnvironment();
        env.sqliteWrapperVersion = [&] {
            return AppConstants::kRequiredSqliteWrapperVersion + sqliteWrapper;
        };
        bool deviceAsked = false;
        env.loadDeviceFramework = [&](QString &error) {
            deviceAsked = true;
            error = deviceError;
            return error.isEmpty();
        };
        QCOMPARE(runStartup(env), exitCode);
        QCOMPARE(deviceAsked, exitCode == 0);
        QCOMPARE(user.boxes.size(), box.isEmpty() ? 0 : 1);
        QVERIFY2(user.boxes.value(0).contains(box), qPrintable(user.boxes.value(0)));
        QCOMPARE(windowUnderFirstBox, !box.isEmpty() && exitCode == 0);
        QCOMPARE(windowStyle, exitCode ? QString() : appStyleSheet());
        if (exitCode) {
            QVERIFY(!QFileInfo::exists(m_home->path() + u"/xdg/CorVanta"_s));
            QCOMPARE(currentLogFilePath(), QString());
            return;
        }
        // The log of the day is open in the data folder.
        QVERIFY2(currentLogFilePath().startsWith(dataFolder().filePath(u"qlogs/log-"_s)),
                 qPrintable(currentLogFilePath()));
        const QByteArray log = testsupport::readFile(currentLogFilePath());
        QVERIFY(!log.isEmpty() && log.contains(deviceError.toUtf8()));
    }
    // Every box is the program's own: its icon, Yes before No where the order is
    // ours, links only through the program's opener (the error box's support
    // address), and an error report that follows its box into the log.
    void boxes()
    {
        m_user.reset();
        ModalUser user;
        QList<Buttons> shown; // left to right
        QList<bool> linksOurs;
        user.intercept = [&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            QList<QAbstractButton *> order = box->buttons();
            std::sort(order.begin(), order.end(), [](auto *a, auto *b) { return a->x() < b->x(); });
            shown << Buttons();
            for (QAbstractButton *b : std::as_const(order))
                shown.last() << box->standardButton(b);
            auto *label = box->findChild<QLabel *>(u"qt_msgbox_label"_s);
            linksOurs << (label->textInteractionFlags() == Qt::TextBrowserInteraction &&
                          !label->openExternalLinks());
            return false;
        };
        setupLogging(m_home->path() + u"/qlogs"_s, 10);
        const QString text = u"Some <b>text</b>"_s;
        showInfo(text);
        showWarning(text);
        reportError(text);
        QList<bool> answers;
        for (const auto press : {QMessageBox::Yes, QMessageBox::No, QMessageBox::NoButton /* Escape */}) {
            user.answer = press;
            answers << askYesNo(text);
        }
        QCOMPARE(answers, QList<bool>({true, false, false}));
        QCOMPARE(user.icons, QList<QMessageBox::Icon>({QMessageBox::Information, QMessageBox::Warning,
                                                       QMessageBox::Critical, QMessageBox::Question,
                                                       QMessageBox::Question, QMessageBox::Question}));
        QCOMPARE(linksOurs, QList<bool>({false, false, true, false, false, false}));
        QVERIFY(testsupport::readFile(currentLogFilePath()).contains("Error report: Chatwharf "));
        // Across roles the platform orders buttons; Yes before No (one role) is ours,
        // seen under the Windows layout that applies without a desktop.
        if (QApplication::style()->styleHint(QStyle::SH_DialogButtonLayout) != QDialogButtonBox::WinLayout)
            for (Buttons &buttons : shown)
                std::sort(buttons.begin(), buttons.end());
        const Buttons ok{QMessageBox::Ok}, yesNo{QMessageBox::Yes, QMessageBox::No};
        QCOMPARE(shown, QList<Buttons>({ok, ok, ok, yesNo, yesNo, yesNo}));
    }
    void repliesAreReadSafely_data()
    {
        QTest::addColumn<char>("kind"); // the service's download address or announcement, or the day's stamp
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("shown");
        QTest::newRow("address") << 'd' << QByteArray("  http://dl.example/setup-3.2.exe\r\n")
                                 << u"http://dl.example/setup-3.2.exe"_s;
        QTest::newRow("up to date") << 'd' << QByteArray("0") << QString();
        QTest::newRow("other scheme") << 'd' << QByteArray("ftp://x/y") << QString();
        // Only the link's address and text are taken; the label's HTML is built anew.
        QTest::newRow("link")
            << 'a'
            << QByteArray("<a href=\"https://cw.example/news\" onclick=\"x()\">New <b>release</b> & "
                          "more</a><script>bad()</script>")
            << u"<a href=\"https://cw.example/news\" style=\"color:#FF8B00;\">New release &amp; more</a>"_s;
        QTest::newRow("script address")
            << 'a' << QByteArray("<a href=\"javascript:alert(1)\">x</a>") << QString();
        QTest::newRow("no link") << 'a' << QByteArray("plain text") << QString();
        QTest::newRow("empty link") << 'a' << QByteArray("<a href=\"https://x.example/\"></a>") << QString();
        // A stamp's age in seconds, else its file's bytes; a check is due past a day.
        // A stamp from the future (the clock was set back) does not silence the check.
        QTest::newRow("no stamp") << 's' << QByteArray() << u"due"_s;
        QTest::newRow("stamp a day") << 's' << QByteArray("86400") << QString();
        QTest::newRow("stamp a day and 1 s") << 's' << QByteArray("86401") << u"due"_s;
        QTest::newRow("stamp from the future") << 's' << QByteArray("-3600") << u"due"_s;
        QTest::newRow("garbled stamp") << 's' << QByteArray("yesterday") << u"due"_s;
    }
    void repliesAreReadSafely()
    {
        QFETCH(char, kind);
        QFETCH(QByteArray, reply);
        QFETCH(QString, shown);
        if (kind != 's') {
            QCOMPARE(kind == 'd' ? UpdateCheck::downloadAddress(reply) : UpdateCheck::announcement(reply),
                     shown);
            return;
        }
        const QString stamp = m_home->path() + u"/stamp"_s;
        const QDateTime now = QDateTime::fromSecsSinceEpoch(1800000000);
        bool isAge = false;
        const int age = reply.toInt(&isAge);
        if (isAge)
            QVERIFY(UpdateCheck::writeStamp(stamp, now.addSecs(-age)));
        else if (!reply.isEmpty())
            QVERIFY(testsupport::writeFile(stamp, reply));
        QCOMPARE(UpdateCheck::isCheckDue(stamp, now) ? u"due"_s : QString(), shown);
    }
    void checkAsksOnceADayAndFailsQuietly()
    {
        reply(u"sms_check_update.php"_s, "http://127.0.0.1/setup-9.exe");
        UpdateCheck check(service(), m_home->path());
        QSignalSpy offered(&check, &UpdateCheck::newVersionAvailable);
        QVERIFY(check.checkIfDue());
        QTRY_COMPARE(offered.size(), 1);
        QCOMPARE(offered.first().first().toString(), u"http://127.0.0.1/setup-9.exe"_s);
        QVERIFY(!check.checkIfDue()); // within the day
        // Asked by the user, with nothing newer.
        reply(u"sms_check_update.php"_s, "0");
        QSignalSpy upToDate(&check, &UpdateCheck::upToDate);
        QVERIFY(check.checkNow());
        QTRY_COMPARE(upToDate.size(), 1);
        QCOMPARE(offered.size(), 1);

        // A service that does not answer: an automatic check tells only the log,
        // and the attempt counts, so the next is tomorrow rather than at every start.
        const QString lost = service() + u"/gone"_s;
        UpdateCheck failing(lost, m_home->path() + u"/service"_s);
        QSignalSpy failed(&failing, &UpdateCheck::checkFailed);
        QSignalSpy news(&failing, &UpdateCheck::announcementReady);
        QVERIFY(failing.checkIfDue() && failing.fetchAnnouncement());
        QTest::qWait(300);
        QCOMPARE(failed.size() + news.size(), 0);
        QVERIFY(!UpdateCheck::isCheckDue(failing.stampFile(), QDateTime::currentDateTimeUtc()));
        QVERIFY(failing.checkNow());
        QTRY_COMPARE(failed.size(), 1);
        QVERIFY(failed.first().first().toString().contains(lost));

        UpdateCheck none(QString(), m_home->path()); // without an address nothing is asked
        QVERIFY(!none.checkIfDue() && !none.fetchAnnouncement());
    }
    void windowShowsAnnouncementOnlyWhenFetched()
    {
        m_user->answer = QMessageBox::No; // to any offer of a new version
        reply(u"adv.php"_s, "<a href=\"https://cw.example/tips\">Tips</a>");
        reply(u"sms_check_update.php"_s, "0");
        MainWindow::Options options;
        options.serviceBaseUrl = service();
        options.peripheryDelayMs = 0;
        {
            // Off unless the user turned it on: nothing is asked, not even with a service.
            MainWindow quiet(options);
            quiet.show();
            QTest::qWait(300);
            QVERIFY(!QFileInfo::exists(dataFolder().filePath(u"last-adv"_s)));
            QVERIFY(!QFileInfo::exists(dataFolder().filePath(u"last-check-version-time"_s)));
        }
        // Without a service the user's own check says so and asks nothing.
        m_user->boxes.clear();
        QVERIFY(run("IDS_MI_CHECK_UPDATE"));
        QTRY_VERIFY(m_user->boxes.value(0).contains(u"No update service is set up"_s));
        QVERIFY(!m_w->toolbarAction(u"IDS_MI_AUTO_UPDATE_CHECK"_s)->isEnabled());
        m_user->boxes.clear();
        options.automaticUpdateCheck = true;
        {
            MainWindow window(options);
            window.show();
            auto *label = window.findChild<QLabel *>(u"lbAdvLink"_s);
            QVERIFY(label->isHidden());
            QTRY_VERIFY(label->isVisible());
            QVERIFY(label->text().contains(u"#FF8B00;\">Tips</a>"_s));
            QVERIFY(testsupport::readFile(dataFolder().filePath(u"last-adv"_s))
                        .contains("https://cw.example/tips"));
        }
        // The check is not due again (else it would offer this); the announcement is
        // asked every time.
        reply(u"sms_check_update.php"_s, "http://127.0.0.1/setup-9.exe");
        reply(u"adv.php"_s, "nothing today");
        MainWindow window(options);
        window.show();
        QTest::qWait(300);
        QVERIFY(window.findChild<QLabel *>(u"lbAdvLink"_s)->isHidden());
        QVERIFY(m_user->boxes.isEmpty());
    }

private:
    // The entries of the menu bar that show nothing, or are disabled without saying why;
    // "" when none.
    QString silentOrUnexplainedEntries()
    {
        QSet<QWidget *> seen;
        QStringList shown;
        m_user->intercept = [&](QWidget *modal) {
            if (!seen.contains(modal)) {
                seen.insert(modal);
                shown << modal->objectName() + u"/"_s + QLatin1String(modal->metaObject()->className());
            }
            QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
            return true;
        };
        auto treeShape = [this] {
            QStringList shape;
            for (Node *top : m_w->treeModel()->topLevelNodes())
                for (Node *source : top->children)
                    shape << source->text + u':' + QString::number(source->children.size());
            return shape.join(u' ');
        };
        QStringList silent, unexplained;
        for (QMenu *menu : m_w->menuBar()->findChildren<QMenu *>()) {
            for (QAction *action : menu->actions()) {
                if (action->isSeparator() || action->menu())
                    continue;
                // A picture beside every entry but a switch, so that the menu has no gaps.
                if (action->icon().isNull() && !action->isCheckable())
                    unexplained << action->objectName() + u" has no picture"_s;
                if (action->objectName() == u"IDS_MI_EXIT")
                    continue;
                if (!action->isEnabled()) {
                    if (action->toolTip().isEmpty() || action->toolTip() == action->text())
                        unexplained << action->objectName() + u'/' + action->text();
                    continue;
                }
                const qsizetype before = shown.size(), opened = m_opened.size();
                const QString shape = treeShape();
                const QSet<QWidget *> windows = visibleWindows();
                seen.clear(); // a new box may take the address of one gone
                action->trigger();
                QTest::qWait(50);
                const QSet<QWidget *> added = visibleWindows() - windows;
                for (QWidget *window : added)
                    window->close();
                if (shown.size() == before && m_opened.size() == opened && added.isEmpty() &&
                    treeShape() == shape)
                    silent << action->objectName() + u'/' + action->text();
                if (!QTest::qWaitFor([] { return !QApplication::activeModalWidget(); }))
                    silent << action->objectName() + u" left a box open"_s;
            }
        }
        m_user->intercept = nullptr;
        return (silent + unexplained).join(u' ');
    }
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
    // The update service's pages are files, which the network layer reads like any address.
    QString service() const { return QUrl::fromLocalFile(m_home->path() + u"/service"_s).toString(); }
    void reply(const QString &page, const QByteArray &body)
    {
        QVERIFY(testsupport::writeFile(m_home->path() + u"/service/"_s + page, body));
    }

    static QSet<QWidget *> visibleWindows()
    {
        QSet<QWidget *> out;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->isVisible() && !qobject_cast<QMainWindow *>(w))
                out.insert(w);
        return out;
    }
    static MainWindow *shownWindow()
    {
        const QWidgetList windows = QApplication::topLevelWidgets();
        for (QWidget *w : windows)
            if (auto *window = qobject_cast<MainWindow *>(w); window && window->isVisible())
                return window;
        return nullptr;
    }

    std::optional<TempHome> m_home;
    std::unique_ptr<MainWindow> m_w;
    std::unique_ptr<ModalUser> m_user;
    QStringList m_opened; // folders and files handed to the desktop
};
void TestMainWindow::makeWindow(bool devices)
{
    m_w.reset();
    MainWindow::Options options;
    options.deviceLibraryLoaded = devices;
    m_w = std::make_unique<MainWindow>(options);
    m_w->setFolderOpener([this](const QString &path) {
        m_opened << path;
        return true;
    });
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

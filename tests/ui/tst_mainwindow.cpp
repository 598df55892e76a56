#include "device/MobileDevice.h"
#include "export/BubblePage.h"
#include "support/MessageFixtures.h"
#include "support/ModalUser.h"
#include "support/SimulatedAfc.h"
#include "support/SimulatedDevice.h"
#include "support/StoreFixtures.h"
#include "support/TempDataFolder.h"
#include "support/TestSupport.h"
#include "ui/DataSourceSelForm.h"
#include "ui/ItemModelMain.h"
#include "ui/LocalDbActions.h"
#include "ui/LocalDbSelForm.h"
#include "ui/MainWindow.h"
#include "ui/VBBubbleViewMgr.h"
#include "viber/IOSViberDb.h"
#include "viber/LocalDatabases.h"

#include <QLabel>
#include <QLineEdit>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QtTest>

#include <csignal>
#include <optional>

#include <sys/resource.h>

using namespace Qt::StringLiterals;
using Node = AbsTreeItemModel::_ItemNode;

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void actionsFollowTheSelection_data();
    void actionsFollowTheSelection();
    void selectionFillsListHeaderAndBubbles();
    void searchesWrapAround();
    void backupCopiesTheToolbarScope();
    void deletesUpdateTheTree();
    void devicesComeAndGo();
    void aConnectedPhoneLoadsOverAfc();
    void brokenDatabaseIsReportedAndStaysEmpty();
    void clearCacheKeepsDataAndFoldersOpen();
    void deviceChooserNeedsAChoice();
    // The local database actions behind the window, called as it calls them.
    void chooser_data();
    void chooser();
    void deletionsAskFirst();
    void failedCopyKeepsOnlyTheDatabaseThatExisted();

private:
    void makeWindow(bool devices = false);
    // Clicks down a path of tree texts ("Local Databases/Alpha/Ann"), so that
    // databases load on the way as they do for the user.
    Node *select(const QString &path);
    void selectRows(int row);
    QTreeView *list() const { return m_w->findChild<QTreeView *>(u"treeViewSMS"_s); }
    QString label(const QString &name) const { return m_w->findChild<QLabel *>(name)->text(); }
    QString text(int row) const { return m_w->smsModel()->message(row)->text; }
    int rows() const { return m_w->smsModel()->rowCount(); }
    bool run(const char *slot) { return QMetaObject::invokeMethod(m_w.get(), slot); }

    std::optional<TempDataFolder> m_data;
    std::unique_ptr<MainWindow> m_w;
    std::unique_ptr<ModalUser> m_user;
    QStringList m_opened; // folders and files handed to the desktop
};

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

void TestMainWindow::init()
{
    m_data.emplace();
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

void TestMainWindow::cleanup()
{
    m_user.reset();
    m_w.reset();
    m_data.reset();
}

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

void TestMainWindow::actionsFollowTheSelection_data()
{
    // The actions that write or remove data on offer: in the toolbar as named, in
    // the tree's menu for the whole source or chat, in the list's for a selection.
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("devices");
    QTest::addColumn<QString>("actions");
    QTest::newRow("nothing") << QString() << 1 << QString();
    QTest::newRow("root") << u"Local Databases"_s << 1 << QString();
    QTest::newRow("phone") << u"Devices/Stored Phone"_s << 1 << u"BACKUP"_s;
    QTest::newRow("phone of two") << u"Devices/Stored Phone"_s << 2 << u"BACKUP I2I"_s;
    QTest::newRow("phone chat of two") << u"Devices/Stored Phone/Ann"_s << 2 << u"BACKUP I2I"_s;
    QTest::newRow("database") << u"Local Databases/Alpha"_s << 1 << u"DB2I DELETE"_s;
    QTest::newRow("database, no phone") << u"Local Databases/Alpha"_s << 0 << u"DELETE"_s;
    QTest::newRow("database chat") << u"Local Databases/Alpha/Ann"_s << 1 << u"DB2I DELETE"_s;
}

void TestMainWindow::actionsFollowTheSelection()
{
    QFETCH(QString, path);
    QFETCH(int, devices);
    QFETCH(QString, actions);
    ItemModelMain *model = m_w->treeModel();
    if (devices == 0)
        model->removeNode(model->deviceNodes().first());
    if (devices == 2)
        model->addDeviceNode(IOSDeviceDesc());
    QVERIFY(select(path) || path.isEmpty());

    // An entry offered with another scope's suffix keeps it, and fails the match.
    auto writes = [](QStringList names, const QString &suffix) {
        static const QRegularExpression write(u"^IDS_MI_(BACKUP|I2I|DB2I|DELETE)"_s);
        return names.filter(write).replaceInStrings(u"IDS_MI_"_s, QString()).join(u' ').remove(suffix);
    };
    auto menu = [&](const char *slot) {
        m_user->menus.clear();
        run(slot);
        return m_user->menus.value(0);
    };
    QStringList enabled;
    const QList<QAction *> toolbar = m_w->findChild<QToolBar *>(u"mainToolBar"_s)->actions();
    for (const QAction *a : toolbar)
        enabled << (a->isEnabled() ? a->objectName() : QString());
    QCOMPARE(writes(enabled, u"_TOOLBAR"_s), actions);
    QCOMPARE(writes(menu("onMainTreeContextMenu"), path.count(u'/') == 2 ? u"_CHAT"_s : u"_ALL"_s), actions);
    QCOMPARE(menu("onSMSContextMenu"), QStringList()); // no message selected
    if (rows() > 0)
        selectRows(0);
    QCOMPARE(writes(menu("onSMSContextMenu"), u"_SEL"_s), actions);
}

void TestMainWindow::selectionFillsListHeaderAndBubbles()
{
    // Databases are listed at start and read when selected.
    ItemModelMain *model = m_w->treeModel();
    QCOMPARE(model->localDbNames(), QStringList({u"Alpha"_s, u"Beta"_s}));
    QVERIFY(model->localDbNodes().first()->children.isEmpty());
    QVERIFY(select(u"Local Databases/Alpha"_s));
    QCOMPARE(label(u"lbSMSCount"_s), u"Messages: 6"_s);

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

void TestMainWindow::searchesWrapAround()
{
    auto *messageKeyword = m_w->findChild<QLineEdit *>(u"txtSMSKeyword"_s);
    auto *contactKeyword = m_w->findChild<QLineEdit *>(u"txtHandleKeyword"_s);
    messageKeyword->setText(u"apple"_s);
    QTest::mouseClick(m_w->findChild<QToolButton *>(u"btnSearchSMS"_s), Qt::LeftButton);
    QTRY_COMPARE(m_user->boxes, QStringList(u"Can't find any Message."_s));
    // With no source chosen, contacts are searched from the top of the tree.
    contactKeyword->setText(u"N"_s);
    QTest::keyClick(contactKeyword, Qt::Key_Return);
    QCOMPARE(m_w->selectedNode() ? m_w->selectedNode()->text : QString(), u"Weekend hiking friend"_s);

    // Messages: from after the current row, then once more from the top; case never counts.
    Node *ann = select(u"Devices/Stored Phone/Ann"_s);
    messageKeyword->setText(u"  APPLE "_s);
    QList<int> found;
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(messageKeyword, Qt::Key_Return);
        found << list()->currentIndex().row();
    }
    QCOMPARE(found, QList<int>({0, 2, 0}));
    QCOMPARE(list()->selectionModel()->selectedRows().size(), 1);
    // The keyword is named as typed, never as markup.
    messageKeyword->setText(u"<b>kiwi</b>"_s);
    QTest::keyClick(messageKeyword, Qt::Key_Return);
    // Contacts in tree order (group, Bob, Ann): after Ann comes the group again.
    QTest::keyClick(contactKeyword, Qt::Key_Return);
    QCOMPARE(m_w->selectedNode(), ann->parent->children.first());
    QTest::keyClick(contactKeyword, Qt::Key_Return);
    QCOMPARE(m_w->selectedNode(), ann);
    contactKeyword->setText(u"zed"_s);
    QTest::keyClick(contactKeyword, Qt::Key_Return);
    QCOMPARE(m_user->boxes.mid(1), QStringList({u"Find no Message with keyword &lt;b&gt;kiwi&lt;/b&gt;."_s,
                                                u"Find no contact with keyword zed."_s}));
}

void TestMainWindow::backupCopiesTheToolbarScope()
{
    // The toolbar backs up the selected messages, else the chat, else the whole source.
    m_user->databaseName = u"  Scoped "_s;
    QAction *backup = m_w->toolbarAction(u"IDS_MI_BACKUP_TOOLBAR"_s);
    QVERIFY(select(u"Devices/Stored Phone/Ann"_s));
    selectRows(1);
    backup->trigger();
    QCOMPARE(m_user->proposals, QStringList(u"Stored Phone_Backup"_s));
    _LocalDbItemNode *scoped = m_w->treeModel()->findLocalDb(u"Scoped"_s);
    QVERIFY(scoped && scoped->loaded && scoped->children.first()->text == u"Ann");
    QCOMPARE(scoped->data->messages.size(), 1);
    // The phone's chat stays on show; the reload touched another source.
    QCOMPARE(m_w->selectedNode()->text, u"Ann"_s);
    QCOMPARE(rows(), 4);

    QVERIFY(select(u"Devices/Stored Phone/Ann"_s));
    backup->trigger();
    QCOMPARE(m_w->treeModel()->findLocalDb(u"Scoped"_s)->data->messages.size(), 4);
    QVERIFY(select(u"Devices/Stored Phone"_s));
    backup->trigger();
    QCOMPARE(m_w->treeModel()->findLocalDb(u"Scoped"_s)->data->messages.size(), 6);
}

void TestMainWindow::deletesUpdateTheTree()
{
    _LocalDbItemNode *alpha = m_w->treeModel()->findLocalDb(u"Alpha"_s);
    QVERIFY(select(u"Local Databases/Alpha/Bob"_s));
    QVERIFY(run("miDeleteChat"));
    QVERIFY(m_user->boxes.value(0).contains(u"all 1 messages of the chat “Bob”"_s));
    QCOMPARE(alpha->children.size(), 2);
    QCOMPARE(alpha->data->messages.size(), 5);
    // The chat that took Bob's row is on show, list and bubbles together.
    const Node *next = m_w->selectedNode();
    QVERIFY(next && next->parent == alpha && next->text != u"Bob");
    QCOMPARE(label(u"lbChatName"_s), next->text);
    QVERIFY(rows() > 0);
    QVERIFY(
        m_w->bubbleView()->currentHtml().contains(BubblePage::messageAnchor(m_w->smsModel()->message(0))));
    QVERIFY(!select(u"Local Databases/Alpha/Bob"_s));

    // Selected messages of a chat: the chat is selected again afterwards.
    QVERIFY(select(u"Local Databases/Alpha/Ann"_s));
    selectRows(0);
    QVERIFY(run("miDeleteToolbar"));
    QVERIFY(m_user->boxes.value(2).contains(u"1 selected messages"_s));
    QCOMPARE(m_w->selectedNode()->text, u"Ann"_s);
    QCOMPARE(rows(), 3);
    QCOMPARE(text(0), u"no fruit"_s);

    // The toolbar on a database removes the whole of it.
    QVERIFY(select(u"Local Databases/Beta"_s));
    QVERIFY(run("miDeleteToolbar"));
    QVERIFY(m_user->boxes.value(4).contains(u"database “Beta” with its 1 messages"_s));
    QCOMPARE(m_w->treeModel()->localDbNames(), QStringList(u"Alpha"_s));
    QVERIFY(!QFileInfo::exists(localDatabasesFolder().filePath(u"Beta"_s)));
    QVERIFY(!m_w->selectedNode());
}

void TestMainWindow::devicesComeAndGo()
{
    auto sim = std::make_shared<SimulatedDevice>();
    mobiledevice_set_backend(sim);
    makeWindow(true);
    QTemporaryDir cache;
    m_w->setDeviceLoader([&](QWidget *, IOSDeviceDesc &desc) {
        desc.path = cache.filePath(desc.udid);
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
    QVERIFY(run("miUnmoutDevice"));
    QVERIFY(m_w->treeModel()->deviceNodes().isEmpty() && !m_w->selectedNode());
    m_w.reset();
    mobiledevice_set_backend(nullptr);
}

// The window's own loader reads a phone that hands out Viber's container.
void TestMainWindow::aConnectedPhoneLoadsOverAfc()
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
    const QStringList sent = fixtures::messageContent(*ItemModelMain::sourceOf(m_w->selectedNode())->data);
    QVERIFY(run("miDb2iAll"));
    QTRY_COMPARE(m_w->treeModel()->deviceNodes().size(), 2);
    const ViberDataPtr onPhone =
        IOSViberDb(QDir(phone.filePath(u"container"_s)), QString::fromLatin1(fixtures::kStoreFileName))
            .load();
    for (const QString &message : sent)
        QVERIFY2(fixtures::messageContent(*onPhone).contains(message), qPrintable(message));
    QCOMPARE(m_user->boxes.filter(u"Successfully transferred"_s).size(), 1);
    m_w.reset();
}

void TestMainWindow::brokenDatabaseIsReportedAndStaysEmpty()
{
    QVERIFY(
        testsupport::writeFile(localDatabasesFolder().filePath(u"Broken/Documents/Contacts-corvanta.data"_s),
                               QByteArray(4096, 'x')));
    makeWindow();
    Node *broken = select(u"Local Databases/Broken"_s);
    QVERIFY(broken && broken->children.isEmpty() && rows() == 0);
    QCOMPARE(m_user->boxes.size(), 1);
    QVERIFY2(m_user->boxes.first().contains(u"Contacts-corvanta.data"_s), qPrintable(m_user->boxes.first()));
    QVERIFY(select(u"Local Databases/Alpha"_s));
    QCOMPARE(rows(), 6);
}

void TestMainWindow::clearCacheKeepsDataAndFoldersOpen()
{
    const QString cached = dataFolder().filePath(u"ios_cache/UDID/com.viber/Documents/Contacts.data"_s);
    QVERIFY(QDir().mkpath(QFileInfo(cached).path()) && QFile(cached).open(QIODevice::WriteOnly));
    QVERIFY(run("miClearCache"));
    const QString phone = dataFolder().filePath(u"virtual_ios/Stored Phone"_s);
    QVERIFY(!QFileInfo::exists(dataFolder().filePath(u"ios_cache"_s)));
    QVERIFY(QFileInfo::exists(localDatabasesFolder().filePath(u"Alpha"_s)) && QFileInfo::exists(phone));

    QVERIFY(run("miOpenDBFolder"));
    QVERIFY(select(u"Devices/Stored Phone"_s));
    QVERIFY(run("miViewIOSCacheFiles"));
    QCOMPARE(m_opened, QStringList({localDatabasesFolder().path(), phone}));
    // A desktop that cannot open it: the user is told which folder.
    m_w->setFolderOpener([](const QString &) { return false; });
    QVERIFY(run("miOpenDBFolder"));
    QVERIFY(m_user->boxes.value(1).contains(QDir::toNativeSeparators(localDatabasesFolder().path())));
}

void TestMainWindow::deviceChooserNeedsAChoice()
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

void TestMainWindow::chooser_data()
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

void TestMainWindow::chooser()
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

void TestMainWindow::deletionsAskFirst()
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
    QCOMPARE(m_user->boxes,
             QStringList(
                 {u"Delete the 1 selected messages from the database “Alpha”?"_s,
                  u"Delete all 6 messages of the chat “&lt;b&gt;Ann&lt;/b&gt;” from the database “Alpha”?"_s,
                  u"Delete the whole database “Alpha” with its 6 messages? This cannot be undone."_s,
                  u"Delete the whole database “Alpha” with all its messages? This cannot be undone."_s}));
    QCOMPARE(LocalDatabases::load(folder)->messages.size(), 6);
    QCOMPARE(LocalDatabases::names(), QStringList({u"Alpha"_s, u"Beta"_s}));
}

void TestMainWindow::failedCopyKeepsOnlyTheDatabaseThatExisted()
{
    // A picture too large for the file size limit fails the copy after the store
    // was made: a database that existed stays, one made by the copy goes.
    QTemporaryDir source;
    const QString picture = source.filePath(u"big.jpg"_s);
    QVERIFY(testsupport::writeFile(picture, QByteArray(4 << 20, 'x')));
    testsupport::MessageFixture records;
    _ViberPerson *ann = records.addPerson(QString(), u"+1"_s);
    _ViberChat *chat = records.addChat(QString(), {ann});
    const QDateTime morning(QDate(2024, 3, 5), QTime(9, 0));
    records.addMessage(chat, ViberMsgTypeText, morning, false, u"first"_s)->person = ann;
    records
        .addAttachment(records.addMessage(chat, ViberMsgTypePicture, morning.addSecs(60), true), picture,
                       QString())
        ->fileName = u"big.jpg"_s;

    m_user->databaseName = u"Work"_s;
    QCOMPARE(backupMessagesToLocalDb(m_w.get(), records.messages().mid(0, 1), {}, u"iPhone_Backup"_s),
             u"Work"_s);
    QCOMPARE(m_user->proposals, QStringList(u"iPhone_Backup"_s));

    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit old = {};
    getrlimit(RLIMIT_FSIZE, &old);
    const struct rlimit limit = {2 << 20, old.rlim_max};
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
    QStringList started;
    // "WORK" is "Work" though the caller's list lacks it, as on a file system
    // that tells cases apart.
    for (const QString &name : {u"WORK"_s, u"New"_s}) {
        m_user->databaseName = name;
        started << QString();
        QVERIFY(backupMessagesToLocalDb(m_w.get(), records.messages(), {}, {}, &started.last()).isEmpty());
    }
    setrlimit(RLIMIT_FSIZE, &old);

    QCOMPARE(started, QStringList({u"Work"_s, QString()}));
    QCOMPARE(LocalDatabases::names(), QStringList({u"Alpha"_s, u"Beta"_s, u"Work"_s}));
    QCOMPARE(LocalDatabases::load(LocalDatabases::folderOf(u"Work"_s))->messages.size(), 1);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

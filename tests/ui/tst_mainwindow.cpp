#include "app/DataFolder.h"
#include "device/MobileDevice.h"
#include "support/SimulatedDevice.h"
#include "support/StoreFixtures.h"
#include "ui/ItemModelMain.h"
#include "ui/LocalDbSelForm.h"
#include "ui/MainWindow.h"
#include "ui/ProgressForm.h"
#include "ui/VBBubbleViewMgr.h"
#include "viber/LocalDatabases.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QtTest>

#include <functional>

// Stands in for the user in front of modal windows: records every message box
// and answers it with the first of the wanted buttons it has; names a database
// in the database chooser.
class ModalAnswerer : public QObject
{
public:
    ModalAnswerer()
    {
        connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::poll);
        m_timer.start(20);
    }

    QStringList texts;
    QMessageBox::StandardButton answer = QMessageBox::Yes;
    QString databaseName;

private:
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            texts << box->text();
            QAbstractButton *button = box->button(answer);
            if (!button)
                button = box->button(QMessageBox::Ok);
            if (!button)
                button = box->buttons().value(0);
            QTest::mouseClick(button, Qt::LeftButton);
            return;
        }
        if (auto *form = qobject_cast<LocalDbSelForm *>(modal)) {
            auto *combo = form->findChild<QComboBox *>(QStringLiteral("cbDatabases"));
            combo->setEditText(databaseName);
            form->accept();
        }
    }

    QTimer m_timer;
};

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void startupShowsSourcesAndLayout();
    void selectingSourcesSetsActionsAndList();
    void chatHeaderCutsLongTitles();
    void sortIndicatorOrdersByDateOnly();
    void searchMessagesWrapsAround();
    void searchContactsWrapsAround();
    void toolbarScopeFollowsSelection();
    void backupChatIntoNewDatabase();
    void deleteChatAndDatabase();
    void deviceComesAndGoes();

private:
    static fixtures::StoreSpec alphaSpec();
    std::unique_ptr<MainWindow> makeWindow(bool devices = false);
    QTreeView *tree(MainWindow *w) const { return w->findChild<QTreeView *>(QStringLiteral("treeViewDS")); }
    QTreeView *list(MainWindow *w) const { return w->findChild<QTreeView *>(QStringLiteral("treeViewSMS")); }
    QString label(MainWindow *w, const char *name) const
    {
        return w->findChild<QLabel *>(QLatin1String(name))->text();
    }
    void select(MainWindow *w, AbsTreeItemModel::_ItemNode *node);
    AbsTreeItemModel::_ItemNode *child(AbsTreeItemModel::_ItemNode *node, const QString &text);

    std::unique_ptr<QTemporaryDir> m_profile;
    QByteArray m_oldXdg;
};

fixtures::StoreSpec TestMainWindow::alphaSpec()
{
    fixtures::StoreSpec plan;
    const qint64 ann =
        plan.addPerson(QStringLiteral("ann"), QStringLiteral("4915100001"), QStringLiteral("Ann")).pk;
    const qint64 bob =
        plan.addPerson(QStringLiteral("bob"), QStringLiteral("4915100002"), QStringLiteral("Bob")).pk;
    const qint64 annChat = plan.addChat(QStringLiteral("ann"), {ann}).pk;
    const qint64 bobChat = plan.addChat(QStringLiteral("bob"), {bob}).pk;
    // 21 characters: the header shows 17 and "...".
    const qint64 group = plan.addChat(QStringLiteral("group"), {ann, bob}, QStringLiteral("g1"),
                                      QStringLiteral("Weekend hiking friend"))
                             .pk;
    plan.addMessage(QStringLiteral("a1"), annChat, ann, QStringLiteral("received"),
                    QStringLiteral("apple pie"));
    plan.addMessage(QStringLiteral("a2"), annChat, ann, QStringLiteral("delivered"),
                    QStringLiteral("no fruit"));
    plan.addMessage(QStringLiteral("a3"), annChat, ann, QStringLiteral("received"),
                    QStringLiteral("another apple"));
    plan.addMessage(QStringLiteral("a4"), annChat, ann, QStringLiteral("delivered"), QStringLiteral("bye"));
    plan.addMessage(QStringLiteral("b1"), bobChat, bob, QStringLiteral("received"),
                    QStringLiteral("hi from bob"));
    plan.addMessage(QStringLiteral("g1"), group, bob, QStringLiteral("received"),
                    QStringLiteral("trail at nine"));
    return plan;
}

void TestMainWindow::init()
{
    m_oldXdg = qgetenv("XDG_DATA_HOME");
    m_profile = std::make_unique<QTemporaryDir>();
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_profile->path()));
    resetDataFolderForTests();

    const QDir databases = localDatabasesFolder();
    for (const char *name : {"Beta", "Alpha"}) {
        QVERIFY(databases.mkpath(QLatin1String(name)));
        fixtures::StoreSpec plan = alphaSpec();
        if (qstrcmp(name, "Beta") == 0)
            plan.messages.resize(1);
        fixtures::writeStore(plan, databases.filePath(QLatin1String(name)), fixtures::StoreLayout::Template,
                             QLatin1String(LocalDatabases::kStoreFileName));
    }
    // A folder without a store is no database.
    QVERIFY(databases.mkpath(QStringLiteral("NotADatabase/Documents")));
    // A stored copy of a phone.
    const QString phone = dataFolder().filePath(QStringLiteral("virtual_ios/Stored Phone"));
    QVERIFY(QDir().mkpath(phone));
    fixtures::writeStore(alphaSpec(), phone, fixtures::StoreLayout::Phone);
}

void TestMainWindow::cleanup()
{
    qputenv("XDG_DATA_HOME", m_oldXdg);
    resetDataFolderForTests();
    m_profile.reset();
}

std::unique_ptr<MainWindow> TestMainWindow::makeWindow(bool devices)
{
    MainWindow::Options options;
    options.deviceLibraryLoaded = devices;
    auto window = std::make_unique<MainWindow>(options);
    window->setFolderOpener([](const QString &) { return true; });
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        qWarning("window not exposed");
    return window;
}

void TestMainWindow::select(MainWindow *w, AbsTreeItemModel::_ItemNode *node)
{
    QVERIFY(node);
    const QModelIndex index = w->treeModel()->indexOf(node);
    tree(w)->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
}

AbsTreeItemModel::_ItemNode *TestMainWindow::child(AbsTreeItemModel::_ItemNode *node, const QString &text)
{
    for (AbsTreeItemModel::_ItemNode *c : node->children)
        if (c->text == text)
            return c;
    return nullptr;
}

void TestMainWindow::startupShowsSourcesAndLayout()
{
    auto w = makeWindow();
    ItemModelMain *model = w->treeModel();
    QCOMPARE(model->rootDevice()->text, QStringLiteral("Devices"));
    QCOMPARE(model->rootLocalDb()->text, QStringLiteral("Local Databases"));
    QCOMPARE(model->localDbNames(), QStringList({QStringLiteral("Alpha"), QStringLiteral("Beta")}));
    // Databases are read when selected; the stored phone at once.
    QVERIFY(model->rootLocalDb()->children.first()->children.isEmpty());
    const QList<_IOSDeviceItemNode *> devices = model->deviceNodes();
    QCOMPARE(devices.size(), 1);
    QCOMPARE(devices.first()->text, QStringLiteral("Stored Phone"));
    QCOMPARE(devices.first()->children.size(), 3);
    // Most recent chat first: the group got the last message.
    QCOMPARE(devices.first()->children.first()->text, QStringLiteral("Weekend hiking friend"));

    QCOMPARE(w->windowTitle(), QStringLiteral("Chatwharf"));
    QCOMPARE(label(w.get(), "lbSMSCount"), QStringLiteral("Messages: 0"));
    QHeaderView *header = list(w.get())->header();
    QCOMPARE(header->sectionSize(0), 160);
    QCOMPARE(header->sectionSize(1), 50);
    QCOMPARE(header->sectionSize(2), 120);
    QCOMPARE(header->sortIndicatorSection(), 0);
    QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
    QVERIFY(!w->findChild<QSplitter *>(QStringLiteral("splitter"))->childrenCollapsible());

    QStringList toolbar;
    for (QAction *a : w->findChild<QToolBar *>(QStringLiteral("mainToolBar"))->actions())
        toolbar << (a->isSeparator() ? QStringLiteral("|") : a->text());
    QCOMPARE(toolbar,
             QStringList({QStringLiteral("Backup Messages"),
                          QStringLiteral("Transfer Messages from iPhone to iPhone"),
                          QStringLiteral("Transfer Messages from Database to iPhone"),
                          QStringLiteral("Import from iTunes Backup"), QStringLiteral("|"),
                          QStringLiteral("Extract Attachments"), QStringLiteral("Export Messages to File"),
                          QStringLiteral("Extract Call Log"), QStringLiteral("Print Messages"),
                          QStringLiteral("Delete")}));
    // Nothing selected: nothing to work on.
    for (QAction *a : w->findChild<QToolBar *>(QStringLiteral("mainToolBar"))->actions())
        if (!a->isSeparator() && a->objectName() != QLatin1String("IDS_MI_IMPORT_FROM_ITUNES"))
            QVERIFY2(!a->isEnabled(), qPrintable(a->text()));
}

void TestMainWindow::selectingSourcesSetsActionsAndList()
{
    auto w = makeWindow();
    ItemModelMain *model = w->treeModel();
    AbsTreeItemModel::_ItemNode *alpha = child(model->rootLocalDb(), QStringLiteral("Alpha"));
    select(w.get(), alpha);
    QCOMPARE(alpha->children.size(), 3);
    QCOMPARE(w->smsModel()->rowCount(), 6);
    QCOMPARE(label(w.get(), "lbSMSCount"), QStringLiteral("Messages: 6"));
    QVERIFY(w->toolbarAction(QStringLiteral("IDS_MI_DELETE_TOOLBAR"))->isEnabled());
    QVERIFY(!w->toolbarAction(QStringLiteral("IDS_MI_BACKUP_TOOLBAR"))->isEnabled());
    QVERIFY(w->toolbarAction(QStringLiteral("IDS_MI_DB2I_TOOLBAR"))->isEnabled()); // one device exists
    QVERIFY(!w->toolbarAction(QStringLiteral("IDS_MI_I2I_TOOLBAR"))->isEnabled());
    QVERIFY(w->toolbarAction(QStringLiteral("IDS_MI_EXPORT_TOOLBAR"))->isEnabled());

    // A chat counts as its source; its messages oldest first.
    select(w.get(), child(alpha, QStringLiteral("Ann")));
    QCOMPARE(w->smsModel()->rowCount(), 4);
    QCOMPARE(w->smsModel()->message(0)->text, QStringLiteral("apple pie"));
    QCOMPARE(w->smsModel()->message(3)->text, QStringLiteral("bye"));
    QCOMPARE(label(w.get(), "lbChatName"), QStringLiteral("Ann"));
    QVERIFY(w->toolbarAction(QStringLiteral("IDS_MI_DELETE_TOOLBAR"))->isEnabled());
    QVERIFY(w->shownChat());
    // Picking a message takes the bubble view to it.
    QCOMPARE(w->bubbleView()->page(), 1);
    list(w.get())->selectionModel()->select(w->smsModel()->index(2, 0),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QCOMPARE(w->bubbleView()->anchor(), QStringLiteral("sms_%1").arg(w->smsModel()->message(2)->id));

    // A device: backup yes, delete no.
    select(w.get(), model->deviceNodes().first());
    QVERIFY(w->toolbarAction(QStringLiteral("IDS_MI_BACKUP_TOOLBAR"))->isEnabled());
    QVERIFY(!w->toolbarAction(QStringLiteral("IDS_MI_DELETE_TOOLBAR"))->isEnabled());
    QVERIFY(!w->toolbarAction(QStringLiteral("IDS_MI_DB2I_TOOLBAR"))->isEnabled());
    QCOMPARE(w->smsModel()->rowCount(), 6);
    QVERIFY(!w->shownChat());

    // A root clears the views.
    select(w.get(), model->rootDevice());
    QCOMPARE(w->smsModel()->rowCount(), 0);
    QCOMPARE(label(w.get(), "lbSMSCount"), QStringLiteral("Messages: 0"));
    QVERIFY(!w->toolbarAction(QStringLiteral("IDS_MI_EXPORT_TOOLBAR"))->isEnabled());
}

void TestMainWindow::chatHeaderCutsLongTitles()
{
    QCOMPARE(MainWindow::headerTitle(QStringLiteral("12345678901234567890")),
             QStringLiteral("12345678901234567890"));
    auto w = makeWindow();
    _IOSDeviceItemNode *phone = w->treeModel()->deviceNodes().first();
    select(w.get(), child(phone, QStringLiteral("Weekend hiking friend")));
    QCOMPARE(label(w.get(), "lbChatName"), QStringLiteral("Weekend hiking fr..."));
    // A group shows no contact picture.
    QVERIFY(w->findChild<QLabel *>(QStringLiteral("lbChatImg"))->isHidden());
}

void TestMainWindow::sortIndicatorOrdersByDateOnly()
{
    auto w = makeWindow();
    select(w.get(), child(w->treeModel()->deviceNodes().first(), QStringLiteral("Ann")));
    QHeaderView *header = list(w.get())->header();
    header->setSortIndicator(0, Qt::DescendingOrder);
    QCOMPARE(w->smsModel()->message(0)->text, QStringLiteral("bye"));
    QCOMPARE(w->smsModel()->message(3)->text, QStringLiteral("apple pie"));
    // Another column puts the indicator back on the date, oldest first.
    header->setSortIndicator(2, Qt::DescendingOrder);
    QCOMPARE(header->sortIndicatorSection(), 0);
    QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
    QCOMPARE(w->smsModel()->message(0)->text, QStringLiteral("apple pie"));
    // The order survives a new selection.
    header->setSortIndicator(0, Qt::DescendingOrder);
    select(w.get(), w->treeModel()->deviceNodes().first());
    QVERIFY(w->smsModel()->message(0)->date >= w->smsModel()->message(5)->date);
    QCOMPARE(w->smsModel()->message(0)->text, QStringLiteral("trail at nine"));
}

void TestMainWindow::searchMessagesWrapsAround()
{
    auto w = makeWindow();
    ModalAnswerer user;
    auto *keyword = w->findChild<QLineEdit *>(QStringLiteral("txtSMSKeyword"));
    auto *button = w->findChild<QToolButton *>(QStringLiteral("btnSearchSMS"));

    keyword->setText(QStringLiteral("apple"));
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_COMPARE(user.texts.size(), 1);
    QCOMPARE(user.texts.last(), QStringLiteral("Can't find any Message."));

    select(w.get(), child(w->treeModel()->deviceNodes().first(), QStringLiteral("Ann")));
    keyword->setText(QStringLiteral("  apple "));
    QTest::keyClick(keyword, Qt::Key_Return);
    QCOMPARE(list(w.get())->currentIndex().row(), 0);
    QTest::keyClick(keyword, Qt::Key_Return);
    QCOMPARE(list(w.get())->currentIndex().row(), 2);
    // Nothing after row 2: the search starts again from the top.
    QTest::keyClick(keyword, Qt::Key_Return);
    QCOMPARE(list(w.get())->currentIndex().row(), 0);
    QCOMPARE(list(w.get())->selectionModel()->selectedRows().size(), 1);
    // Case counts.
    keyword->setText(QStringLiteral("Apple"));
    QTest::keyClick(keyword, Qt::Key_Return);
    QTRY_COMPARE(user.texts.size(), 2);
    QCOMPARE(user.texts.last(), QStringLiteral("Find no Message with keyword Apple."));
    QCOMPARE(list(w.get())->currentIndex().row(), 0);
}

void TestMainWindow::searchContactsWrapsAround()
{
    auto w = makeWindow();
    ModalAnswerer user;
    auto *keyword = w->findChild<QLineEdit *>(QStringLiteral("txtHandleKeyword"));
    _IOSDeviceItemNode *phone = w->treeModel()->deviceNodes().first();
    // Chats in order: Weekend hiking friend, Bob, Ann (most recent first).
    QCOMPARE(phone->children.at(2)->text, QStringLiteral("Ann"));

    // Without a source nothing is searched.
    keyword->setText(QStringLiteral("n"));
    QTest::keyClick(keyword, Qt::Key_Return);
    QVERIFY(!w->selectedNode());

    select(w.get(), phone);
    QTest::keyClick(keyword, Qt::Key_Return);
    QCOMPARE(w->selectedNode(), phone->children.at(0)); // "Weekend hiking friend"
    QTest::keyClick(keyword, Qt::Key_Return);
    QCOMPARE(w->selectedNode(), phone->children.at(2)); // "Ann"
    QTest::keyClick(keyword, Qt::Key_Return);
    QCOMPARE(w->selectedNode(), phone->children.at(0)); // wrapped
    QCOMPARE(w->smsModel()->rowCount(), 1);

    keyword->setText(QStringLiteral("zed"));
    QTest::keyClick(keyword, Qt::Key_Return);
    QTRY_COMPARE(user.texts.size(), 1);
    QCOMPARE(user.texts.last(), QStringLiteral("Find no contact with keyword zed."));
}

void TestMainWindow::toolbarScopeFollowsSelection()
{
    // The toolbar backup copies the selection, else the chat, else the whole source.
    auto w = makeWindow();
    ModalAnswerer user;
    user.databaseName = QStringLiteral("Scoped");
    _IOSDeviceItemNode *phone = w->treeModel()->deviceNodes().first();
    QAction *backup = w->toolbarAction(QStringLiteral("IDS_MI_BACKUP_TOOLBAR"));

    select(w.get(), child(phone, QStringLiteral("Ann")));
    list(w.get())->selectionModel()->select(w->smsModel()->index(1, 0),
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
    backup->trigger();
    QTRY_VERIFY(!user.texts.isEmpty());
    QCOMPARE(user.texts.last(), QStringLiteral("Successfully backed up 1 messages."));

    select(w.get(), child(phone, QStringLiteral("Ann")));
    backup->trigger();
    QTRY_COMPARE(user.texts.size(), 2);
    QCOMPARE(
        user.texts.last(),
        QStringLiteral("Successfully backed up 3 messages.<br/>1 messages were already in the database."));

    select(w.get(), phone);
    backup->trigger();
    QTRY_COMPARE(user.texts.size(), 3);
    QCOMPARE(
        user.texts.last(),
        QStringLiteral("Successfully backed up 2 messages.<br/>4 messages were already in the database."));
    // Copying into the same database adds nothing twice.
    _LocalDbItemNode *scoped = w->treeModel()->findLocalDb(QStringLiteral("Scoped"));
    QVERIFY(scoped);
    QCOMPARE(scoped->data->messages.size(), 6);
}

void TestMainWindow::backupChatIntoNewDatabase()
{
    auto w = makeWindow();
    ModalAnswerer user;
    user.databaseName = QStringLiteral("  Gamma ");
    _IOSDeviceItemNode *phone = w->treeModel()->deviceNodes().first();
    select(w.get(), child(phone, QStringLiteral("Ann")));
    QVERIFY(QMetaObject::invokeMethod(w.get(), "miBackupChat"));
    QTRY_VERIFY(!user.texts.isEmpty());
    QCOMPARE(user.texts.last(), QStringLiteral("Successfully backed up 4 messages."));

    _LocalDbItemNode *gamma = w->treeModel()->findLocalDb(QStringLiteral("gamma"));
    QVERIFY(gamma);
    QCOMPARE(gamma->text, QStringLiteral("Gamma"));
    QVERIFY(gamma->loaded);
    QCOMPARE(gamma->children.size(), 1);
    QCOMPARE(gamma->children.first()->text, QStringLiteral("Ann"));
    QCOMPARE(gamma->data->messages.size(), 4);
    QVERIFY(QFileInfo::exists(
        localDatabasesFolder().filePath(QStringLiteral("Gamma/Documents/Contacts-corvanta.data"))));
    // The selection was cleared before the records were replaced.
    QVERIFY(!w->selectedNode());
    QCOMPARE(w->smsModel()->rowCount(), 0);
}

void TestMainWindow::deleteChatAndDatabase()
{
    auto w = makeWindow();
    ModalAnswerer user;
    ItemModelMain *model = w->treeModel();
    AbsTreeItemModel::_ItemNode *alpha = child(model->rootLocalDb(), QStringLiteral("Alpha"));
    select(w.get(), alpha);
    select(w.get(), child(alpha, QStringLiteral("Bob")));
    QCOMPARE(w->smsModel()->rowCount(), 1);

    // No: nothing happens.
    user.answer = QMessageBox::No;
    QVERIFY(QMetaObject::invokeMethod(w.get(), "miDeleteChat"));
    QTRY_COMPARE(user.texts.size(), 1);
    QCOMPARE(user.texts.first(), QStringLiteral("Confirm to delete Messages with this contact?"));
    QCOMPARE(alpha->children.size(), 3);

    user.answer = QMessageBox::Yes;
    QVERIFY(QMetaObject::invokeMethod(w.get(), "miDeleteChat"));
    QTRY_COMPARE(user.texts.size(), 3);
    QCOMPARE(user.texts.last(), QStringLiteral("Successfully deleted 1 messages."));
    QCOMPARE(alpha->children.size(), 2);
    QVERIFY(!child(alpha, QStringLiteral("Bob")));
    QCOMPARE(static_cast<_LocalDbItemNode *>(alpha)->data->messages.size(), 5);

    // Selected messages of a chat: the chat is selected again afterwards.
    select(w.get(), child(alpha, QStringLiteral("Ann")));
    list(w.get())->selectionModel()->select(w->smsModel()->index(0, 0),
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QVERIFY(QMetaObject::invokeMethod(w.get(), "miDeleteToolbar"));
    QTRY_COMPARE(user.texts.size(), 5);
    QCOMPARE(user.texts.at(3), QStringLiteral("Confirm to delete selected Messages?"));
    QCOMPARE(w->selectedNode()->text, QStringLiteral("Ann"));
    QCOMPARE(w->smsModel()->rowCount(), 3);
    QCOMPARE(w->smsModel()->message(0)->text, QStringLiteral("no fruit"));

    // The whole database.
    AbsTreeItemModel::_ItemNode *beta = child(model->rootLocalDb(), QStringLiteral("Beta"));
    select(w.get(), beta);
    QVERIFY(QMetaObject::invokeMethod(w.get(), "miDeleteAll"));
    QTRY_COMPARE(user.texts.size(), 7);
    QCOMPARE(user.texts.at(5), QStringLiteral("Confirm to delete this database?"));
    QCOMPARE(user.texts.at(6), QStringLiteral("Successfully deleted database."));
    QCOMPARE(model->localDbNames(), QStringList({QStringLiteral("Alpha")}));
    QVERIFY(!QFileInfo::exists(localDatabasesFolder().filePath(QStringLiteral("Beta"))));
    QVERIFY(!w->selectedNode());
}

void TestMainWindow::deviceComesAndGoes()
{
    auto sim = std::make_shared<SimulatedDevice>();
    mobiledevice_set_backend(sim);
    QTemporaryDir cache;
    {
        auto w = makeWindow(true);
        ModalAnswerer user;
        int loads = 0;
        w->setDeviceLoader([&](QWidget *, IOSDeviceDesc &desc) {
            ++loads;
            desc.path = cache.filePath(desc.udid);
            QDir().mkpath(desc.path);
            fixtures::writeStore(alphaSpec(), desc.path, fixtures::StoreLayout::Phone);
            return true;
        });
        CFType values = CFType::dictionary();
        values.setValue(QStringLiteral("DeviceName"), CFType::fromString(QStringLiteral("Anna's iPhone")));
        values.setValue(QStringLiteral("ProductType"), CFType::fromString(QStringLiteral("iPhone12,1")));
        values.setValue(QStringLiteral("UniqueDeviceID"), CFType::fromString(QStringLiteral("UDID1")));
        sim->addDevice(QStringLiteral("UDID1"), values);
        QTRY_COMPARE(w->treeModel()->deviceNodes().size(), 2);
        QCOMPARE(loads, 1);
        QVERIFY(user.texts.value(0).contains(QStringLiteral("enter your passcode on iPhone first")));
        _IOSDeviceItemNode *node = w->treeModel()->deviceNodes().last();
        QCOMPARE(node->text, QStringLiteral("Anna's iPhone"));
        QCOMPARE(node->desc.productType, QStringLiteral("iPhone12,1"));
        QCOMPARE(node->children.size(), 3);
        QCOMPARE(w->selectedNode(), node);
        QCOMPARE(w->smsModel()->rowCount(), 6);
        // Two devices: iPhone to iPhone becomes possible.
        QVERIFY(w->toolbarAction(QStringLiteral("IDS_MI_I2I_TOOLBAR"))->isEnabled());

        sim->removeDevice(QStringLiteral("UDID1"));
        QTRY_COMPARE(w->treeModel()->deviceNodes().size(), 1);
        QVERIFY(!w->selectedNode());
        QCOMPARE(w->smsModel()->rowCount(), 0);

        // Disconnecting the stored copy by hand.
        select(w.get(), w->treeModel()->deviceNodes().first());
        QVERIFY(QMetaObject::invokeMethod(w.get(), "miUnmoutDevice"));
        QCOMPARE(w->treeModel()->deviceNodes().size(), 0);
        QVERIFY(!w->toolbarAction(QStringLiteral("IDS_MI_BACKUP_TOOLBAR"))->isEnabled());
    }
    mobiledevice_set_backend(nullptr);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

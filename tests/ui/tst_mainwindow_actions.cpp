#include "app/DataFolder.h"
#include "support/StoreFixtures.h"
#include "ui/AboutDlg.h"
#include "ui/DataSourceSelForm.h"
#include "ui/MainWindow.h"
#include "viber/LocalDatabases.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

// Records what pops up: the entries of a context menu (then closes it) and the
// texts of message boxes (then presses OK).
class PopupWatcher : public QObject
{
public:
    PopupWatcher()
    {
        connect(&m_timer, &QTimer::timeout, this, &PopupWatcher::poll);
        m_timer.start(20);
    }

    QList<QStringList> menus;
    QStringList boxes;

private:
    void poll()
    {
        if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
            QStringList entries;
            for (QAction *a : menu->actions())
                entries << a->objectName();
            menus << entries;
            menu->close();
            return;
        }
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            box && box->isVisible()) {
            boxes << box->text();
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        }
    }

    QTimer m_timer;
};

class TestMainWindowActions : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void contextMenusFollowNodeKind();
    void messageListMenuNeedsSelection();
    void chooserNeedsAChoice();
    void aboutShowsNameAndVersion();
    void clearCacheAndOpenFolders();
    void chatPictureOpensContactFile();
    void brokenDatabaseIsReportedAndStaysEmpty();

private:
    std::unique_ptr<MainWindow> makeWindow();
    void select(MainWindow *w, AbsTreeItemModel::_ItemNode *node)
    {
        w->findChild<QTreeView *>(QStringLiteral("treeViewDS"))
            ->selectionModel()
            ->setCurrentIndex(w->treeModel()->indexOf(node), QItemSelectionModel::ClearAndSelect);
    }
    QStringList menuOf(MainWindow *w, const char *slot, PopupWatcher &watcher)
    {
        const int before = watcher.menus.size();
        QMetaObject::invokeMethod(w, slot);
        return watcher.menus.size() > before ? watcher.menus.last() : QStringList();
    }

    std::unique_ptr<QTemporaryDir> m_profile;
    QByteArray m_oldXdg;
};

void TestMainWindowActions::init()
{
    m_oldXdg = qgetenv("XDG_DATA_HOME");
    m_profile = std::make_unique<QTemporaryDir>();
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_profile->path()));
    resetDataFolderForTests();

    fixtures::StoreSpec plan;
    fixtures::PersonSpec &ann =
        plan.addPerson(QStringLiteral("ann"), QStringLiteral("4915100001"), QStringLiteral("Ann"));
    ann.phone = QStringLiteral("+4915100001");
    const qint64 chat = plan.addChat(QStringLiteral("ann"), {ann.pk}).pk;
    plan.addMessage(QStringLiteral("m1"), chat, ann.pk, QStringLiteral("received"), QStringLiteral("hello"));
    plan.addFile(QStringLiteral("Documents/ContactIcons/4915100001.jpg"), fixtures::FileKind::Jpeg,
                 QSize(64, 64));
    const QString db = localDatabasesFolder().filePath(QStringLiteral("Alpha"));
    QVERIFY(QDir().mkpath(db));
    fixtures::writeStore(plan, db, fixtures::StoreLayout::Template,
                         QLatin1String(LocalDatabases::kStoreFileName));
    const QString phone = dataFolder().filePath(QStringLiteral("virtual_ios/Phone"));
    QVERIFY(QDir().mkpath(phone));
    fixtures::writeStore(plan, phone, fixtures::StoreLayout::Phone);
}

void TestMainWindowActions::cleanup()
{
    qputenv("XDG_DATA_HOME", m_oldXdg);
    resetDataFolderForTests();
    m_profile.reset();
}

std::unique_ptr<MainWindow> TestMainWindowActions::makeWindow()
{
    auto window = std::make_unique<MainWindow>(MainWindow::Options());
    window->setFolderOpener([](const QString &) { return true; });
    window->show();
    return window;
}

void TestMainWindowActions::contextMenusFollowNodeKind()
{
    auto w = makeWindow();
    PopupWatcher watcher;
    ItemModelMain *model = w->treeModel();
    _IOSDeviceItemNode *phone = model->deviceNodes().first();
    _LocalDbItemNode *alpha = model->localDbNodes().first();

    select(w.get(), phone);
    // One device: no iPhone-to-iPhone entry.
    QCOMPARE(menuOf(w.get(), "onMainTreeContextMenu", watcher),
             QStringList({"IDS_MI_BACKUP_ALL", "IDS_MI_EXTRACT_MEDIA_All", "IDS_MI_EXPORT_ALL",
                          "IDS_MI_EXPORT_CALL_ALL", "IDS_MI_PRINT_ALL", "IDS_MI_UNMOUNT_DEVICE",
                          "IDS_MI_VIEW_CACHE_FILES"}));
    select(w.get(), phone->children.first());
    QCOMPARE(menuOf(w.get(), "onMainTreeContextMenu", watcher),
             QStringList({"IDS_MI_BACKUP_CHAT", "IDS_MI_EXTRACT_MEDIA_CHAT", "IDS_MI_EXPORT_CHAT",
                          "IDS_MI_EXPORT_CALL_CHAT", "IDS_MI_PRINT_CHAT"}));
    select(w.get(), model->rootLocalDb());
    QCOMPARE(menuOf(w.get(), "onMainTreeContextMenu", watcher),
             QStringList({"IDS_MI_OPEN_DB_FOLDER", "IDS_MI_IMPORT_FROM_ITUNES", "IDS_MI_IMPORT_FROM_PC"}));
    select(w.get(), alpha);
    QCOMPARE(
        menuOf(w.get(), "onMainTreeContextMenu", watcher),
        QStringList({"IDS_MI_DB2I_ALL", "IDS_MI_EXTRACT_MEDIA_All", "IDS_MI_EXPORT_ALL",
                     "IDS_MI_EXPORT_CALL_ALL", "IDS_MI_PRINT_ALL", "IDS_MI_DELETE_ALL",
                     "IDS_MI_IMPORT_FROM_ITUNES", "IDS_MI_IMPORT_FROM_PC", "IDS_MI_EXPORT_TO_ITUNES_ALL"}));
    select(w.get(), alpha->children.first());
    QCOMPARE(menuOf(w.get(), "onMainTreeContextMenu", watcher),
             QStringList({"IDS_MI_DB2I_CHAT", "IDS_MI_EXTRACT_MEDIA_CHAT", "IDS_MI_EXPORT_CHAT",
                          "IDS_MI_EXPORT_CALL_CHAT", "IDS_MI_PRINT_CHAT", "IDS_MI_DELETE_CHAT",
                          "IDS_MI_EXPORT_TO_ITUNES_CHAT"}));

    // Without devices the transfers to an iPhone go; with two, iPhone to iPhone comes.
    IOSDeviceDesc second;
    second.name = QStringLiteral("Second");
    model->addDeviceNode(second);
    select(w.get(), phone);
    QVERIFY(menuOf(w.get(), "onMainTreeContextMenu", watcher).contains(QStringLiteral("IDS_MI_I2I_ALL")));
    select(w.get(), phone->children.first());
    QVERIFY(menuOf(w.get(), "onMainTreeContextMenu", watcher).contains(QStringLiteral("IDS_MI_I2I_CHAT")));
    select(w.get(), phone);
    QMetaObject::invokeMethod(w.get(), "miUnmoutDevice");
    QMetaObject::invokeMethod(w.get(), "miUnmoutDevice"); // nothing selected any more: no-op
    select(w.get(), model->deviceNodes().first());
    QMetaObject::invokeMethod(w.get(), "miUnmoutDevice");
    QCOMPARE(model->deviceNodes().size(), 0);
    select(w.get(), alpha);
    QCOMPARE(menuOf(w.get(), "onMainTreeContextMenu", watcher).first(),
             QStringLiteral("IDS_MI_EXTRACT_MEDIA_All"));
    QVERIFY(!w->toolbarAction(QStringLiteral("IDS_MI_DB2I_TOOLBAR"))->isEnabled());
    // The texts are the English ones.
    QCOMPARE(w->toolbarAction(QStringLiteral("IDS_MI_OPEN_DB_FOLDER"))->text(),
             QStringLiteral("Open Database Folder"));
}

void TestMainWindowActions::messageListMenuNeedsSelection()
{
    auto w = makeWindow();
    PopupWatcher watcher;
    _LocalDbItemNode *alpha = w->treeModel()->localDbNodes().first();
    select(w.get(), alpha);
    QCOMPARE(menuOf(w.get(), "onSMSContextMenu", watcher), QStringList());
    auto *list = w->findChild<QTreeView *>(QStringLiteral("treeViewSMS"));
    list->selectionModel()->select(w->smsModel()->index(0, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QCOMPARE(menuOf(w.get(), "onSMSContextMenu", watcher),
             QStringList({"IDS_MI_DB2I_SEL", "IDS_MI_EXTRACT_MEDIA_SEL", "IDS_MI_EXPORT_SEL",
                          "IDS_MI_PRINT_SEL", "IDS_MI_DELETE_SEL", "IDS_MI_EXPORT_TO_ITUNES_SEL"}));
    select(w.get(), w->treeModel()->deviceNodes().first());
    list->selectionModel()->select(w->smsModel()->index(0, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QCOMPARE(menuOf(w.get(), "onSMSContextMenu", watcher),
             QStringList(
                 {"IDS_MI_BACKUP_SEL", "IDS_MI_EXTRACT_MEDIA_SEL", "IDS_MI_EXPORT_SEL", "IDS_MI_PRINT_SEL"}));
}

void TestMainWindowActions::chooserNeedsAChoice()
{
    DataSourceSelForm form(QStringLiteral("Please select an iPhone:"),
                           {{QIcon(QStringLiteral(":/res/iphone.png")), QStringLiteral("One")},
                            {QIcon(QStringLiteral(":/res/iphone.png")), QStringLiteral("Two")}});
    QCOMPARE(form.windowTitle(), QStringLiteral("Please select a Device."));
    QVERIFY(form.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(form.comboBox()->count(), 2);
    QCOMPARE(form.comboBox()->currentIndex(), -1);
    PopupWatcher watcher;
    form.show();
    auto *confirm = form.findChild<QPushButton *>(QStringLiteral("btnConfirm"));
    QCOMPARE(confirm->text(), QStringLiteral("Confirm"));
    QTest::mouseClick(confirm, Qt::LeftButton);
    QCOMPARE(watcher.boxes, QStringList({QStringLiteral("Need to select a Device to continue.")}));
    QVERIFY(form.isVisible());
    QCOMPARE(form.selectedIndex(), -1);
    form.comboBox()->setCurrentIndex(1);
    QTest::mouseClick(confirm, Qt::LeftButton);
    QVERIFY(!form.isVisible());
    QCOMPARE(form.selectedIndex(), 1);

    DataSourceSelForm cancelled(QString(), {{QIcon(), QStringLiteral("One")}});
    cancelled.show();
    cancelled.comboBox()->setCurrentIndex(0);
    QTest::mouseClick(cancelled.findChild<QPushButton *>(QStringLiteral("btnCancel")), Qt::LeftButton);
    QCOMPARE(cancelled.selectedIndex(), -1);
}

void TestMainWindowActions::aboutShowsNameAndVersion()
{
    AboutDlg about;
    QCOMPARE(about.findChild<QLabel *>(QStringLiteral("lbProductName"))->text(), QStringLiteral("Chatwharf"));
    QVERIFY(
        about.findChild<QLabel *>(QStringLiteral("lbVersion"))->text().contains(QStringLiteral("3.1.18")));
}

void TestMainWindowActions::clearCacheAndOpenFolders()
{
    auto w = makeWindow();
    PopupWatcher watcher;
    QStringList opened;
    bool openerWorks = true;
    w->setFolderOpener([&](const QString &path) {
        opened << path;
        return openerWorks;
    });
    const QString cached =
        dataFolder().filePath(QStringLiteral("ios_cache/UDID/com.viber/Documents/Contacts.data"));
    QVERIFY(QDir().mkpath(QFileInfo(cached).path()));
    QFile(cached).open(QIODevice::WriteOnly);
    QMetaObject::invokeMethod(w.get(), "miClearCache");
    QCOMPARE(watcher.boxes.last(), QStringLiteral("Successfully cleared cache files."));
    QVERIFY(!QFileInfo::exists(dataFolder().filePath(QStringLiteral("ios_cache"))));
    // Local databases and stored phones are no cache.
    QVERIFY(QFileInfo::exists(localDatabasesFolder().filePath(QStringLiteral("Alpha"))));
    QVERIFY(QFileInfo::exists(dataFolder().filePath(QStringLiteral("virtual_ios/Phone"))));

    QMetaObject::invokeMethod(w.get(), "miOpenDBFolder");
    QCOMPARE(opened, QStringList({localDatabasesFolder().path()}));
    select(w.get(), w->treeModel()->deviceNodes().first());
    QMetaObject::invokeMethod(w.get(), "miViewIOSCacheFiles");
    QCOMPARE(opened.last(), dataFolder().filePath(QStringLiteral("virtual_ios/Phone")));
    openerWorks = false;
    const int boxes = watcher.boxes.size();
    QMetaObject::invokeMethod(w.get(), "miOpenDBFolder");
    QCOMPARE(watcher.boxes.size(), boxes + 1);
    QVERIFY(watcher.boxes.last().contains(QDir::toNativeSeparators(localDatabasesFolder().path())));
}

void TestMainWindowActions::chatPictureOpensContactFile()
{
    auto w = makeWindow();
    QStringList opened;
    w->setFolderOpener([&](const QString &path) {
        opened << path;
        return true;
    });
    _LocalDbItemNode *alpha = w->treeModel()->localDbNodes().first();
    select(w.get(), alpha);
    select(w.get(), alpha->children.first());
    auto *picture = w->findChild<QLabel *>(QStringLiteral("lbChatImg"));
    QVERIFY(picture->isVisible());
    QCOMPARE(picture->pixmap().width(), 32);
    QTest::mouseClick(picture, Qt::LeftButton);
    QCOMPARE(opened.size(), 1);
    QVERIFY(opened.first().endsWith(QStringLiteral("Alpha/Documents/ContactIcons/4915100001.jpg")));
    // A source without a chat shows no picture and a click opens nothing.
    select(w.get(), alpha);
    QVERIFY(picture->isHidden());
}

void TestMainWindowActions::brokenDatabaseIsReportedAndStaysEmpty()
{
    const QString store =
        localDatabasesFolder().filePath(QStringLiteral("Broken/Documents/Contacts-corvanta.data"));
    QVERIFY(QDir().mkpath(QFileInfo(store).path()));
    QFile file(store);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();

    auto w = makeWindow();
    PopupWatcher watcher;
    _LocalDbItemNode *broken = w->treeModel()->findLocalDb(QStringLiteral("Broken"));
    QVERIFY(broken);
    select(w.get(), broken);
    QCOMPARE(watcher.boxes.size(), 1);
    QVERIFY2(watcher.boxes.first().contains(QStringLiteral("Contacts-corvanta.data")),
             qPrintable(watcher.boxes.first()));
    QVERIFY(!broken->loaded);
    QVERIFY(broken->children.isEmpty());
    QCOMPARE(w->smsModel()->rowCount(), 0);
    // The other database still opens.
    select(w.get(), w->treeModel()->findLocalDb(QStringLiteral("Alpha")));
    QCOMPARE(w->smsModel()->rowCount(), 1);
}

QTEST_MAIN(TestMainWindowActions)
#include "tst_mainwindow_actions.moc"

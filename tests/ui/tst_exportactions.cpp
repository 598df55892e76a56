#include "app/DataFolder.h"
#include "support/BackupFixtures.h"
#include "support/DesktopFixtures.h"
#include "support/MessageFixtures.h"
#include "support/ModalUser.h"
#include "support/StoreFixtures.h"
#include "support/TempDataFolder.h"
#include "support/TempHome.h"
#include "support/TestSupport.h"
#include "ui/ExportActions.h"
#include "ui/ImportActions.h"
#include "ui/MainWindow.h"
#include "ui/VBBubbleViewMgr.h"
#include "ui/ViberMsgPrinter.h"
#include "viber/LocalDatabases.h"
#include "viber/PCViberDb.h"

#include <QLineEdit>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProcess>
#include <QScopeGuard>
#include <QTreeView>
#include <QtTest>

using namespace Qt::StringLiterals;
using Node = AbsTreeItemModel::_ItemNode;

namespace {

// A store with Ann's chat holding these texts, each received.
fixtures::StorePlan annWith(const QStringList &texts)
{
    fixtures::StorePlan plan;
    const qint64 ann = plan.addPerson(u"ann"_s, u"4915100001"_s, u"Ann"_s).pk;
    const qint64 chat = plan.addChat(u"ann"_s, {ann}).pk;
    for (const QString &text : texts)
        plan.addMessage(text, chat, ann, u"received"_s, text);
    return plan;
}

// Presses the button of a dialog once the dialog is back in its own event loop.
void pressLater(QWidget *dialog, const QString &button)
{
    QMetaObject::invokeMethod(dialog->findChild<QPushButton *>(button), &QAbstractButton::click,
                              Qt::QueuedConnection);
}

} // namespace

class TestExportActions : public QObject
{
    Q_OBJECT

private slots:
    void filterGivesFormatAndPath_data();
    void filterGivesFormatAndPath();
    void scopesReachTheFiles();
    void printerPaintsInDateOrder();
    void storeFolderIsOnlyRead();
    void viberDesktopImportsIntoALocalDatabase();
    void itunesBackupImportsIntoALocalDatabase();
    void welcomeLeadsToTheDemo();
};

void TestExportActions::filterGivesFormatAndPath_data()
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
}

void TestExportActions::filterGivesFormatAndPath()
{
    QFETCH(int, filter);
    QFETCH(QString, chosen);
    QString path;
    QTEST(ExportController::formatForFilter(ExportController::exportFilters().at(filter), chosen, &path),
          "format");
    QTEST(path, "path");
    QCOMPARE(ExportController::formatForFilter(u"Anything(*.*)"_s, chosen, &path), -1);
}

// The chat and the toolbar's database scopes reach the export files; a
// cancelled dialog writes nothing.
void TestExportActions::scopesReachTheFiles()
{
    TempDataFolder data;
    fixtures::StorePlan plan = annWith({u"apple"_s, u"pie"_s});
    const qint64 bob = plan.addPerson(u"bob"_s, u"4915100002"_s, u"Bob"_s).pk;
    plan.addMessage(u"b"_s, plan.addChat(u"bob"_s, {bob}).pk, bob, u"received"_s, u"from bob"_s);
    const QDir databases = localDatabasesFolder();
    QVERIFY(databases.mkpath(u"Alpha"_s));
    fixtures::writeStore(plan, databases.filePath(u"Alpha"_s), fixtures::StoreLayout::Template,
                         QLatin1String(LocalDatabases::kStoreFileName));

    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    ModalUser user;
    QTemporaryDir out;
    QString answer;
    w.exports()->setSaveFileChooser(
        [&](QWidget *, const QString &, const QString &, const QString &, QString *chosen) {
            if (chosen)
                *chosen = ExportController::exportFilters().at(2);
            return answer;
        });
    auto select = [&](const QStringList &path) {
        Node *node = nullptr;
        for (const QString &step : path) {
            const QList<Node *> level = node ? node->children : w.treeModel()->topLevelNodes();
            node = *std::find_if(level.begin(), level.end(), [&](Node *n) { return n->text == step; });
            w.findChild<QTreeView *>(u"treeViewDS"_s)
                ->selectionModel()
                ->setCurrentIndex(w.treeModel()->indexOf(node), QItemSelectionModel::ClearAndSelect);
        }
    };
    auto lines = [](const QString &path) { return testsupport::readFile(path).count('\n'); };

    select({u"Local Databases"_s, u"Alpha"_s, u"Ann"_s});
    answer = QString(); // the user cancels the dialog
    QVERIFY(QMetaObject::invokeMethod(&w, "miExportChat"));
    QCOMPARE(user.boxes.size(), 0);

    answer = out.filePath(u"ann"_s);
    QVERIFY(QMetaObject::invokeMethod(&w, "miExportChat"));
    QCOMPARE(lines(answer + u".csv"_s), 3); // header and Ann's two
    QTRY_COMPARE(user.boxes.value(0), u"Successfully exported 2 Messages."_s);

    select({u"Local Databases"_s, u"Alpha"_s});
    answer = out.filePath(u"all"_s);
    w.toolbarAction(u"IDS_MI_EXPORT_TOOLBAR"_s)->trigger();
    QCOMPARE(lines(answer + u".csv"_s), 4);
}

void TestExportActions::printerPaintsInDateOrder()
{
    if (QStandardPaths::findExecutable(u"pdftotext"_s).isEmpty())
        QSKIP("pdftotext (poppler-utils) is not installed");
    testsupport::MessageFixture f;
    _ViberChat *chat = f.addChat(QString(), {f.addPerson(u"Ann"_s, u"+1"_s)});
    const QDateTime when(QDate(2020, 5, 1), QTime(10, 0));
    f.addMessage(chat, ViberMsgTypeText, when.addSecs(60), true, u"omega"_s);
    f.addMessage(chat, ViberMsgTypeText, when, false, u"alpha"_s);
    ViberMsgPrinter printer;
    printer.setMessages(f.messages());
    QTemporaryDir dir;
    QPrinter device(QPrinter::ScreenResolution);
    device.setOutputFormat(QPrinter::PdfFormat);
    device.setOutputFileName(dir.filePath(u"print.pdf"_s));
    printer.onPaintRequested(&device);
    QProcess text;
    text.start(u"pdftotext"_s, {dir.filePath(u"print.pdf"_s), u"-"_s});
    QVERIFY(text.waitForFinished());
    const QString pages = QString::fromUtf8(text.readAllStandardOutput());
    QVERIFY2(pages.indexOf(u"alpha"_s) >= 0 && pages.indexOf(u"alpha"_s) < pages.indexOf(u"omega"_s),
             qPrintable(pages));
}

// A store folder the user opens is shown as a source, and nothing is written
// into it: no previews, no journal files.
void TestExportActions::storeFolderIsOnlyRead()
{
    TempDataFolder data;
    QTemporaryDir folder;
    fixtures::StorePlan plan = annWith({u"from the folder"_s});
    const qint64 picture =
        plan.addMessage(u"p"_s, plan.chat(u"ann"_s).pk, plan.person(u"ann"_s).pk, u"received"_s, QString())
            .pk;
    plan.addAttachment(u"p"_s, picture, u"picture"_s, u"p1.jpg"_s);
    plan.addFile(u"Documents/Attachments/p1.jpg"_s, fixtures::FileKind::Jpeg);
    fixtures::writeStore(plan, folder.path(), fixtures::StoreLayout::Phone);
    const QStringList before = fixtures::filesBelow(folder.path());

    MainWindow w;
    ModalUser user;
    QString chosen = folder.filePath(u"Documents"_s);
    w.imports()->setFolderChooser([&](QWidget *, const QString &, const QString &) { return chosen; });
    QVERIFY(QMetaObject::invokeMethod(&w, "miOpenStoreFolder"));
    _AbsDBItemNode *source = ItemModelMain::sourceOf(
        w.treeModel()->nodeOf(w.findChild<QTreeView *>(u"treeViewDS"_s)->currentIndex()));
    QVERIFY(source && source->data);
    QCOMPARE(source->data->messages.size(), 2);
    QCOMPARE(fixtures::filesBelow(folder.path()), before);
    // Opened again, the same source is selected, not added twice.
    QVERIFY(QMetaObject::invokeMethod(&w, "miOpenStoreFolder"));
    QCOMPARE(w.treeModel()->deviceNodes().size(), 1);

    chosen = QDir::tempPath() + u"/no-store-here-%1"_s.arg(QCoreApplication::applicationPid());
    QVERIFY(QDir().mkpath(chosen));
    QVERIFY(QMetaObject::invokeMethod(&w, "miOpenStoreFolder"));
    QDir(chosen).removeRecursively();
    QTRY_VERIFY(user.boxes.value(0).contains(u"holds no Viber store"_s));
}

void TestExportActions::viberDesktopImportsIntoALocalDatabase()
{
    TempDataFolder data;
    const QString db = qEnvironmentVariable("XDG_DATA_HOME") + u"/ViberPC/4915100001/viber.db"_s;
    fixtures::writeDesktopStore(fixtures::sampleDesktopStore(), db, fixtures::DesktopLayout::Classic);
    const qsizetype messages = PCViberDb(db).load()->messages.size();
    QVERIFY(messages > 0);

    MainWindow w;
    ModalUser user;
    user.databaseName = u"ViberPC-4915100001"_s;
    QString asked;
    user.intercept = [&](QWidget *modal) {
        if (modal->objectName() != u"DataSourceSelForm")
            return false;
        asked = modal->findChild<QComboBox *>(u"cbDataSources"_s)->itemText(0);
        modal->findChild<QComboBox *>(u"cbDataSources"_s)->setCurrentIndex(0);
        pressLater(modal, u"btnConfirm"_s);
        return true;
    };
    QVERIFY(QMetaObject::invokeMethod(&w, "miImportPCPort"));
    QCOMPARE(asked, u"4915100001"_s);
    QCOMPARE(user.proposals, QStringList{u"ViberPC-4915100001"_s});
    QCOMPARE(LocalDatabases::load(LocalDatabases::folderOf(u"ViberPC-4915100001"_s))->messages.size(),
             messages);
}

// An encrypted backup found where backups are kept: chosen, unlocked, read and
// copied into a local database.
void TestExportActions::itunesBackupImportsIntoALocalDatabase()
{
    const TempHome home;
    resetDataFolderForTests();
    const auto reset = qScopeGuard([] { resetDataFolderForTests(); });
    QTemporaryDir source;
    fixtures::writeStore(annWith({u"from the backup"_s, u"and again"_s}), source.path(),
                         fixtures::StoreLayout::Phone);
    fixtures::EncryptedBackupFixture backup(home.path() + u"/.local/share/MobileSync/Backup/0123"_s,
                                            "secret");
    backup.addFile(u"AppDomain-com.viber"_s, u"Documents/Contacts.data"_s,
                   testsupport::readFile(source.filePath(QLatin1String(fixtures::kStoreFileName))));
    QCOMPARE(backup.write(), QString());

    MainWindow w;
    ModalUser user;
    user.databaseName = u"From Backup"_s;
    user.intercept = [&](QWidget *modal) {
        const QString button = modal->objectName() == u"LoadItunesBackupDlg" ? u"btnLoad"_s
                               : modal->objectName() == u"PasscodeDlg"       ? u"btnOK"_s
                                                                             : QString();
        if (button.isEmpty())
            return false;
        if (auto *list = modal->findChild<QTreeView *>(u"listBackups"_s))
            list->selectionModel()->select(list->model()->index(0, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
        if (auto *password = modal->findChild<QLineEdit *>(u"txtPasscode"_s))
            password->setText(u"secret"_s);
        pressLater(modal, button);
        return true;
    };
    QVERIFY(QMetaObject::invokeMethod(&w, "miImportiTunes"));
    const QString db = LocalDatabases::folderOf(u"From Backup"_s);
    QVERIFY2(QFileInfo::exists(db), qPrintable(user.boxes.join(u'\n')));
    QCOMPARE(LocalDatabases::load(db)->messages.size(), 2);
}

// A window without sources shows the ways in; the demo archive becomes a local
// database whose every file arrived, shown at once.
void TestExportActions::welcomeLeadsToTheDemo()
{
    TempDataFolder data;
    MainWindow w;
    ModalUser user;
    QVERIFY(w.bubbleView()->currentHtml().contains(u"href=\"/welcome/demo\""_s));
    w.bubbleView()->onLinkClicked(QUrl(u"/welcome/demo"_s));
    const ViberDataPtr demo = LocalDatabases::load(LocalDatabases::folderOf(u"Demo"_s));
    QVERIFY(demo->messages.size() >= 15);
    QVERIFY(!demo->calls.isEmpty() && !demo->attachments.isEmpty());
    for (const _ViberAtta *a : std::as_const(demo->attachments))
        QVERIFY2(a->filePath.isEmpty() || QFileInfo(a->filePath).size() > 0, qPrintable(a->filePath));
    QVERIFY(w.selectedNode() && w.selectedNode()->text == u"Demo");
    QVERIFY(!w.bubbleView()->currentHtml().contains(u"/welcome/"_s));
    // Asked again, the demo is shown, not made twice.
    w.bubbleView()->onLinkClicked(QUrl(u"/welcome/demo"_s));
    QCOMPARE(w.treeModel()->localDbNames(), QStringList{u"Demo"_s});
}

QTEST_MAIN(TestExportActions)
#include "tst_exportactions.moc"

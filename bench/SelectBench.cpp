#include "BenchRegistry.h"

#include "app/DataFolder.h"
#include "support/StoreFixtures.h"
#include "ui/ItemModelMain.h"
#include "ui/MainWindow.h"
#include "ui/VBBubbleViewMgr.h"
#include "viber/LocalDatabases.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeView>
#include <QWebEngineView>

#include <cstdio>
#include <exception>

namespace {

constexpr qint64 kDefaultMessages = 200000;

// A local database in this program's own layout: one-to-one chats (200 at 200,000
// messages), messages spread over them, dates interleaved so that sorting has real work.
void generate(const QString &root, qint64 messages)
{
    using namespace fixtures;
    const qint64 chats = bench::scaled(200, messages, kDefaultMessages, 10), persons = chats;
    StoreWriter w(root, fixtures::StoreLayout::Template, QLatin1String(LocalDatabases::kStoreFileName));
    for (qint64 i = 1; i <= persons; ++i) {
        PersonPlan p;
        p.pk = i;
        p.canonPhone = QStringLiteral("49151%1").arg(i, 8, 10, QLatin1Char('0'));
        p.phone = QLatin1Char('+') + p.canonPhone;
        p.viberName = QStringLiteral("Viber user %1").arg(i);
        w.writePerson(p);
    }
    for (qint64 i = 1; i <= chats; ++i) {
        ChatPlan c;
        c.pk = i;
        c.date = 700000000.0 + i;
        c.participants = {i};
        w.writeChat(c);
    }
    for (qint64 i = 1; i <= messages; ++i) {
        MessagePlan m;
        m.pk = i;
        m.chat = 1 + (qint64(i) * 7919) % chats;
        m.state = (i % 2) ? QStringLiteral("received") : QStringLiteral("delivered");
        m.person = m.chat;
        m.token = 5860000000000000000LL + i;
        m.seq = i;
        // Keys and dates in different orders, as in a store merged from several copies.
        m.date = 710000000.0 + double((qint64(i) * 104729) % messages) * 13.5;
        m.stateDate = m.date + 1;
        m.text = QStringLiteral("Message %1 of chat %2: a line of ordinary length").arg(i).arg(m.chat);
        w.writeMessage(m);
    }
    w.finish();
}

// Selects node and returns the seconds until the list holds its messages and the
// bubble view has loaded the first page.
double timeSelection(MainWindow &window, AbsTreeItemModel::_ItemNode *node, qint64 expectedRows)
{
    auto *tree = window.findChild<QTreeView *>(QStringLiteral("treeViewDS"));
    auto *web = window.findChild<QWebEngineView *>(QStringLiteral("webViewSMS"));
    QSignalSpy loaded(web, &QWebEngineView::loadFinished);
    QElapsedTimer timer;
    timer.start();
    tree->selectionModel()->setCurrentIndex(window.treeModel()->indexOf(node),
                                            QItemSelectionModel::ClearAndSelect);
    if (window.smsModel()->rowCount() != expectedRows) {
        std::fprintf(stderr, "list shows %d messages, expected %lld\n", window.smsModel()->rowCount(),
                     qlonglong(expectedRows));
        return -1;
    }
    // The list paints its first rows with the next event-loop turn.
    QCoreApplication::processEvents();
    if (loaded.isEmpty() && !loaded.wait(30000)) {
        std::fprintf(stderr, "the bubble page did not load\n");
        return -1;
    }
    return timer.nsecsElapsed() / 1e9;
}

} // namespace

// In a namespace of its own, so that the scenario's name does not meet the C
// library's select().
namespace selectbench {

CHATWHARF_BENCH_SCENARIO(select, "select a local database of 200,000 messages in the main window")
{
    const qint64 messages = bench::messageCount(args, kDefaultMessages);
    if (messages < 0)
        return 2;
    if (!qobject_cast<QApplication *>(QCoreApplication::instance())) {
        std::fprintf(stderr, "select needs the widgets application\n");
        return 1;
    }
    QTemporaryDir profile;
    qputenv("XDG_DATA_HOME", QFile::encodeName(profile.path()));
    resetDataFolderForTests();
    try {
        const QString folder = localDatabasesFolder().filePath(QStringLiteral("Big"));
        QDir().mkpath(folder);
        QElapsedTimer timer;
        timer.start();
        generate(folder, messages);
        bench::figure(QStringLiteral("select_generate_s"), timer.nsecsElapsed() / 1e9, QStringLiteral("s"));

        MainWindow::Options options; // no web services, no devices
        MainWindow window(options);
        window.show();
        QCoreApplication::processEvents();
        _LocalDbItemNode *node = window.treeModel()->findLocalDb(QStringLiteral("Big"));
        if (!node)
            return 1;

        // First selection reads the store.
        const double first = timeSelection(window, node, messages);
        // Away and back: the loaded source is only sorted and shown again.
        window.findChild<QTreeView *>(QStringLiteral("treeViewDS"))
            ->selectionModel()
            ->setCurrentIndex(window.treeModel()->indexOf(window.treeModel()->rootLocalDb()),
                              QItemSelectionModel::ClearAndSelect);
        const double again = timeSelection(window, node, messages);
        if (first < 0 || again < 0)
            return 1;
        // Sorting the other way round, then a search that only the last row answers:
        // it reads every message of the list once.
        auto *list = window.findChild<QTreeView *>(QStringLiteral("treeViewSMS"));
        QElapsedTimer sorting;
        sorting.start();
        list->header()->setSortIndicator(0, Qt::DescendingOrder);
        const double sorted = sorting.nsecsElapsed() / 1e9;
        const int lastRow = window.smsModel()->rowCount() - 1;
        const _ViberMsg *last = window.smsModel()->message(lastRow);
        if (!last)
            return 1;
        window.findChild<QLineEdit *>(QStringLiteral("txtSMSKeyword"))
            ->setText(QStringLiteral("message %1 of").arg(last->id)); // another case than the text's
        QElapsedTimer searching;
        searching.start();
        window.findChild<QToolButton *>(QStringLiteral("btnSearchSMS"))->click();
        const double searched = searching.nsecsElapsed() / 1e9;
        if (list->currentIndex().row() != lastRow) {
            std::fprintf(stderr, "the search stopped at row %d, not %d\n", list->currentIndex().row(),
                         lastRow);
            return 1;
        }
        bench::figure(QStringLiteral("select_200k_s"), again, QStringLiteral("s"));
        bench::figure(QStringLiteral("sort_s"), sorted, QStringLiteral("s"));
        bench::figure(QStringLiteral("search_s"), searched, QStringLiteral("s"));
        bench::figure(QStringLiteral("select_200k_first_s"), first, QStringLiteral("s"));
        bench::figure(QStringLiteral("select_peak_rss_mb"), bench::peakResidentMb(), QStringLiteral("MB"));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    resetDataFolderForTests();
    return 0;
}

} // namespace selectbench

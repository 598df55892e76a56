#include "TestConfig.h"
#include "export/BubblePage.h"
#include "export/MessageText.h"
#include "support/MessageFixtures.h"
#include "support/ModalUser.h"
#include "support/TestSupport.h"
#include "ui/ItemModelMain.h"
#include "ui/ItemModelSms.h"
#include "ui/VBBubbleViewMgr.h"

#include <QAbstractItemModelTester>
#include <QFileDialog>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <QtTest>

#include <optional>

using namespace Qt::StringLiterals;

using testsupport::MessageFixture;

namespace {

const QDateTime kMorning(QDate(2024, 3, 5), QTime(9, 30));

IOSDeviceDesc device(const QString &name, void *handle)
{
    return {name, {}, {}, {}, {}, {}, handle};
}

} // namespace

// The bubble view, with the list and tree models beside it, all
// fed from message records. Page loads are slow, so one view serves the whole
// suite and each test loads as few pages as it can; page arithmetic runs on a
// manager without a view.
class TestBubbleView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The artwork is painted beside the executable of the build tree.
        const QString folder = QStringLiteral(CHATWHARF_BINARY_DIR "/src");
        QVERIFY2(QFile::exists(folder + QLatin1String("/vbbb/style.css")),
                 "build the chatwharf_artwork target first");
        MessageText::setPictureFolder(folder);
        // The desktop's own file dialog is out of the test's reach.
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);

        m_view = new QWebEngineView;
        m_view->resize(640, 640);
        m_mgr = new VBBubbleViewMgr(m_view);
        m_mgr->attach(m_view);
        m_mgr->setUrlOpener([this](const QString &url) {
            m_opened << u"url "_s + url;
            return true;
        });
        m_mgr->setFolderOpener([this](const QString &path) {
            m_opened << u"file "_s + path;
            return true;
        });
        m_loads.emplace(m_view, &QWebEngineView::loadFinished);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view));
    }
    void cleanupTestCase()
    {
        m_loads.reset();
        delete m_view;
    }
    void init()
    {
        m_opened.clear();
        m_user.emplace();
    }
    void pagesLoadAndFollowTheirLinks()
    {
        // Page 3 is too large to hand over inline.
        MessageFixture f;
        _ViberChat *group = f.addChat(u"group-7"_s);
        f.addMessage(group, ViberMsgTypeText, kMorning, false,
                     u"Morning! (smiley) "_s + QString::fromUcs4(U"\U0001F604"))
            ->person = f.addPerson(u"Ann"_s, u"+100"_s);
        f.addTexts(group, 115, kMorning.addDays(2));
        f.messages().at(110)->text = QString(2 * 1024 * 1024, QLatin1Char('x')) + u" END-OF-LONG"_s;

        m_loadsSeen = int(m_loads->size());
        m_mgr->showBubble(f.messages());
        QCOMPARE(m_mgr->pageCount(), 3);
        QVERIFY(waitForLoad());
        // The sender of a group message is named in its bubble; the pictures of emoji are
        // found relative to the page's base.
        QCOMPARE(evaluate(u"document.querySelector('.handle').textContent"_s).toString(), u"Ann"_s);
        QVERIFY(evaluate(u"document.images.length >= 2 && "
                         "Array.from(document.images).every(i => i.naturalWidth > 0)"_s)
                    .toBool());

        // Click the real link at the bottom of the page, as a user would.
        const QVariantList rect =
            evaluate(u"(function(){var a=document.querySelector('a[href=\"/next_page\"]');"
                     "a.scrollIntoView(false);var r=a.getBoundingClientRect();"
                     "return [r.left+r.width/2,r.top+r.height/2];})()"_s)
                .toList();
        QTest::qWait(200);
        QWidget *surface = m_view->focusProxy();
        QVERIFY(surface && rect.size() == 2);
        const QPoint at(rect.at(0).toInt(), rect.at(1).toInt());
        QTest::mouseMove(surface, at);
        QTest::mouseClick(surface, Qt::LeftButton, Qt::NoModifier, at);
        QTRY_COMPARE_WITH_TIMEOUT(m_mgr->page(), 2, 10000);
        QVERIFY(waitForLoad());
        QVERIFY(m_opened.isEmpty());
        // Where the view shows the message to scroll to; far off when it is not on the page.
        auto anchorTop = [&](int index) {
            return evaluate(u"(function(){var a=document.getElementsByName('%1');"
                            "return a.length?a[0].getBoundingClientRect().top:-1e9;})()"_s.arg(
                                BubblePage::messageAnchor(f.messages().at(index))))
                .toDouble();
        };
        QVERIFY(anchorTop(50) > -1e9); // the view shows page 2

        // Within the page: no new load, the view scrolls to the message.
        m_mgr->scrollToPos(60);
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(anchorTop(60)) < 2, 10000);
        QCOMPARE(int(m_loads->size()), m_loadsSeen);

        // Onto the large page, loaded from a file: the message is scrolled to once it loaded.
        m_mgr->scrollToPos(102);
        QCOMPARE(m_mgr->page(), 3);
        QVERIFY(m_mgr->currentHtml().toUtf8().size() > VBBubbleViewMgr::kMaxInlinePageBytes);
        QVERIFY(waitForLoad());
        QVERIFY(evaluate(u"document.body.textContent.indexOf('END-OF-LONG') >= 0"_s).toBool());
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(anchorTop(102)) < 2, 10000);
    }
    void pagingWithoutAView()
    {
        MessageFixture f;
        f.addTexts(f.addChat(), 101, kMorning);
        VBBubbleViewMgr mgr;
        mgr.showBubble(f.messages());
        QStringList seen; // page and anchor after each step
        auto step = [&](const std::function<void()> &go) {
            go();
            seen << u"%1 %2"_s.arg(mgr.page()).arg(mgr.anchor());
        };
        step([] {});
        // Links of the page, with or without a scheme; none past the ends.
        for (const QString &link : {u"file:///next_page"_s, u"/next_page"_s, u"file:///pre_page"_s,
                                    u"/last_page"_s, u"/first_page"_s})
            step([&] { mgr.onLinkClicked(QUrl(link)); });
        step([&] {
            mgr.nextPage();
            mgr.nextPage();
            mgr.nextPage();
        });
        step([&] {
            mgr.firstPage();
            mgr.previousPage();
        });
        step([&] { mgr.scrollToPos(50); });
        step([&] {
            mgr.scrollToPos(-1);
            mgr.scrollToPos(101);
        });
        const QString at50 = BubblePage::messageAnchor(f.messages().at(50));
        QCOMPARE(seen,
                 QStringList({u"1 start"_s, u"2 start"_s, u"3 start"_s, u"2 end"_s, u"3 end"_s, u"1 start"_s,
                              u"3 start"_s, u"1 start"_s, u"2 "_s + at50, u"2 "_s + at50}));

        mgr.showBubble(ViberMsgList());
        QCOMPARE(mgr.currentHtml(), BubblePage::emptyPageHtml());
        mgr.nextPage();
        mgr.lastPage();
        mgr.scrollToPos(0);
        QCOMPARE(std::pair(mgr.page(), mgr.pageCount()), std::pair(0, 0));
    }
    void linksAndAttachments()
    {
        // Web addresses and media go to the desktop; a missing attachment is named
        // (escaped, by its last three components); any other is offered for saving.
        QTemporaryDir dir;
        const QString photo = dir.filePath(u"photo.JPG.jpg"_s), song = dir.filePath(u"song.mp3"_s),
                      empty = dir.filePath(u"a/b/empty.pdf"_s), pdf = dir.filePath(u"report #1.pdf"_s);
        QVERIFY(testsupport::writeFile(photo, "jpeg") && testsupport::writeFile(song, "id3") &&
                testsupport::writeFile(empty, QByteArray()) &&
                testsupport::writeFile(pdf, "%PDF-1.4 contents"));
        const QString map = u"https://maps.example.org/maps/api/staticmap?center=1,2"_s;
        m_user->fileName = dir.filePath(u"saved.pdf"_s);
        for (const QUrl &link : {QUrl(map), QUrl::fromLocalFile(photo), QUrl::fromLocalFile(song),
                                 QUrl::fromLocalFile(u"/data/Attachments/<b>x/file.pdf"_s),
                                 QUrl::fromLocalFile(u"/nowhere/x.pdf"_s), QUrl::fromLocalFile(empty),
                                 // As the page writes it: its '#' must not turn into a fragment.
                                 QUrl(BubblePage::localFileAddress(pdf))})
            m_mgr->onLinkClicked(link);
        QCOMPARE(m_opened, QStringList({u"url "_s + map, u"file "_s + photo, u"file "_s + song}));
        QCOMPARE(m_user->boxes,
                 QStringList({u"can not find .../Attachments/&lt;b&gt;x/file.pdf."_s,
                              u"can not find /nowhere/x.pdf."_s, u"can not find .../a/b/empty.pdf."_s,
                              u"Attachment saved successfully."_s}));
        QCOMPARE(m_user->fileDialogs, QStringList({u"Save Attachment"_s, u"report #1.pdf"_s}));
        QCOMPARE(testsupport::readFile(m_user->fileName), QByteArray("%PDF-1.4 contents"));
        // Saved onto itself it stays whole, after the dialog asked to replace it.
        m_user->fileName = pdf;
        m_mgr->onLinkClicked(QUrl::fromLocalFile(pdf));
        QCOMPARE(m_user->boxes.size(), 6);
        QCOMPARE(m_user->boxes.last(), u"Attachment saved successfully."_s);
        QCOMPARE(testsupport::readFile(pdf), QByteArray("%PDF-1.4 contents"));
    }
    void indexesStayRightAfterRemovals()
    {
        // No model tester here: walking the whole tree after each change would renew
        // the cached rows this test is about.
        ItemModelMain model;
        QList<_LocalDbItemNode *> dbs;
        for (const QString &name : {u"a"_s, u"b"_s, u"c"_s, u"d"_s})
            dbs.append(model.addLocalDbNode(name));
        const QModelIndex root = model.indexOf(model.rootLocalDb());
        // Indexes made (and rows cached) while c is row 2 and d row 3.
        QCOMPARE(model.nodeOf(model.index(2, 0, root)), dbs[2]);
        QCOMPARE(model.indexOf(dbs[3]).row(), 3);
        QCOMPARE(model.parent(model.indexOf(dbs[2])), root);

        // Both moved up: their indexes say so, not the rows cached before.
        model.removeNode(dbs[0]);
        QCOMPARE(model.indexOf(dbs[2]).row(), 1);
        QCOMPARE(model.indexOf(dbs[3]).row(), 2);
        QCOMPARE(model.index(1, 0, root), model.indexOf(dbs[2]));
        // Past the rows, a second column (there is one only), a root's parent.
        QVERIFY(!model.index(3, 0, root).isValid() && !model.index(0, 1, root).isValid() &&
                !model.parent(root).isValid());
        model.removeChildren(model.rootLocalDb());
        QCOMPARE(model.rowCount(root), 0);
    }
    void sourcesAndChats()
    {
        ItemModelMain model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        MessageFixture f;
        QList<_ViberPerson *> people;
        for (const QString &name : {u"Ann"_s, u"Bob"_s, u"Cy"_s, u"Dee"_s})
            people << f.addPerson(name, u"+"_s + QString::number(people.size()));
        f.addChat(QString(), {people[0]}, 25);
        f.addChat(QString(), {people[1]}, 30);
        f.addChat(u"g"_s, {people[0], people[1]}, 20)->name = u"Team"_s;
        f.addChat(QString(), {people[2]}, 20); // same date: the id decides
        f.addChat(QString(), {people[3]}, 5);
        f.addChat(QString(), {people[0], people[1]}, 2); // two participants, no group id
        _LocalDbItemNode *db = model.addLocalDbNode(u"Work"_s);
        db->data = f.data;
        // A stored copy has no handle: looking up a null handle must not find it.
        int token = 0;
        model.addDeviceNode(device(u"Copy"_s, nullptr));
        _IOSDeviceItemNode *phone = model.addDeviceNode(device(u"Phone"_s, &token));
        QCOMPARE(model.findDevice(&token), phone);
        QVERIFY(!model.findDevice(nullptr));
        QCOMPARE(model.findLocalDb(u"wORK"_s), db);
        QVERIFY(!model.findLocalDb(u"Work2"_s));

        // Most recent first; a reload replaces the chat nodes rather than adding to them.
        for (int load = 0; load < 2; ++load) {
            model.setChats(db);
            QStringList titles;
            for (auto *node : db->children)
                titles << node->text;
            QCOMPARE(titles.mid(0, 5), QStringList({u"Bob"_s, u"Ann"_s, u"Team"_s, u"Cy"_s, u"Dee"_s}));
        }
        // What an action on a selected chat works on: its own source.
        QCOMPARE(ItemModelMain::sourceOf(db->children.first()), db);
        QVERIFY(!ItemModelMain::sourceOf(model.rootLocalDb()));
        QCOMPARE(model.countNodes(nullptr, ItemNodeChatSession), 6);
        QCOMPARE(model.countNodes(model.rootDevice(), ItemNodeIOSDevice), 2);
        // A source goes with its chats.
        model.removeNode(db);
        QCOMPARE(model.countNodes(nullptr, ItemNodeChatSession), 0);
    }
    void messageList()
    {
        MessageFixture f;
        _ViberPerson *ann = f.addPerson(u"Ann"_s, u"+491"_s);
        _ViberPerson *bob = f.addPerson(u"Bob"_s, u"+492"_s);
        _ViberChat *single = f.addChat(QString(), {ann});
        _ViberChat *group = f.addChat(u"g1"_s, {ann, bob});
        group->name = u"<b>Friends</b>"_s;
        f.addMessage(single, ViberMsgTypeText, kMorning, false, u"hello"_s);
        f.addMessage(single, ViberMsgTypeText, kMorning, true, u"hi"_s);
        f.addMessage(group, ViberMsgTypeSystem, kMorning, false)->systemKind = ViberSystemKindNameChanged;
        f.addCall(f.addMessage(single, ViberMsgTypeCall, kMorning, true), ViberCallTypeOutgoing, 5);
        f.addMessage(group, ViberMsgTypeText, kMorning, false, u"yo"_s)->person = bob;
        f.addMessage(group, ViberMsgTypeText, kMorning, true, u"me"_s); // no sender
        f.addMessage(nullptr, ViberMsgTypeText, kMorning, false, u"lost"_s);
        // A call's direction is the call's own, whatever state its entry carries.
        f.addCall(f.addMessage(single, ViberMsgTypeCall, kMorning, true), ViberCallTypeMissed, 0);

        ItemModelSms model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setMessages(f.messages());
        QCOMPARE(model.rowCount(), 8);
        QVERIFY(!model.index(8, 0).isValid() && !model.index(0, 4).isValid() && !model.message(8));
        // Flag and contact of each row: who a message is from must not be mixed up.
        // A group is named by its title, the sender in front of it; a call by its party.
        QStringList rows;
        for (int row = 0; row < 8; ++row)
            rows << model.data(model.index(row, 1)).toString() + u'|' +
                        model.data(model.index(row, 2)).toString();
        QCOMPARE(rows, QStringList({u"From|Ann(+491)"_s, u"To|Ann(+491)"_s, u"|<System>"_s, u"|Ann(+491)"_s,
                                    u"From|Bob(+492) in <b>Friends</b>"_s, u"To|<b>Friends</b>"_s, u"From|"_s,
                                    u"|Ann(+491)"_s}));
        QCOMPARE(model.data(model.index(4, 3)).toString(), u"yo"_s);
    }

private:
    bool waitForLoad();
    QVariant evaluate(const QString &script);

    QWebEngineView *m_view = nullptr;
    VBBubbleViewMgr *m_mgr = nullptr; // owned by the view
    std::optional<QSignalSpy> m_loads;
    int m_loadsSeen = 0;
    std::optional<ModalUser> m_user;
    QStringList m_opened; // addresses and files handed to the desktop
};

// Waits for a page load after the last one waited for; true when one succeeded. A
// followed link first ends its own navigation, which the view refuses, as a failed load:
// on a busy machine that report can come alone before the page's own.
bool TestBubbleView::waitForLoad()
{
    const auto succeeded = [&] {
        return std::any_of(m_loads->cbegin() + m_loadsSeen, m_loads->cend(),
                           [](const QList<QVariant> &load) { return load.value(0).toBool(); });
    };
    const bool loaded = QTest::qWaitFor(succeeded, 20000);
    m_loadsSeen = int(m_loads->size());
    return loaded;
}

QVariant TestBubbleView::evaluate(const QString &script)
{
    std::optional<QVariant> result;
    m_view->page()->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                                  [&](const QVariant &v) { result = v; });
    if (!QTest::qWaitFor([&] { return result.has_value(); }, 10000))
        qWarning("script did not answer: %s", qPrintable(script));
    return result.value_or(QVariant());
}

QTEST_MAIN(TestBubbleView)
#include "tst_bubbleview.moc"

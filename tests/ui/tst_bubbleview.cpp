#include "TestConfig.h"
#include "export/BubblePage.h"
#include "export/MessageText.h"
#include "support/MessageFixtures.h"
#include "ui/BubbleWebPage.h"
#include "ui/VBBubbleViewMgr.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QtTest>

#include <functional>

using testsupport::MessageFixture;

namespace {

const QDateTime kMorning(QDate(2024, 3, 5), QTime(9, 30));

// Stands in for the user: waits for the next modal widget of type T, hands it to
// answer, and stops.
template <typename T> class ModalAnswerer : public QObject
{
public:
    // With repeat, every box that comes up is answered until the answerer goes.
    explicit ModalAnswerer(std::function<void(T *)> answer, bool repeat = false)
        : m_answer(std::move(answer)), m_repeat(repeat)
    {
        connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::poll);
        m_timer.start(20);
    }
    bool answered = false;

private:
    void poll()
    {
        auto *w = qobject_cast<T *>(QApplication::activeModalWidget());
        if (!w || !w->isVisible())
            return;
        if (!m_repeat)
            m_timer.stop();
        answered = true;
        m_answer(w);
    }

    QTimer m_timer;
    std::function<void(T *)> m_answer;
    bool m_repeat = false;
};

// Agrees to the box: OK, or Yes where it asks.
void pressOk(QMessageBox *box)
{
    if (QAbstractButton *ok = box->button(QMessageBox::Ok))
        ok->click();
    else if (QAbstractButton *yes = box->button(QMessageBox::Yes))
        yes->click();
    else
        box->reject();
}

// Types a full path into the dialog's name field and accepts it.
void chooseFile(QFileDialog *dialog, const QString &path)
{
    if (auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
        edit->setText(path);
    else
        dialog->selectFile(path);
    QMetaObject::invokeMethod(dialog, "accept");
}

QString writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return QString();
    return path;
}

QVariant evaluate(QWebEnginePage *page, const QString &script)
{
    QVariant result;
    bool done = false;
    page->runJavaScript(script, QWebEngineScript::ApplicationWorld, [&](const QVariant &v) {
        result = v;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, 10000))
        qWarning("script did not answer: %s", qPrintable(script));
    return result;
}

} // namespace

class TestBubbleView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void showsPagesAndFollowsTheNextPageLink();
    void artworkOfAMixedPage();
    void scrollToPosSwitchesPageAndScrolls();
    void emptyListShowsEmptyPage();
    void pageAboveTwoMegabytesStillShows();
    void pageRunsNoScript();
    void webLinksAndPictures();
    void missingAttachmentIsReported();
    void otherAttachmentsAreSaved();

private:
    bool waitForLoad(int loadsBefore);

    QWebEngineView *m_view = nullptr;
    VBBubbleViewMgr *m_mgr = nullptr;
    QSignalSpy *m_loads = nullptr;
    QStringList m_urlsOpened;
    QStringList m_filesOpened;
};

void TestBubbleView::initTestCase()
{
    // The artwork is painted beside the executable of the build tree.
    const QString folder = QStringLiteral(CHATWHARF_BINARY_DIR "/src");
    QVERIFY2(QFile::exists(folder + QLatin1String("/vbbb/style.css")),
             "build the chatwharf_artwork target first");
    MessageText::setPictureFolder(folder);
    // The desktop's own file dialog is out of the test's reach.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
}

void TestBubbleView::init()
{
    m_view = new QWebEngineView;
    m_view->resize(640, 480);
    m_mgr = new VBBubbleViewMgr(m_view);
    m_mgr->attach(m_view);
    m_urlsOpened.clear();
    m_filesOpened.clear();
    m_mgr->setUrlOpener([this](const QString &url) {
        m_urlsOpened.append(url);
        return true;
    });
    m_mgr->setFolderOpener([this](const QString &path) {
        m_filesOpened.append(path);
        return true;
    });
    m_loads = new QSignalSpy(m_view, &QWebEngineView::loadFinished);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view));
}

void TestBubbleView::cleanup()
{
    delete m_loads;
    m_loads = nullptr;
    delete m_view; // deletes the manager too
    m_view = nullptr;
    m_mgr = nullptr;
}

bool TestBubbleView::waitForLoad(int loadsBefore)
{
    return QTest::qWaitFor([&] { return m_loads->size() > loadsBefore; }, 20000) &&
           m_loads->last().value(0).toBool();
}

void TestBubbleView::showsPagesAndFollowsTheNextPageLink()
{
    MessageFixture f;
    _ViberChat *chat = f.addChat();
    f.addTexts(chat, 101, kMorning);
    f.messages().at(1)->text =
        QStringLiteral("A longer message to see how the bubbles wrap their text and look.");

    m_mgr->showBubble(f.messages());
    QCOMPARE(m_mgr->page(), 1);
    QCOMPARE(m_mgr->pageCount(), 3);
    QCOMPARE(m_mgr->anchor(), QStringLiteral("start"));
    QVERIFY(waitForLoad(0));
    QCOMPARE(m_view->title(), QStringLiteral("Bubble"));

    // The style sheet and the frames arrived: the page background and a white
    // incoming bubble are both on screen.
    QTest::qWait(300);
    const QImage shot = m_view->grab().toImage();
    shot.save(QStringLiteral(CHATWHARF_BINARY_DIR "/tst_bubbleview_page1.png"));
    bool background = false;
    bool bubble = false;
    for (int y = 0; y < shot.height(); y += 3)
        for (int x = 0; x < shot.width(); x += 3) {
            const QColor c = shot.pixelColor(x, y);
            background = background || (c.red() == 213 && c.green() == 231 && c.blue() == 236);
            bubble = bubble || c == Qt::white;
        }
    QVERIFY(background);
    QVERIFY(bubble);

    // Click the real link at the bottom of the page, as a user would.
    QWebEnginePage *page = m_view->page();
    evaluate(page, QStringLiteral("document.querySelector('a[href=\"/next_page\"]').scrollIntoView(false);"));
    QTest::qWait(200);
    const QVariantList rect =
        evaluate(page,
                 QStringLiteral("(function(){var r=document.querySelector('a[href=\"/next_page\"]')"
                                ".getBoundingClientRect();return [r.left+r.width/2,r.top+r.height/2];})()"))
            .toList();
    QCOMPARE(rect.size(), 2);
    const QPoint at(int(rect.at(0).toDouble()), int(rect.at(1).toDouble()));
    QWidget *surface = m_view->focusProxy();
    QVERIFY(surface);
    const int loads = int(m_loads->size());
    QTest::mouseMove(surface, at);
    QTest::mouseClick(surface, Qt::LeftButton, Qt::NoModifier, at);
    QTRY_COMPARE_WITH_TIMEOUT(m_mgr->page(), 2, 10000);
    QVERIFY(waitForLoad(loads));
    QVERIFY(m_mgr->currentHtml().contains(BubblePage::messageAnchor(f.messages().at(50))));
    QCOMPARE(m_urlsOpened, QStringList());
    QCOMPARE(m_filesOpened, QStringList());

    // The page links as the view hands them over.
    m_mgr->onLinkClicked(QUrl(QStringLiteral("file:///next_page")));
    QCOMPARE(m_mgr->page(), 3);
    m_mgr->nextPage();
    QCOMPARE(m_mgr->page(), 3);
    m_mgr->onLinkClicked(QUrl(QStringLiteral("file:///pre_page")));
    QCOMPARE(m_mgr->page(), 2);
    QCOMPARE(m_mgr->anchor(), QStringLiteral("end"));
    m_mgr->lastPage();
    QCOMPARE(m_mgr->page(), 3);
    m_mgr->firstPage();
    QCOMPARE(m_mgr->page(), 1);
    m_mgr->previousPage();
    QCOMPARE(m_mgr->page(), 1);
}

void TestBubbleView::artworkOfAMixedPage()
{
    m_view->resize(640, 640);
    MessageFixture f;
    _ViberChat *group = f.addChat(QStringLiteral("group-7"));
    _ViberPerson *ann = f.addPerson(QStringLiteral("Ann"), QStringLiteral("+100"));
    _ViberMsg *call = f.addMessage(group, ViberMsgTypeCall, kMorning, false);
    f.addCall(call, ViberCallTypeOutgoing, 125);
    _ViberMsg *hello = f.addMessage(group, ViberMsgTypeText, kMorning.addSecs(60), false,
                                    QStringLiteral("Morning! (smiley) Coffee at ten? (coffee)"));
    hello->person = ann;
    _ViberMsg *voice = f.addMessage(group, ViberMsgTypeAudio, kMorning.addSecs(120), false);
    voice->person = ann;
    f.addAttachment(voice, QStringLiteral("/nowhere/voice.m4a"), QString(), 95);
    _ViberMsg *pic =
        f.addMessage(group, ViberMsgTypePicture, kMorning.addSecs(180), true, QStringLiteral("Look"));
    f.addAttachment(pic, QStringLiteral("/nowhere/p.jpg"), QStringLiteral("/nowhere/p_thumb.jpg"));
    f.addMessage(group, ViberMsgTypeText, kMorning.addDays(1), true,
                 QStringLiteral("Sure <3 & see you ") + QString::fromUcs4(U"\U0001F604\U0001F49C\U0001F680") +
                     QChar(0xE022));

    m_mgr->showBubble(f.messages());
    QVERIFY(waitForLoad(0));
    QTest::qWait(300);
    const QImage shot = m_view->grab().toImage();
    shot.save(QStringLiteral(CHATWHARF_BINARY_DIR "/tst_bubbleview_mixed.png"));

    // The pictures the page names relative to its base were found: the voice
    // icon, the photo placeholder and an emoticon are all laid out at their size.
    const QVariantList sizes =
        evaluate(m_view->page(),
                 QStringLiteral("(function(){var r=[];var i=document.images;"
                                "for(var k=0;k<i.length;k++)r.push(i[k].getAttribute('src')+' '"
                                "+i[k].naturalWidth);return r;})()"))
            .toList();
    QStringList found;
    for (const QVariant &v : sizes)
        found.append(v.toString());
    QVERIFY2(found.contains(QStringLiteral("vbbb/voice.png 64")), qPrintable(found.join(QLatin1Char(','))));
    QVERIFY2(found.contains(QStringLiteral("vbbb/empty_photo.jpg 160")),
             qPrintable(found.join(QLatin1Char(','))));
    QVERIFY2(found.contains(QStringLiteral("vb_emoji/(smiley).png 20")),
             qPrintable(found.join(QLatin1Char(','))));
    QCOMPARE(
        evaluate(m_view->page(), QStringLiteral("document.querySelector('.handle').textContent")).toString(),
        QStringLiteral("Ann"));
}

void TestBubbleView::scrollToPosSwitchesPageAndScrolls()
{
    MessageFixture f;
    f.addTexts(f.addChat(), 120, kMorning);
    m_mgr->showBubble(f.messages());
    QVERIFY(waitForLoad(0));

    int loads = int(m_loads->size());
    m_mgr->scrollToPos(50);
    QCOMPARE(m_mgr->page(), 2);
    QCOMPARE(m_mgr->anchor(), BubblePage::messageAnchor(f.messages().at(50)));
    QVERIFY(waitForLoad(loads));

    // Within the page: no new load, the view scrolls down to the message.
    loads = int(m_loads->size());
    m_mgr->scrollToPos(99);
    QCOMPARE(m_mgr->page(), 2);
    QCOMPARE(m_mgr->anchor(), BubblePage::messageAnchor(f.messages().at(99)));
    QTRY_VERIFY_WITH_TIMEOUT(m_view->page()->scrollPosition().y() > 500, 10000);
    QCOMPARE(int(m_loads->size()), loads);

    // Onto another page: the anchor is applied once it has loaded, although the
    // page itself runs no script.
    m_mgr->scrollToPos(148 - 30);
    QCOMPARE(m_mgr->page(), 3);
    QVERIFY(waitForLoad(loads));
    QTRY_VERIFY_WITH_TIMEOUT(m_view->page()->scrollPosition().y() > 500, 10000);

    // Out of range: nothing changes.
    m_mgr->scrollToPos(-1);
    m_mgr->scrollToPos(120);
    QCOMPARE(m_mgr->page(), 3);
}

void TestBubbleView::emptyListShowsEmptyPage()
{
    MessageFixture f;
    f.addTexts(f.addChat(), 3, kMorning);
    m_mgr->showBubble(f.messages());
    QVERIFY(waitForLoad(0));
    const int loads = int(m_loads->size());
    m_mgr->showBubble(ViberMsgList());
    QCOMPARE(m_mgr->page(), 0);
    QCOMPARE(m_mgr->pageCount(), 0);
    QCOMPARE(m_mgr->currentHtml(), BubblePage::emptyPageHtml());
    QVERIFY(waitForLoad(loads));
    QCOMPARE(evaluate(m_view->page(), QStringLiteral("document.getElementsByTagName('div').length")).toInt(),
             0);
    m_mgr->nextPage();
    m_mgr->lastPage();
    m_mgr->scrollToPos(0);
    QCOMPARE(m_mgr->page(), 0);
}

void TestBubbleView::pageAboveTwoMegabytesStillShows()
{
    MessageFixture f;
    _ViberChat *chat = f.addChat();
    f.addMessage(chat, ViberMsgTypeText, kMorning, false,
                 QString(3 * 1024 * 1024, QLatin1Char('x')) + QStringLiteral(" END-OF-LONG"));
    f.addTexts(chat, 60, kMorning.addSecs(60));
    m_mgr->showBubble(f.messages());
    QVERIFY(m_mgr->currentHtml().toUtf8().size() > 2 * 1024 * 1024);
    QVERIFY(waitForLoad(0));
    QCOMPARE(m_view->title(), QStringLiteral("Bubble"));
    QVERIFY(evaluate(m_view->page(), QStringLiteral("document.body.textContent.indexOf('END-OF-LONG') >= 0"))
                .toBool());
    QCOMPARE(evaluate(m_view->page(), QStringLiteral("getComputedStyle(document.body).backgroundColor"))
                 .toString(),
             QStringLiteral("rgb(213, 231, 236)"));
    // Its links still lead through the program.
    const int loads = int(m_loads->size());
    m_mgr->onLinkClicked(QUrl(QStringLiteral("file:///next_page")));
    QCOMPARE(m_mgr->page(), 2);
    QVERIFY(waitForLoad(loads));
    QCOMPARE(m_view->title(), QStringLiteral("Bubble"));
}

void TestBubbleView::pageRunsNoScript()
{
    // Were escaping ever to fail, the page still would not run what slipped through.
    QVERIFY(!m_view->page()->settings()->testAttribute(QWebEngineSettings::JavascriptEnabled));
    m_view->setHtml(
        QStringLiteral("<html><head><title>inert</title></head><body>"
                       "<script>document.title='ran';</script>"
                       "<img src=\"missing.png\" onerror=\"document.title='ran'\"></body></html>"),
        QUrl::fromLocalFile(QStringLiteral(CHATWHARF_BINARY_DIR "/src/")));
    QVERIFY(waitForLoad(0));
    QTest::qWait(300);
    QCOMPARE(m_view->title(), QStringLiteral("inert"));
}

void TestBubbleView::webLinksAndPictures()
{
    QTemporaryDir dir;
    const QString photo = writeFile(dir.filePath(QStringLiteral("photo.JPG.jpg")), "jpeg");
    const QString song = writeFile(dir.filePath(QStringLiteral("song.mp3")), "id3");
    QVERIFY(!photo.isEmpty() && !song.isEmpty());

    m_mgr->onLinkClicked(QUrl(QStringLiteral("https://maps.example.org/maps/api/staticmap?center=1,2")));
    QCOMPARE(m_urlsOpened,
             QStringList{QStringLiteral("https://maps.example.org/maps/api/staticmap?center=1,2")});
    m_mgr->onLinkClicked(QUrl::fromLocalFile(photo));
    m_mgr->onLinkClicked(QUrl::fromLocalFile(song));
    QCOMPARE(m_filesOpened, (QStringList{photo, song}));
}

void TestBubbleView::missingAttachmentIsReported()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("a/b")));
    const QString empty = writeFile(dir.filePath(QStringLiteral("a/b/empty.pdf")), QByteArray());
    QVERIFY(!empty.isEmpty());

    QString text;
    {
        ModalAnswerer<QMessageBox> user([&](QMessageBox *box) {
            text = box->text();
            pressOk(box);
        });
        m_mgr->onLinkClicked(QUrl::fromLocalFile(QStringLiteral("/data/Attachments/<b>x/file.pdf")));
        QVERIFY(user.answered);
    }
    QCOMPARE(text, QStringLiteral("can not find .../Attachments/&lt;b&gt;x/file.pdf."));
    {
        // Three components or fewer: the whole path.
        ModalAnswerer<QMessageBox> user([&](QMessageBox *box) {
            text = box->text();
            pressOk(box);
        });
        m_mgr->onLinkClicked(QUrl::fromLocalFile(QStringLiteral("/nowhere/x.pdf")));
        QVERIFY(user.answered);
    }
    QCOMPARE(text, QStringLiteral("can not find /nowhere/x.pdf."));

    ModalAnswerer<QMessageBox> user([&](QMessageBox *box) {
        text = box->text();
        pressOk(box);
    });
    m_mgr->onLinkClicked(QUrl::fromLocalFile(empty));
    QVERIFY(user.answered);
    QCOMPARE(text, QStringLiteral("can not find .../a/b/empty.pdf."));
    QCOMPARE(m_filesOpened, QStringList());
}

void TestBubbleView::otherAttachmentsAreSaved()
{
    QTemporaryDir dir;
    const QString pdf = writeFile(dir.filePath(QStringLiteral("report #1.pdf")), "%PDF-1.4 contents");
    QVERIFY(!pdf.isEmpty());
    const QString target = dir.filePath(QStringLiteral("saved.pdf"));

    QString title;
    QString proposed;
    QString info;
    ModalAnswerer<QMessageBox> infoBox([&](QMessageBox *box) {
        info = box->text();
        pressOk(box);
    });
    ModalAnswerer<QFileDialog> user([&](QFileDialog *dialog) {
        title = dialog->windowTitle();
        proposed = dialog->selectedFiles().value(0);
        chooseFile(dialog, target);
    });
    // The link as the page writes it, so the '#' must not turn into a fragment.
    QString href = BubblePage::localFileAddress(pdf);
    m_mgr->onLinkClicked(QUrl(href));
    QVERIFY(user.answered);
    QVERIFY(infoBox.answered);
    QCOMPARE(title, QStringLiteral("Save Attachment"));
    QCOMPARE(QFileInfo(proposed).fileName(), QStringLiteral("report #1.pdf"));
    QCOMPARE(info, QStringLiteral("Attachment saved successfully."));
    QFile saved(target);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), QByteArray("%PDF-1.4 contents"));
    saved.close();

    // Saving the attachment onto itself keeps it. The dialog asks before it
    // replaces a file, then comes the box that reports success.
    QStringList boxes;
    ModalAnswerer<QMessageBox> again(
        [&](QMessageBox *box) {
            boxes.append(box->text());
            pressOk(box);
        },
        true);
    ModalAnswerer<QFileDialog> self([&](QFileDialog *dialog) { chooseFile(dialog, pdf); });
    m_mgr->onLinkClicked(QUrl(href));
    QVERIFY(self.answered);
    QCOMPARE(boxes.size(), 2);
    QCOMPARE(boxes.last(), QStringLiteral("Attachment saved successfully."));
    QFile original(pdf);
    QVERIFY(original.open(QIODevice::ReadOnly));
    QCOMPARE(original.readAll(), QByteArray("%PDF-1.4 contents"));
    QCOMPARE(m_filesOpened, QStringList());
}

QTEST_MAIN(TestBubbleView)
#include "tst_bubbleview.moc"

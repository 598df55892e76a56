#include "support/SimulatedAfc.h"
#include "support/StoreFixtures.h"
#include "support/TempDataFolder.h"
#include "support/TestSupport.h"
#include "viber/IOSViberDb.h"
#include "viber/Sqlite3DB.h"
#include "workers/IOSLoadViberThread.h"
#include "workers/IOSRestoreViberMsgThread.h"

#include <QImage>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using Outcome = WorkerThread::Outcome;
using Fault = SimulatedAfc::Fault;

// A phone with Viber's store and its files in the container, and a photo library
// holding the original of the store's camera-roll picture.
class TestLoadFromDevice : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString container() const { return m_dir.filePath(u"container"_s); }
    QString media() const { return m_dir.filePath(u"media"_s); }

private slots:
    void initTestCase()
    {
        QVERIFY(QDir().mkpath(container()));
        fixtures::writeStore(fixtures::sampleStore(), container(), fixtures::StoreLayout::Phone);
        Sqlite3DB photos;
        QVERIFY(QDir().mkpath(media() + u"/PhotoData"_s));
        photos.openThrow(media() + u"/PhotoData/Photos.sqlite"_s, Sqlite3DB::ReadWrite | Sqlite3DB::Create);
        photos.execThrow(u"create table ZGENERICASSET(ZUUID text, ZKIND integer, ZMODIFICATIONDATE integer,"
                         " ZDIRECTORY text, ZFILENAME text); insert into ZGENERICASSET values"
                         "('AB12-CD34', 0, 0, 'DCIM/100APPLE', 'IMG_0001.JPG')"_s);
        QVERIFY(QDir().mkpath(media() + u"/DCIM/100APPLE"_s));
        QVERIFY(QImage(100, 50, QImage::Format_RGB32).save(media() + u"/DCIM/100APPLE/IMG_0001.JPG"_s));
    }

    // Everything the store names arrives; a phone that keeps Viber's container to itself
    // sends the caller to the backup route; an empty store is no success.
    void load_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<bool>("emptyStore");
        QTest::newRow("container reachable") << Fault::None << false;
        QTest::newRow("container refused") << Fault::RefuseContainer << false;
        QTest::newRow("empty store") << Fault::None << true;
    }
    void load()
    {
        QFETCH(Fault, fault);
        QFETCH(bool, emptyStore);
        const TempDataFolder data;
        const QString store = container() + u"/Documents/Contacts.data"_s;
        const QByteArray storeBytes = testsupport::readFile(store);
        if (emptyStore)
            QVERIFY(testsupport::writeFile(store, QByteArray()));
        SimulatedAfc phone(container(), media());
        phone.fault = fault;
        QTRY_VERIFY(phone.device());
        IOSLoadViberThread worker(phone.device(), u"U1"_s);
        worker.start();
        worker.wait();
        QVERIFY(testsupport::writeFile(store, storeBytes));
        if (emptyStore) {
            QCOMPARE(worker.outcome(), Outcome::Failed);
            QVERIFY(worker.errorText().contains(u"reinstall"_s));
            return;
        }
        QCOMPARE(worker.outcome(), Outcome::Succeeded);
        QCOMPARE(worker.needsBackup(), fault == Fault::RefuseContainer);
        if (worker.needsBackup()) {
            QVERIFY(!worker.data());
            return;
        }
        const ViberDataPtr source =
            IOSViberDb(QDir(container()), QString::fromLatin1(fixtures::kStoreFileName)).load();
        QCOMPARE(fixtures::messageContent(*worker.data()), fixtures::messageContent(*source));
        QCOMPARE(worker.skippedAttachments(), 0);
        int files = 0;
        for (const _ViberAtta *att : std::as_const(source->attachments)) {
            const _ViberAtta *copy = worker.data()->attachments.value(att->id);
            QVERIFY(copy);
            for (const auto &[from, to] :
                 {std::pair(att->filePath, copy->filePath), {att->previewPath, copy->previewPath}})
                if (QFileInfo(from).isFile() && photoAssetId(att).isEmpty()) {
                    QVERIFY2(testsupport::readFile(to) == testsupport::readFile(from), qPrintable(to));
                    ++files;
                }
        }
        QCOMPARE(files, 11); // every file and preview the container holds, but the camera-roll picture's
        // The camera-roll picture comes from the photo library, and gets its preview.
        const QString root = worker.rootFolder();
        QCOMPARE(QImage(root + u"/Documents/Attachments/p1.jpg"_s).size(), QSize(100, 50));
        QVERIFY(QFileInfo(root + u"/Documents/BigAttachmentsPreview/p4.png"_s).isFile());
    }

    // Messages sent straight into the phone's container come back from it, each once; a
    // phone that hangs up halfway keeps its store as it was, and so does the cache.
    void transferDirectlyAndLoadAgain_data()
    {
        QTest::addColumn<bool>("hangsUp");
        QTest::newRow("delivered") << false;
        QTest::newRow("phone hangs up") << true;
    }
    void transferDirectlyAndLoadAgain()
    {
        QFETCH(bool, hangsUp);
        const TempDataFolder data;
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        const QString phoneFolder = m_dir.filePath(u"phone "_s + tag),
                      sourceFolder = m_dir.filePath(u"wanted "_s + tag);
        fixtures::writeStore(fixtures::sampleStore(), phoneFolder, fixtures::StoreLayout::Phone);
        fixtures::writeStore(fixtures::sampleStoreAndMore(), sourceFolder, fixtures::StoreLayout::Phone);
        const ViberDataPtr source =
            IOSViberDb(QDir(sourceFolder), QString::fromLatin1(fixtures::kStoreFileName)).load();

        SimulatedAfc phone(phoneFolder, media());
        QTRY_VERIFY(phone.device());
        IOSLoadViberThread load(phone.device(), tag);
        QVERIFY(testsupport::runToEnd(load));
        const QByteArray before = testsupport::readFile(phoneFolder + u"/Documents/Contacts.data"_s);
        const QByteArray cached = testsupport::readFile(load.rootFolder() + u"/Documents/Contacts.data"_s);
        if (hangsUp)
            phone.fault = Fault::DropMidWrite;
        IOSRestoreViberMsgThread transfer(load.rootFolder(), source->messages.values());
        transfer.setDirect(phone.device());
        if (hangsUp) {
            QVERIFY(!testsupport::runToEnd(transfer));
            QCOMPARE(testsupport::readFile(phoneFolder + u"/Documents/Contacts.data"_s), before);
            QCOMPARE(testsupport::readFile(load.rootFolder() + u"/Documents/Contacts.data"_s), cached);
            QVERIFY(!QFileInfo::exists(load.rootFolder() + u"/Documents/Contacts.data.bak"_s));
            return;
        }
        QVERIFY2(testsupport::runToEnd(transfer), qPrintable(transfer.errorText()));
        QVERIFY(transfer.files().isEmpty());
        QVERIFY(!QFileInfo::exists(phoneFolder + u"/Documents/Contacts.data.chatwharf-new"_s));

        IOSLoadViberThread again(phone.device(), tag);
        QVERIFY(testsupport::runToEnd(again));
        QCOMPARE(fixtures::messageContent(*again.data()), fixtures::messageContent(*source));
        QVERIFY(testsupport::readFile(phoneFolder + u"/Documents/VoiceMessages/_ptt_id_counter"_s).size() ==
                4);
    }

    // A video named with two dots keeps its preview from the phone and back to a phone:
    // the device side names it as the store's reader does ("clip.jpg").
    void dottedVideoKeepsItsPreview()
    {
        const TempDataFolder data;
        const QString from = m_dir.filePath(u"dotted"_s), to = m_dir.filePath(u"dotted target"_s);
        fixtures::StorePlan plan;
        const qint64 ann = plan.addPerson(u"ann"_s, u"4915111111111"_s, u"Ann"_s).pk;
        const qint64 chat = plan.addChat(u"ann"_s, {ann}).pk;
        fixtures::MessagePlan &clip = plan.addMessage(u"clip"_s, chat, ann, u"received"_s, QString());
        clip.token = 424242; // none of the target's
        const qint64 msg = clip.pk;
        plan.addAttachment(u"clip"_s, msg, u"video"_s, u"clip.v1.mov"_s);
        plan.addFile(u"Documents/Attachments/clip.v1.mov"_s, fixtures::FileKind::Bytes);
        plan.addFile(u"Documents/BigAttachmentsPreview/clip.jpg"_s, fixtures::FileKind::Jpeg);
        fixtures::writeStore(plan, from, fixtures::StoreLayout::Phone);
        fixtures::writeStore(fixtures::sampleStore(), to, fixtures::StoreLayout::Phone);

        ViberDataPtr video;
        {
            SimulatedAfc phone(from, media());
            QTRY_VERIFY(phone.device());
            IOSLoadViberThread load(phone.device(), u"dotted"_s);
            QVERIFY(testsupport::runToEnd(load));
            video = load.data();
        }
        const _ViberAtta *att = video->attachments.value(plan.attachment(u"clip"_s).pk);
        QVERIFY(att);
        QCOMPARE(testsupport::readFile(att->previewPath),
                 testsupport::readFile(from + u"/Documents/BigAttachmentsPreview/clip.jpg"_s));

        SimulatedAfc phone(to, media());
        QTRY_VERIFY(phone.device());
        IOSLoadViberThread load(phone.device(), u"dotted target"_s);
        QVERIFY(testsupport::runToEnd(load));
        IOSRestoreViberMsgThread transfer(load.rootFolder(), video->messages.values());
        transfer.setDirect(phone.device());
        QVERIFY2(testsupport::runToEnd(transfer), qPrintable(transfer.errorText()));
        QCOMPARE(testsupport::readFile(to + u"/Documents/BigAttachmentsPreview/clip.jpg"_s),
                 testsupport::readFile(att->previewPath));
    }
};

QTEST_GUILESS_MAIN(TestLoadFromDevice)
#include "tst_loadfromdevice.moc"

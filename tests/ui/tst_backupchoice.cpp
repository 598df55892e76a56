#include "app/DataFolder.h"
#include "itunes/BackupLocations.h"
#include "support/BackupFixtures.h"
#include "support/ModalUser.h"
#include "support/TempHome.h"
#include "support/TestSupport.h"
#include "ui/ItemModelLoadBk.h"
#include "ui/LoadItunesBackupDlg.h"
#include "ui/PasscodeDlg.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

// A home of its own, with the data folder inside it.
struct Profile : TempHome
{
    Profile() { resetDataFolderForTests(); }
    ~Profile() { resetDataFolderForTests(); }
};

class TestBackupChoice : public QObject
{
    Q_OBJECT

private slots:
    void listsNewestFirstAndRefusesDuplicates();
    void workDriveRoot_data();
    void workDriveRoot();
    void passcodeAnswers();
};

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

void TestBackupChoice::listsNewestFirstAndRefusesDuplicates()
{
    Profile profile;
    const QDir itunes(BackupLocations::itunesBackupFolder());
    writeBackup(itunes.filePath(u"old"_s), 2013);
    writeBackup(itunes.filePath(u"new"_s), 2017);
    writeBackup(itunes.filePath(u"broken"_s), 2014);
    QVERIFY(testsupport::writeFile(itunes.filePath(u"broken/Manifest.plist"_s), "not a plist"));
    QVERIFY(testsupport::writeFile(itunes.filePath(u"plistonly/Manifest.plist"_s), "skipped silently"));
    const QString elsewhere = QDir(profile.path()).filePath(u"elsewhere"_s);
    writeBackup(elsewhere, 2015);

    ModalUser user;
    {
        LoadItunesBackupDlg dialog;
        QCOMPARE(user.boxes.size(), 1);
        QVERIFY2(user.boxes.first().contains(u"load "_s + itunes.filePath(u"broken"_s) + u" error."_s),
                 qPrintable(user.boxes.first()));
        QCOMPARE(years(dialog.model()), QStringList({u"2017"_s, u"2013"_s}));

        QString chosen = itunes.filePath(u"old/"_s);
        dialog.setFolderChooser([&](QWidget *, const QString &, const QString &) { return chosen; });
        dialog.btnAddOtherClicked(u"#"_s);
        QCOMPARE(user.boxes.last(), u"This iTunes Backup has been listed on the left."_s);
        QCOMPARE(dialog.model()->rowCount(), 2);

        chosen = elsewhere;
        dialog.btnAddOtherClicked(u"#"_s);
        QCOMPARE(years(dialog.model()), QStringList({u"2017"_s, u"2015"_s, u"2013"_s}));
        dialog.btnLoadClicked();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.selectedManifest()->folder().absolutePath(), elsewhere);
        QCOMPARE(dialog.selectedManifest()->deviceName(), u"Test iPhone"_s);
    }
    // The added folder is listed again; Load without a choice warns and stays.
    LoadItunesBackupDlg again;
    QCOMPARE(years(again.model()), QStringList({u"2017"_s, u"2015"_s, u"2013"_s}));
    again.btnLoadClicked();
    QCOMPARE(user.boxes.last(), u"Need to select an iTunes Backup to continue."_s);
    QVERIFY(!again.selectedManifest());
}

// Volumes are "<letter> <free bytes> [ro|tmpfs|nfs]"; letter X names a missing root.
void TestBackupChoice::workDriveRoot_data()
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
    QTest::newRow("unknown free space ranks last") << QString() << QStringList{u"A -1"_s, u"B 5"_s} << u"B"_s;
    QTest::newRow("none writable: system root")
        << QString() << QStringList{u"X 100"_s, u"A 9 ro"_s} << u"/"_s;
}

void TestBackupChoice::workDriveRoot()
{
    QFETCH(QString, remembered);
    QFETCH(QStringList, volumes);
    QFETCH(QString, expected);
    Profile profile;
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

void TestBackupChoice::passcodeAnswers()
{
    Profile profile;
    QTemporaryDir dir;
    fixtures::EncryptedBackupFixture good(dir.filePath(u"good"_s), "s3cret");
    QCOMPARE(good.write(), QString());
    BackupManifest manifest(good.folder());
    manifest.loadManifestPlist();
    ModalUser user;
    PasscodeDlg dialog(&manifest);
    auto *field = dialog.findChild<QLineEdit *>(u"txtPasscode"_s);
    auto *ok = dialog.findChild<QPushButton *>(u"btnOK"_s);
    QCOMPARE(field->echoMode(), QLineEdit::Password);

    ok->click();
    QCOMPARE(user.boxes, QStringList{u"Password is required."_s});
    field->setText(u"wrong"_s);
    ok->click();
    QCOMPARE(user.boxes.last(), u"Invalid password."_s);
    QCOMPARE(field->text(), QString());
    QVERIFY(!manifest.isUnlocked());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    field->setText(u"s3cret"_s);
    ok->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(manifest.isUnlocked());

    fixtures::BackupFixture damaged(dir.filePath(u"damaged"_s));
    damaged.keyBag = "garbage";
    QCOMPARE(damaged.write(), QString());
    BackupManifest broken(damaged.folder());
    broken.loadManifestPlist();
    PasscodeDlg second(&broken);
    second.setResult(QDialog::Accepted);
    second.findChild<QLineEdit *>(u"txtPasscode"_s)->setText(u"s3cret"_s);
    second.findChild<QPushButton *>(u"btnOK"_s)->click();
    QCOMPARE(user.boxes.size(), 3);
    QCOMPARE(user.icons.last(), QMessageBox::Critical);
    QCOMPARE(second.result(), int(QDialog::Rejected));
}

QTEST_MAIN(TestBackupChoice)
#include "tst_backupchoice.moc"

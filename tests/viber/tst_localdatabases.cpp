#include "support/TestSupport.h"
#include "viber/LocalDatabases.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using NameCheck = LocalDatabases::NameCheck;

Q_DECLARE_METATYPE(LocalDatabases::NameCheck)

class TestLocalDatabases : public QObject
{
    Q_OBJECT

private slots:
    void nameRule_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("name");
        QTest::addColumn<NameCheck>("check");
        QTest::newRow("blanks around are dropped")
            << u"  Work 2024 \t"_s << u"Work 2024"_s << NameCheck::Valid;
        QTest::newRow("blanks only") << u" \t "_s << QString() << NameCheck::Empty;
        QTest::newRow("unicode, dots inside") << u"Семья.b 😀"_s << u"Семья.b 😀"_s << NameCheck::Valid;
        for (const QChar bad : u"/\\:*?\"<>|\n\r\t"_s) {
            const QString name = u'a' + bad + u'b';
            QTest::addRow("contains U+%04X", bad.unicode()) << name << name << NameCheck::Invalid;
        }
        // These name the databases folder itself or its parent.
        QTest::newRow("dot") << u"."_s << u"."_s << NameCheck::Invalid;
        QTest::newRow("dot dot") << u" .. "_s << u".."_s << NameCheck::Invalid;
    }
    void nameRule()
    {
        QFETCH(QString, typed);
        QFETCH(QString, name);
        QCOMPARE(LocalDatabases::normalizedName(typed), name);
        QTEST(LocalDatabases::checkName(name), "check");
    }
    void foldersWithAStoreAreDatabases()
    {
        const QString store = QString::fromLatin1(LocalDatabases::kStoreFileName);
        for (const QString &name : {u"beta"_s, u"Alpha"_s})
            QVERIFY(touch(name + u'/' + store));
        QVERIFY(parent().mkpath(u"no store/Documents"_s) && parent().mkpath(u"store a folder/"_s + store));
        QVERIFY(touch(u"file"_s));
        // Opening a folder creates its store, and so makes it a database.
        const QString gamma = parent().filePath(u"gamma"_s);
        QVERIFY(QDir().mkpath(gamma + u"/Documents"_s) && !LocalDatabases::isDatabaseFolder(gamma));
        QVERIFY(LocalDatabases::load(gamma)->messages.isEmpty());
        const QStringList names = LocalDatabases::names(parent());
        QCOMPARE(names, QStringList({u"Alpha"_s, u"beta"_s, u"gamma"_s}));
        QVERIFY(!LocalDatabases::isDatabaseFolder(QString()));
        // A name typed in another letter case is the existing database.
        QCOMPARE(LocalDatabases::existingName(names, u"GAMMA"_s), u"gamma"_s);
        QCOMPARE(LocalDatabases::existingName(names, u"beta2"_s), QString());
    }
    void removeDeletesOnlyItsOwnFolder()
    {
        QVERIFY(touch(u"Doomed/Documents/Attachments/p.jpg"_s));
        QVERIFY(parent().mkpath(u"Other"_s));
        QString error;
        QVERIFY(LocalDatabases::remove(parent(), u"Doomed"_s, &error) && error.isEmpty());
        QVERIFY(!parent().exists(u"Doomed"_s));
        // A name that would reach the databases folder itself or its parent removes nothing.
        for (const QString &bad : {u".."_s, u"."_s, u"Other/.."_s}) {
            QVERIFY2(!LocalDatabases::remove(parent(), bad, &error), qPrintable(bad));
            QVERIFY(!error.isEmpty());
        }
        QVERIFY(parent().exists(u"Other"_s));
    }

private:
    QTemporaryDir m_dir; // the databases folder; each test uses names of its own
    QDir parent() const { return QDir(m_dir.path()); }
    bool touch(const QString &relative) const
    {
        return testsupport::writeFile(parent().filePath(relative), {});
    }
};

QTEST_GUILESS_MAIN(TestLocalDatabases)
#include "tst_localdatabases.moc"

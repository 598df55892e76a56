#include "support/StoreFixtures.h"

#include "viber/IOSViberDb.h"
#include "viber/ViberMsgMerger.h"

#include <QTemporaryDir>
#include <QTest>

#include <limits>

using namespace Qt::StringLiterals;
using fixtures::StoreLayout;

Q_DECLARE_METATYPE(fixtures::StoreLayout)

namespace {

// A store of a layout to merge into, and a run as the copy and the transfer make it:
// chat by chat, in one transaction.
struct Target
{
    explicit Target(StoreLayout layout)
    {
        if (layout == StoreLayout::Phone)
            fixtures::StoreWriter(dir.path(), layout).finish();
        else
            QDir(dir.path()).mkpath(u"Documents"_s);
    }

    ViberMsgMerger merge(const QList<_ViberMsg *> &messages) { return fixtures::mergeAll(db, messages); }
    QStringList rows() const { return fixtures::storeRows(db.fullPath()); }

    QTemporaryDir dir;
    IOSViberDb db{QDir(dir.path()), QString::fromLatin1(fixtures::kStoreFileName)};
};

QString counts(const ViberMsgMerger &m)
{
    return u"%1 new, %2 present, %3 skipped"_s.arg(m.inserted()).arg(m.present()).arg(m.skipped());
}

} // namespace

class TestViberMsgMerger : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<StoreLayout>("source");
        QTest::addColumn<StoreLayout>("target");
        for (const StoreLayout source : {StoreLayout::Phone, StoreLayout::Template})
            for (const StoreLayout target : {StoreLayout::Template, StoreLayout::Phone})
                QTest::addRow("%s into %s", source == StoreLayout::Phone ? "phone" : "template",
                              target == StoreLayout::Phone ? "phone" : "template")
                    << source << target;
    }
    void roundTrip()
    {
        QFETCH(StoreLayout, source);
        QFETCH(StoreLayout, target);
        QTemporaryDir src;
        fixtures::writeStore(fixtures::sampleStore(), src.path(), source);
        const ViberDataPtr original =
            IOSViberDb(QDir(src.path()), QString::fromLatin1(fixtures::kStoreFileName)).load();
        const QList<_ViberMsg *> all = original->messages.values();
        Target t(target);
        QCOMPARE(counts(t.merge(all)), u"%1 new, 0 present, 0 skipped"_s.arg(all.size()));
        const QStringList afterFirst = t.rows();

        const auto detail =
            target == StoreLayout::Phone ? fixtures::Detail::WithoutNames : fixtures::Detail::Content;
        const ViberDataPtr copy = t.db.load();
        const QStringList expected = fixtures::messageContent(*original, detail);
        QVERIFY(expected.filter(u" call "_s).size() == 7 &&
                !expected.filter(u"G-FRIENDS 'Friends'"_s).isEmpty());
        QCOMPARE(fixtures::messageContent(*copy, detail), expected);
        // Chats without messages are not made by a merge.
        for (const _ViberChat *c : std::as_const(copy->chats))
            QVERIFY(!c->messages.isEmpty());

        // The second run finds everything present and writes nothing.
        QCOMPARE(counts(t.merge(all)), u"0 new, %1 present, 0 skipped"_s.arg(all.size()));
        QCOMPARE(t.rows(), afterFirst);
    }
    void oddRecordsAreMergedOnce()
    {
        fixtures::Records r;
        // People without a number match nobody in the store: each keeps their own chat,
        // and a repeated run leaves no chat or row of its own for them.
        for (const QString &name : {u"Nobody One"_s, u"Nobody Two"_s}) {
            _ViberPerson &nobody = r.person(QString(), name);
            r.message(r.chat({&nobody}), &nobody, ViberMsgStateReceived, name, 7e8, r.messages().size() + 1);
        }
        // Dates far off, or none.
        _ViberPerson &cy = r.person(u"+333"_s);
        _ViberChat &cyChat = r.chat({&cy});
        const double inf = std::numeric_limits<double>::infinity();
        qint64 token = 100;
        for (double date :
             {inf, -inf, 9.3e18, -9.3e18, 1e300, std::numeric_limits<double>::quiet_NaN(), -0.5}) {
            r.message(cyChat, &cy, ViberMsgStateReceived, u"m"_s, date, ++token);
            r.call(cyChat, cy, ViberCallTypeOutgoing, ++token, date);
        }
        // Not writable: skipped, and the group made for it goes again.
        _ViberPerson &ann = r.person(u"+111"_s, u"Ann"_s);
        r.message(r.chat({&ann}, u"G1"_s, u"Group"_s), nullptr, ViberMsgStateReceived, u"who?"_s, 7e8, 99);
        const qint64 writable = r.messages().size() - 1;

        Target t(StoreLayout::Template);
        QCOMPARE(counts(t.merge(r.messages())), u"%1 new, 0 present, 1 skipped"_s.arg(writable));
        const ViberDataPtr copy = t.db.load();
        QCOMPARE(copy->messages.size(), writable);
        QCOMPARE(copy->chats.size(), 3);
        int nobodies = 0;
        for (const _ViberMsg *m : std::as_const(copy->messages))
            if (m->person && m->person->phone.isEmpty() && ++nobodies)
                QVERIFY(m->person->name == m->text && m->chat->messages.size() == 1 &&
                        m->chat->participants.size() == 1);
        QCOMPARE(nobodies, 2);

        const QStringList rows = t.rows();
        QCOMPARE(counts(t.merge(r.messages())), u"0 new, %1 present, 1 skipped"_s.arg(writable));
        QCOMPARE(t.rows(), rows);
    }
};

QTEST_GUILESS_MAIN(TestViberMsgMerger)
#include "tst_vibermsgmerger.moc"

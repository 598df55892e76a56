#include "support/MessageFixtures.h"
#include "ui/AbsTreeItemModel.h"
#include "ui/ItemModelMain.h"
#include "ui/ItemModelSms.h"

#include <QAbstractItemModelTester>
#include <QImage>
#include <QPixmap>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;
using testsupport::MessageFixture;

namespace {

const QDateTime kMorning(QDate(2024, 3, 5), QTime(9, 30));

QImage decoration(const QAbstractItemModel &model, const QModelIndex &index)
{
    return model.data(index, Qt::DecorationRole).value<QPixmap>().toImage();
}

// A resource picture as the models hand it out: 18 pixels wide, through a pixmap.
QImage resource(const char *name)
{
    const QImage image(u":/res/%1.png"_s.arg(QLatin1String(name)));
    return QPixmap::fromImage(image.scaledToWidth(18, Qt::SmoothTransformation)).toImage();
}

IOSDeviceDesc device(const QString &name, void *handle)
{
    return {name, {}, {}, {}, {}, {}, handle};
}

} // namespace

class TestItemModel : public QObject
{
    Q_OBJECT

private slots:
    void indexesStayRightAfterRemovals();
    void sourcesAndChats();
    void chatPictures();
    void messageList();
};

void TestItemModel::indexesStayRightAfterRemovals()
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

void TestItemModel::sourcesAndChats()
{
    ItemModelMain model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    MessageFixture f;
    _ViberPerson *ann = f.addPerson(u"Ann"_s, u"+1"_s);
    _ViberPerson *bob = f.addPerson(u"Bob"_s, u"+2"_s);
    f.addChat(QString(), {ann}, 10);
    f.addChat(QString(), {bob}, 30);
    f.addChat(u"g"_s, {ann, bob}, 20)->name = u"Team"_s;
    f.addChat(QString(), {bob}, 20); // same date: the id decides
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
        QCOMPARE(titles, QStringList({u"Bob"_s, u"Team"_s, u"Bob"_s, u"Ann"_s}));
    }
    // What an action on a selected chat works on: its own source.
    QCOMPARE(ItemModelMain::sourceOf(db->children.first()), db);
    QVERIFY(!ItemModelMain::sourceOf(model.rootLocalDb()));
    QCOMPARE(model.countNodes(nullptr, ItemNodeChatSession), 4);
    QCOMPARE(model.countNodes(model.rootDevice(), ItemNodeIOSDevice), 2);
    // A source goes with its chats.
    model.removeNode(db);
    QCOMPARE(model.countNodes(nullptr, ItemNodeChatSession), 0);
}

void TestItemModel::chatPictures()
{
    // A JPEG; PNG content under a .jpg name, as some contact pictures are; not a
    // picture at all; and a file that is gone.
    QTemporaryDir dir;
    QImage wide(40, 10, QImage::Format_RGB32), half(40, 20, QImage::Format_RGB32);
    wide.fill(Qt::red);
    half.fill(Qt::blue);
    QVERIFY(wide.save(dir.filePath(u"0.jpg"_s), "JPG") && half.save(dir.filePath(u"1.jpg"_s), "PNG"));
    QFile broken(dir.filePath(u"2.jpg"_s));
    QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write("not a picture") > 0);
    broken.close();
    MessageFixture f;
    for (int i = 0; i < 4; ++i) {
        _ViberPerson *p = f.addPerson(QString::number(i), QString());
        p->contactIconPath = dir.filePath(u"%1.jpg"_s.arg(i));
        f.addChat(QString(), {p}, 10 - i);
    }
    f.addChat(QString(), f.data->persons.values().mid(0, 2), 2); // two participants, no group id

    ItemModelMain model;
    _LocalDbItemNode *db = model.addLocalDbNode(u"db"_s);
    db->data = f.data;
    model.setChats(db);
    QList<QImage> pictures;
    for (auto *node : db->children)
        pictures << decoration(model, model.indexOf(node));
    QCOMPARE(std::pair(pictures.at(0).size(), pictures.at(1).size()), std::pair(QSize(18, 5), QSize(18, 9)));
    QCOMPARE(pictures.mid(2), QList<QImage>({resource("contact"), resource("contact"), resource("group")}));
}

void TestItemModel::messageList()
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
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    model.setMessages(f.messages());
    QCOMPARE(model.rowCount(), 8);
    QVERIFY(!model.index(8, 0).isValid() && !model.index(0, 4).isValid() && !model.message(8));
    // Flag and contact of each row: who a message is from must not be mixed up.
    // A group is named by its title, the sender in front of it.
    QStringList rows;
    for (int row = 0; row < 8; ++row)
        rows << model.data(model.index(row, 1)).toString() + u'|' +
                    model.data(model.index(row, 2)).toString();
    QCOMPARE(rows, QStringList({u"From|Ann(+491)"_s, u"To|Ann(+491)"_s, u"|<System>"_s, u"|<Call>"_s,
                                u"From|Bob(+492) in <b>Friends</b>"_s, u"To|<b>Friends</b>"_s, u"From|"_s,
                                u"|<Call>"_s}));
    QCOMPARE(model.data(model.index(4, 3)).toString(), u"yo"_s);
    const QImage in = resource("icon_sms-receive"), out = resource("icon_sms-sent");
    for (const auto &[row, icon] : {std::pair(0, in), std::pair(1, out), std::pair(3, out), std::pair(7, in)})
        QCOMPARE(decoration(model, model.index(row, 0)), icon);
    // Tool tips show store text as text.
    QCOMPARE(model.data(model.index(5, 2), Qt::ToolTipRole).toString(),
             u"<p>&lt;b&gt;Friends&lt;/b&gt;</p>"_s);

    model.clear();
    QCOMPARE(resets.size(), 2);
    QCOMPARE(model.rowCount(), 0);
}

QTEST_MAIN(TestItemModel)
#include "tst_itemmodel.moc"

#include "ui/AbsTreeItemModel.h"
#include "ui/ItemModelMain.h"
#include "ui/ItemModelSms.h"

#include <QAbstractItemModelTester>
#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QTemporaryDir>
#include <QtTest>

// Records made in code; they belong to the data and die with it.
struct Records
{
    ViberDataPtr data = std::make_shared<ViberData>();
    qint64 nextId = 1;

    _ViberPerson *person(const QString &name, const QString &phone)
    {
        auto *p = new _ViberPerson;
        p->id = nextId++;
        p->name = name;
        p->phone = phone;
        data->persons.insert(p->id, p);
        return p;
    }
    _ViberChat *chat(const QList<_ViberPerson *> &participants, const QString &groupId = QString(),
                     double date = 0)
    {
        auto *c = new _ViberChat;
        c->id = nextId++;
        c->groupId = groupId;
        c->date = date;
        for (_ViberPerson *p : participants)
            c->participants.insert(p->id, p);
        data->chats.insert(c->id, c);
        return c;
    }
    _ViberMsg *message(_ViberChat *chat, ViberMsgType type, ViberMsgState state, const QString &text,
                       _ViberPerson *from = nullptr)
    {
        auto *m = new _ViberMsg;
        m->id = nextId++;
        m->chat = chat;
        m->type = type;
        m->state = state;
        m->text = text;
        m->person = from;
        m->date = 700000000 + double(m->id);
        if (chat)
            chat->messages.append(m);
        data->messages.insert(m->id, m);
        return m;
    }
};

class TestItemModel : public QObject
{
    Q_OBJECT

private slots:
    void treeIndexesStayRightAfterRemovals();
    void collectAndCount();
    void chatsMostRecentFirstAndRebuilt();
    void chatPictures();
    void removingDeviceReleasesItsData();
    void findsSourcesByNameAndHandle();
    void messageColumns();
    void messageRolesAndReset();

private:
    static QImage expected(const QString &resource)
    {
        // Through a pixmap, as the models hand pictures out.
        return QPixmap::fromImage(QImage(resource).scaledToWidth(18, Qt::SmoothTransformation))
            .toImage()
            .convertToFormat(QImage::Format_ARGB32);
    }
    static QImage decoration(const QAbstractItemModel &model, const QModelIndex &index)
    {
        return model.data(index, Qt::DecorationRole)
            .value<QPixmap>()
            .toImage()
            .convertToFormat(QImage::Format_ARGB32);
    }
};

void TestItemModel::treeIndexesStayRightAfterRemovals()
{
    ItemModelMain model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    _LocalDbItemNode *a = model.addLocalDbNode(QStringLiteral("a"));
    _LocalDbItemNode *b = model.addLocalDbNode(QStringLiteral("b"));
    _LocalDbItemNode *c = model.addLocalDbNode(QStringLiteral("c"));
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.rowCount(model.indexOf(model.rootLocalDb())), 3);
    // Index made (and row cached) for c while it is row 2.
    const QModelIndex cIndex = model.index(2, 0, model.indexOf(model.rootLocalDb()));
    QCOMPARE(model.nodeOf(cIndex), c);
    QCOMPARE(c->row, 2);
    QCOMPARE(model.parent(cIndex), model.indexOf(model.rootLocalDb()));

    model.removeNode(a);
    // c moved up: its index must say so, not the row cached before.
    QCOMPARE(model.indexOf(c).row(), 1);
    QCOMPARE(model.index(1, 0, model.indexOf(model.rootLocalDb())), model.indexOf(c));
    QCOMPARE(model.indexOf(b).row(), 0);
    QVERIFY(!model.index(2, 0, model.indexOf(model.rootLocalDb())).isValid());
    QVERIFY(!model.index(0, 1, model.indexOf(model.rootLocalDb())).isValid()); // one column only
    QVERIFY(!model.parent(model.indexOf(model.rootLocalDb())).isValid());
    QCOMPARE(model.data(model.indexOf(model.rootDevice())).toString(), QStringLiteral("Devices"));
    QCOMPARE(model.data(model.indexOf(model.rootLocalDb()), Qt::ToolTipRole).toString(),
             QStringLiteral("Local Databases"));
    QCOMPARE(model.data(model.indexOf(c), Qt::SizeHintRole).toSize().height(), 25);
    QVERIFY(!model.headerData(0, Qt::Horizontal).isValid());
}

void TestItemModel::collectAndCount()
{
    ItemModelMain model;
    Records r;
    _ViberPerson *ann = r.person(QStringLiteral("Ann"), QStringLiteral("+1"));
    r.chat({ann});
    r.chat({ann}, QStringLiteral("g"));
    _IOSDeviceItemNode *phone =
        model.addDeviceNode({QStringLiteral("Phone"), {}, {}, {}, QStringLiteral("u"), {}, nullptr});
    phone->data = r.data;
    model.setChats(phone);
    _LocalDbItemNode *db = model.addLocalDbNode(QStringLiteral("db"));

    const QList<AbsTreeItemModel::_ItemNode *> all = model.collectNodes(nullptr);
    QCOMPARE(all.size(), 6);
    // Parents before children, depth first.
    QCOMPARE(all.at(0), model.rootDevice());
    QCOMPARE(all.at(1), static_cast<AbsTreeItemModel::_ItemNode *>(phone));
    QCOMPARE(all.at(2)->kind, ItemNodeChatSession);
    QCOMPARE(all.at(4), model.rootLocalDb());
    QCOMPARE(all.at(5), static_cast<AbsTreeItemModel::_ItemNode *>(db));
    QCOMPARE(model.countNodes(model.rootDevice(), ItemNodeIOSDevice), 1);
    QCOMPARE(model.countNodes(nullptr, ItemNodeChatSession), 2);
    QCOMPARE(model.countNodes(model.rootLocalDb(), ItemNodeChatSession), 0);

    model.removeChildren(phone);
    QVERIFY(phone->children.isEmpty());
    QCOMPARE(model.countNodes(nullptr, ItemNodeChatSession), 0);
}

void TestItemModel::chatsMostRecentFirstAndRebuilt()
{
    ItemModelMain model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    Records r;
    _ViberPerson *ann = r.person(QStringLiteral("Ann"), QStringLiteral("+1"));
    _ViberPerson *bob = r.person(QStringLiteral("Bob"), QStringLiteral("+2"));
    r.chat({ann}, QString(), 10);
    r.chat({bob}, QString(), 30);
    _ViberChat *group = r.chat({ann, bob}, QStringLiteral("g"), 20);
    group->name = QStringLiteral("Team");
    _LocalDbItemNode *db = model.addLocalDbNode(QStringLiteral("db"));
    db->data = r.data;
    model.setChats(db);
    QStringList texts;
    for (auto *node : db->children)
        texts << node->text;
    QCOMPARE(texts, QStringList({QStringLiteral("Bob"), QStringLiteral("Team"), QStringLiteral("Ann")}));
    QCOMPARE(ItemModelMain::sourceOf(db->children.first()), static_cast<_AbsDBItemNode *>(db));
    QVERIFY(!ItemModelMain::sourceOf(model.rootLocalDb()));

    // A reload replaces the chat nodes rather than adding to them.
    model.setChats(db);
    QCOMPARE(db->children.size(), 3);
}

void TestItemModel::chatPictures()
{
    QTemporaryDir dir;
    QImage red(40, 40, QImage::Format_RGB32);
    red.fill(Qt::red);
    const QString jpeg = dir.filePath(QStringLiteral("ann.jpg"));
    QVERIFY(red.save(jpeg, "JPG"));
    // PNG content under a .jpg name, as some contact pictures are.
    QImage blue(40, 20, QImage::Format_RGB32);
    blue.fill(Qt::blue);
    const QString pngAsJpg = dir.filePath(QStringLiteral("bob.jpg"));
    QVERIFY(blue.save(pngAsJpg, "PNG"));
    const QString broken = dir.filePath(QStringLiteral("broken.jpg"));
    QFile file(broken);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not a picture");
    file.close();

    Records r;
    _ViberPerson *ann = r.person(QStringLiteral("Ann"), QStringLiteral("+1"));
    ann->contactIconPath = jpeg;
    _ViberPerson *bob = r.person(QStringLiteral("Bob"), QStringLiteral("+2"));
    bob->contactIconPath = pngAsJpg;
    _ViberPerson *cleo = r.person(QStringLiteral("Cleo"), QStringLiteral("+3"));
    cleo->contactIconPath = broken;
    _ViberPerson *dan = r.person(QStringLiteral("Dan"), QStringLiteral("+4"));
    dan->contactIconPath = dir.filePath(QStringLiteral("missing.jpg"));

    ItemModelMain model;
    _LocalDbItemNode *db = model.addLocalDbNode(QStringLiteral("db"));
    db->data = r.data;
    r.chat({ann}, QString(), 6);
    r.chat({bob}, QString(), 5);
    r.chat({cleo}, QString(), 4);
    r.chat({dan}, QString(), 3);
    r.chat({ann, bob}, QString(), 2); // two participants, no group id
    r.chat({}, QString(), 1);
    model.setChats(db);
    auto picture = [&](int row) { return decoration(model, model.indexOf(db->children.at(row))); };

    const QImage annPicture = picture(0);
    QCOMPARE(annPicture.width(), 18);
    QVERIFY(qRed(annPicture.pixel(9, 9)) > 200 && qBlue(annPicture.pixel(9, 9)) < 60);
    const QImage bobPicture = picture(1);
    QCOMPARE(bobPicture.size(), QSize(18, 9));
    QVERIFY(qBlue(bobPicture.pixel(9, 4)) > 200);
    const QImage contact = expected(QStringLiteral(":/res/contact.png"));
    QVERIFY(!contact.isNull());
    QCOMPARE(picture(2), contact);
    QCOMPARE(picture(3), contact);
    const QImage group = expected(QStringLiteral(":/res/group.png"));
    QCOMPARE(picture(4), group);
    QCOMPARE(picture(5), group);
    QCOMPARE(decoration(model, model.indexOf(db)), expected(QStringLiteral(":/res/database.png")));
    QCOMPARE(decoration(model, model.indexOf(model.rootDevice())),
             expected(QStringLiteral(":/res/devices.png")));
}

void TestItemModel::removingDeviceReleasesItsData()
{
    ItemModelMain model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    std::weak_ptr<ViberData> watched;
    ViberDataPtr heldByView;
    {
        Records r;
        _ViberPerson *ann = r.person(QStringLiteral("Ann"), QStringLiteral("+1"));
        r.chat({ann});
        watched = r.data;
        IOSDeviceDesc desc;
        desc.name = QStringLiteral("Phone");
        _IOSDeviceItemNode *first = model.addDeviceNode(desc);
        first->data = r.data;
        model.setChats(first);
        _IOSDeviceItemNode *second = model.addDeviceNode(desc);
        second->data = r.data;
        heldByView = r.data;
        QCOMPARE(decoration(model, model.indexOf(first)), expected(QStringLiteral(":/res/iphone.png")));
    }
    _IOSDeviceItemNode *first = model.deviceNodes().first();
    model.removeNode(first);
    model.removeNode(model.deviceNodes().first());
    QCOMPARE(model.deviceNodes().size(), 0);
    QCOMPARE(model.countNodes(nullptr, ItemNodeChatSession), 0);
    // A view still holds the records: they live on until it lets go.
    QVERIFY(!watched.expired());
    heldByView.reset();
    QVERIFY(watched.expired());
}

void TestItemModel::findsSourcesByNameAndHandle()
{
    ItemModelMain model;
    model.addLocalDbNode(QStringLiteral("Work"));
    QVERIFY(model.findLocalDb(QStringLiteral("wORK")));
    QVERIFY(!model.findLocalDb(QStringLiteral("Work2")));
    int token = 0;
    IOSDeviceDesc desc;
    desc.name = QStringLiteral("Phone");
    desc.handle = &token;
    _IOSDeviceItemNode *node = model.addDeviceNode(desc);
    QCOMPARE(model.findDevice(&token), node);
    QVERIFY(!model.findDevice(nullptr));
    QCOMPARE(node->desc.name, QStringLiteral("Phone"));
    QVERIFY(node->data && node->data->messages.isEmpty());
}

void TestItemModel::messageColumns()
{
    Records r;
    _ViberPerson *ann = r.person(QStringLiteral("Ann"), QStringLiteral("+491"));
    _ViberPerson *bob = r.person(QStringLiteral("Bob"), QStringLiteral("+492"));
    _ViberChat *single = r.chat({ann});
    _ViberChat *group = r.chat({ann, bob}, QStringLiteral("g1"));
    _ViberMsg *in = r.message(single, ViberMsgTypeText, ViberMsgStateReceived, QStringLiteral("hello"));
    _ViberMsg *out = r.message(single, ViberMsgTypeText, ViberMsgStateDelivered, QStringLiteral("hi"));
    _ViberMsg *system = r.message(group, ViberMsgTypeSystem, ViberMsgStateReceived, QString());
    system->systemKind = ViberSystemKindNameChanged;
    _ViberMsg *call = r.message(single, ViberMsgTypeCall, ViberMsgStateDelivered, QString());
    _ViberMsg *fromBob = r.message(group, ViberMsgTypeText, ViberMsgStateReceived, QStringLiteral("yo"), bob);
    _ViberMsg *groupNoSender =
        r.message(group, ViberMsgTypeText, ViberMsgStateDelivered, QStringLiteral("me"));
    _ViberMsg *noChat = r.message(nullptr, ViberMsgTypeText, ViberMsgStateReceived, QStringLiteral("lost"));

    QCOMPARE(ItemModelSms::flagText(in), QStringLiteral("From"));
    QCOMPARE(ItemModelSms::flagText(out), QStringLiteral("To"));
    QCOMPARE(ItemModelSms::flagText(system), QString());
    QCOMPARE(ItemModelSms::contactText(system), QStringLiteral("<System>"));
    QCOMPARE(ItemModelSms::flagText(call), QString());
    QCOMPARE(ItemModelSms::contactText(call), QStringLiteral("<Call>"));
    QCOMPARE(ItemModelSms::contactText(in), personLabel(ann));
    QCOMPARE(ItemModelSms::contactText(fromBob), personLabel(bob));
    QVERIFY(ItemModelSms::contactText(groupNoSender).contains(personLabel(ann)));
    QVERIFY(ItemModelSms::contactText(groupNoSender).contains(personLabel(bob)));
    QCOMPARE(ItemModelSms::contactText(noChat), QString());
    QCOMPARE(ItemModelSms::dateText(in),
             QLocale::system().toString(storeTimeToDateTime(in->date), QLocale::ShortFormat));
}

void TestItemModel::messageRolesAndReset()
{
    Records r;
    _ViberPerson *ann = r.person(QStringLiteral("Ann"), QStringLiteral("+491"));
    _ViberChat *single = r.chat({ann});
    _ViberMsg *in = r.message(single, ViberMsgTypeText, ViberMsgStateReceived, QStringLiteral("hello"));
    _ViberMsg *out = r.message(single, ViberMsgTypeText, ViberMsgStateDelivered, QStringLiteral("hi"));

    ItemModelSms model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    model.setMessages({in, out});
    QCOMPARE(resets.size(), 1);
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.columnCount(), 4);
    QCOMPARE(model.rowCount(model.index(0, 0)), 0);
    QVERIFY(!model.parent(model.index(1, 3)).isValid());
    QVERIFY(!model.index(2, 0).isValid());
    QStringList headers;
    for (int c = 0; c < 4; ++c)
        headers << model.headerData(c, Qt::Horizontal).toString();
    QCOMPARE(headers, QStringList({QStringLiteral("Date"), QStringLiteral("Flag"), QStringLiteral("Contact"),
                                   QStringLiteral("Content")}));
    QCOMPARE(model.data(model.index(0, 3)).toString(), QStringLiteral("hello"));
    QCOMPARE(model.data(model.index(1, 1), Qt::ToolTipRole).toString(), QStringLiteral("To"));
    QCOMPARE(model.data(model.index(0, 2), Qt::BackgroundRole).value<QBrush>().color(),
             QColor(255, 255, 255));
    QCOMPARE(model.data(model.index(1, 0), Qt::BackgroundRole).value<QBrush>().color(),
             QColor(245, 255, 226));
    QCOMPARE(model.data(model.index(0, 0), Qt::SizeHintRole).toSize().height(), 23);
    QCOMPARE(decoration(model, model.index(0, 0)), expected(QStringLiteral(":/res/icon_sms-receive.png")));
    QCOMPARE(decoration(model, model.index(1, 0)), expected(QStringLiteral(":/res/icon_sms-sent.png")));
    QVERIFY(!model.data(model.index(1, 1), Qt::DecorationRole).isValid());
    QVERIFY(!model.data(model.index(0, 0), Qt::EditRole).isValid());

    model.clear();
    QCOMPARE(resets.size(), 2);
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(!model.message(0));
}

QTEST_MAIN(TestItemModel)
#include "tst_itemmodel.moc"

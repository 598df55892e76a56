#include "DemoArchive.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>

#include <stdexcept>

namespace {

class Builder
{
public:
    Builder(const QString &folder) : m_folder(folder), m_data(std::make_shared<ViberData>()) {}

    _ViberPerson *person(const QString &name, const QString &phone)
    {
        auto *p = add(m_data->persons);
        p->name = name;
        p->phone = phone;
        return p;
    }
    _ViberChat *chat(const QList<_ViberPerson *> &members, const QString &groupId = QString(),
                     const QString &name = QString())
    {
        auto *c = add(m_data->chats);
        c->groupId = groupId;
        c->name = name;
        for (_ViberPerson *p : members)
            c->participants.insert(p->id, p);
        return c;
    }
    // A message hours before now, received from someone or (from null) sent.
    _ViberMsg *message(_ViberChat *chat, _ViberPerson *from, double hoursAgo, const QString &text,
                       ViberMsgType type = ViberMsgTypeText)
    {
        auto *m = add(m_data->messages);
        m->chat = chat;
        // A one-to-one message names the other party either way; one sent to a group nobody.
        m->person = from ? from : chat->groupId.isEmpty() ? chat->participants.cbegin().value() : nullptr;
        m->state = from ? ViberMsgStateReceived : ViberMsgStateDelivered;
        m->type = type;
        m->text = text;
        m->token = 7000000000000000000LL + m->id;
        m->seq = m->id;
        m->date = msecsToStoreTime(QDateTime::currentMSecsSinceEpoch() - qint64(hoursAgo * 3600000.0));
        m->stateDate = m->date + 2;
        chat->messages.append(m);
        chat->date = std::max(chat->date, m->date);
        return m;
    }
    _ViberAtta *attachment(_ViberMsg *msg, const QString &type, const QString &fileName, double duration = 0)
    {
        auto *a = add(m_data->attachments);
        a->type = type;
        a->fileName = fileName;
        a->seq = a->id;
        a->duration = duration;
        a->filePath = fileName.isEmpty() ? QString() : m_folder.filePath(fileName);
        a->message = msg;
        msg->attachment = a;
        return a;
    }
    void call(_ViberChat *chat, ViberCallType type, double hoursAgo, qint32 seconds)
    {
        auto *c = add(m_data->calls);
        c->type = type;
        c->duration = seconds;
        c->callToken = 9100000000LL + c->id;
        c->person = chat->participants.cbegin().value();
        _ViberMsg *m = message(chat, c->person, hoursAgo, QString(), ViberMsgTypeCall);
        m->state = type == ViberCallTypeOutgoing ? ViberMsgStateDelivered : ViberMsgStateReceived;
        c->date = m->date;
        m->call = c;
    }
    // A painted picture: sky, sun and hills, so that it looks like a photo in the list.
    QString picture(const QString &name, QSize size, QColor sky)
    {
        QImage image(size, QImage::Format_RGB32);
        image.fill(sky);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(QColor(255, 214, 64));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(size.width() * 0.7, size.height() * 0.3), size.height() * 0.12,
                      size.height() * 0.12);
        p.setBrush(QColor(60, 140, 70));
        p.drawEllipse(QRectF(-size.width() * 0.2, size.height() * 0.6, size.width() * 1.4, size.height()));
        p.end();
        const QString path = m_folder.filePath(name);
        if (!image.save(path, "JPG"))
            throw std::runtime_error((QStringLiteral("Could not write ") + path).toStdString());
        return path;
    }
    void file(const QString &name, const QByteArray &bytes)
    {
        QFile f(m_folder.filePath(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            throw std::runtime_error((QStringLiteral("Could not write ") + f.fileName()).toStdString());
    }

    ViberDataPtr data() const { return m_data; }

private:
    template <typename T> T *add(QHash<qint64, T *> &table)
    {
        auto *record = new T;
        record->id = table.size() + 1;
        table.insert(record->id, record);
        return record;
    }

    QDir m_folder;
    ViberDataPtr m_data;
};

} // namespace

ViberDataPtr DemoArchive::build(const QString &folder)
{
    Builder b(folder);
    _ViberPerson *ann = b.person(QStringLiteral("Ann Weber"), QStringLiteral("+4915100000001"));
    _ViberPerson *omar = b.person(QStringLiteral(u"عمر"), QStringLiteral("+971500000002"));
    _ViberPerson *dana = b.person(QStringLiteral(u"דנה"), QStringLiteral("+972500000003"));

    _ViberChat *withAnn = b.chat({ann});
    b.message(withAnn, ann, 50, QStringLiteral(u"Hi! Are we still on for the hike on Saturday? 🥾"));
    b.message(withAnn, nullptr, 49.5, QStringLiteral(u"Yes! I'll bring sandwiches 🥪 and the map."));
    _ViberMsg *view =
        b.message(withAnn, ann, 26, QStringLiteral(u"The view from the top 🌄"), ViberMsgTypePicture);
    _ViberAtta *photo = b.attachment(view, QStringLiteral("picture"), QStringLiteral("summit.jpg"));
    b.picture(QStringLiteral("summit.jpg"), QSize(1200, 800), QColor(120, 180, 230));
    photo->previewPath =
        b.picture(QStringLiteral("summit_preview.jpg"), QSize(300, 200), QColor(120, 180, 230));
    _ViberMsg *place = b.message(withAnn, nullptr, 25, QString(), ViberMsgTypeLocation);
    place->setPlace(47.4210, 10.9863, QStringLiteral("Zugspitze summit"));
    _ViberMsg *voice = b.message(withAnn, ann, 24, QString(), ViberMsgTypeAudio);
    b.attachment(voice, QStringLiteral("audio"), QStringLiteral("voice-note.m4a"), 14.5);
    b.file(QStringLiteral("voice-note.m4a"), QByteArray(2048, '\0'));
    b.call(withAnn, ViberCallTypeOutgoing, 23, 125);
    b.call(withAnn, ViberCallTypeMissed, 2, 0);

    _ViberChat *withOmar = b.chat({omar});
    b.message(withOmar, omar, 30, QStringLiteral(u"مرحبا! كيف حالك؟ 😊"));
    b.message(withOmar, nullptr, 29, QStringLiteral(u"بخير، شكراً! Here are the notes from the meeting."));
    _ViberMsg *notes = b.message(withOmar, nullptr, 28.9, QString(), ViberMsgTypeFile);
    _ViberAtta *doc = b.attachment(notes, QStringLiteral("file"), QStringLiteral("meeting-notes.txt"));
    b.file(doc->fileName, QByteArrayLiteral("Meeting notes\n- Budget approved\n- Next call on Monday\n"));
    doc->fileSize = 56;
    b.call(withOmar, ViberCallTypeIncoming, 28, 312);

    _ViberChat *family = b.chat({ann, omar, dana}, QStringLiteral("demo-family"),
                                QStringLiteral(u"Family 👨‍👩‍👧"));
    b.message(family, dana, 12, QStringLiteral(u"שלום לכולם! Dinner at ours on Sunday? 🍲"));
    b.message(family, ann, 11.5, QStringLiteral(u"Count me in 🙋‍♀️"));
    b.message(family, omar, 11, QStringLiteral(u"إن شاء الله، I'll bring dessert 🍰"));
    b.message(family, nullptr, 10, QStringLiteral(u"Perfect, see you all there ❤️"));
    return b.data();
}

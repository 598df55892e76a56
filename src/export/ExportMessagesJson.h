#pragma once

#include "StreamedFileExport.h"

#include <QHash>
#include <QJsonObject>

// Messages as JSON, one document per chat: the chat (id, title, group id,
// participants with names and phones) and its messages with every field of the
// records. A file holds one chat, or, as a list, one chat after another; each
// chat is put together and written when the next begins, so that memory holds
// one chat at a time. Messages must come chat by chat.
class ExportMessagesJson : public StreamedFileExport
{
public:
    ExportMessagesJson(const QString &filePath, bool list, ExportFile::Place place = ExportFile::Alone)
        : StreamedFileExport(filePath, false, place), m_list(list)
    {
    }

    void begin() override;
    void write(const _ViberMsg &msg) override;
    void finish() override;

    // A message as its chat's "messages" array holds it (for a look at one record).
    QJsonObject messageObject(const _ViberMsg &msg);
    // The local time of a store time in ISO 8601, with its offset from UTC.
    QString isoDate(double storeTime);

private:
    void flushChat();
    // Append the chat's and a message's object, laid out as the document holds them.
    static void layChat(QByteArray &out, const _ViberChat &chat);
    void layMessage(QByteArray &out, const _ViberMsg &msg);

    // object as the indented document writer lays it out depth levels deep, from its
    // opening brace to its closing one.
    static QByteArray nested(const QJsonObject &object, int depth);

    bool m_list;
    qint64 m_written = 0;
    const _ViberChat *m_chat = nullptr;
    // The chat's messages so far, laid out as its document's "messages" array holds them.
    QByteArray m_messages;
    QHash<qint64, int> m_offsets; // UTC offset of local time by quarter hour
};

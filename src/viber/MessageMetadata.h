#pragma once

#include "ViberData.h"

#include <QList>
#include <QString>
#include <QStringList>

// What current stores say about a message beside its text: the JSON of
// ZVIBERMESSAGE.ZMETADATA, kept in the record's extra columns. Only what is shown is
// taken out; the JSON itself stays in the record, so that nothing of it is lost on a
// copy. The JSON comes from the store: anything malformed or of another shape gives
// empty fields, never an error.
struct MessageMetadata
{
    struct Quote
    {
        QString name; // the quoted message's sender
        QString text;
        QString attachmentName;
        bool isEmpty() const { return name.isEmpty() && text.isEmpty() && attachmentName.isEmpty(); }
    };
    struct File
    {
        QString name;
        QString extension;
        QString contentType;
        qint64 size = 0;
        bool isEmpty() const
        {
            return name.isEmpty() && extension.isEmpty() && contentType.isEmpty() && size == 0;
        }
    };

    // Messages.ClientFlag of Viber Desktop: the sender changed the message after sending it.
    static constexpr qint64 kDesktopEditedFlag = 64;

    Quote quote;
    bool forwarded = false;
    bool edited = false;   // from the record's ClientFlag extra column
    QString forwardedFrom; // may be empty for a forward
    File file;
    QString pollQuestion;
    QStringList pollOptions;
    QString pinText;

    static MessageMetadata parse(const QString &json);
    // The record's ZMETADATA, parsed; empty for a record without.
    static MessageMetadata of(const _ViberMsg *msg);

    // The readable text of a "formatted" message, whose text is JSON of text items,
    // pictures and buttons: their texts, one per line. Text that is no such JSON is
    // returned as it is.
    static QString formattedText(const QString &text);
};

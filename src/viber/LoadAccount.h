#pragma once

#include <QCoreApplication>
#include <QMap>
#include <QString>
#include <QStringList>

#include <array>

// What one load found in its source: for each kind of record, the rows the source
// holds, the records read from them and the rows left out, each with its reason.
// A layout nobody here has seen must not lose rows unnoticed: held = read + left out
// for every kind, and whatever is left out is said.
class LoadAccount
{
    Q_DECLARE_TR_FUNCTIONS(LoadAccount)

public:
    enum Kind { Chats, People, Messages, SystemEvents, Attachments, Calls };
    static constexpr int kKinds = 6;

    struct Count
    {
        qint64 held = 0;
        qint64 read = 0;
        // Records made up for rows of other kinds (a chat for a call with no chat of
        // its own): read, but held by no row of this kind.
        qint64 madeUp = 0;
        QMap<QString, qint64> leftOut; // by reason
        qint64 leftOutTotal() const;
    };

    // The file or folder read, and what was found there, most general first
    // ("Viber iOS store", "participants as members with phone numbers", ...).
    QString source;
    QStringList layout;
    // What was done to the source before it could be read (an interrupted write finished).
    QStringList notes;

    void addHeld(Kind kind, qint64 n = 1) { m_counts[kind].held += n; }
    void addRead(Kind kind, qint64 n = 1) { m_counts[kind].read += n; }
    void addMadeUp(Kind kind, qint64 n = 1) { m_counts[kind].madeUp += n; }
    void leaveOut(Kind kind, const QString &reason, qint64 n = 1);
    // Counts a row as both held and read.
    void addHeldAndRead(Kind kind, qint64 n = 1)
    {
        addHeld(kind, n);
        addRead(kind, n);
    }

    const Count &count(Kind kind) const { return m_counts[kind]; }
    bool isEmpty() const;
    // Whether every row held was read or left out with a reason, and no record was
    // read that no row holds (beyond those made up).
    bool balances() const;
    // The kinds that do not balance, for a test's message.
    QStringList imbalances() const;
    qint64 leftOutTotal() const;

    // "Chats", "Messages", ... for the lines below.
    static QString kindName(Kind kind);
    // One line for each kind, as "messages: 4,355 in the store, 4,353 read, 2 left out:
    // 2 in no chat the store holds", for the log, the command line and the window.
    QStringList lines() const;
    // The layout as one line, then lines().
    QString text() const;
    // Writes text() to the log, the left-out lines as warnings.
    void log() const;

private:
    std::array<Count, kKinds> m_counts;
};

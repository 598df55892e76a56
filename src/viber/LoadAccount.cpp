#include "LoadAccount.h"

#include <QLocale>

namespace {

// Counts read as the texts around them do, whatever the machine's locale.
QString number(qint64 n)
{
    static const QLocale english(QLocale::English, QLocale::UnitedStates);
    return english.toString(n);
}

} // namespace

qint64 LoadAccount::Count::leftOutTotal() const
{
    qint64 total = 0;
    for (qint64 n : leftOut)
        total += n;
    return total;
}

void LoadAccount::leaveOut(Kind kind, const QString &reason, qint64 n)
{
    if (n <= 0)
        return;
    m_counts[kind].held += n;
    m_counts[kind].leftOut[reason] += n;
}

bool LoadAccount::isEmpty() const
{
    for (const Count &c : m_counts)
        if (c.held != 0 || c.read != 0)
            return false;
    return true;
}

bool LoadAccount::balances() const
{
    return imbalances().isEmpty();
}

QStringList LoadAccount::imbalances() const
{
    QStringList out;
    for (int k = 0; k < kKinds; ++k) {
        const Count &c = m_counts[k];
        if (c.held != c.read - c.madeUp + c.leftOutTotal())
            out << QStringLiteral("%1: held %2, read %3 (%4 made up), left out %5")
                       .arg(kindName(Kind(k)))
                       .arg(c.held)
                       .arg(c.read)
                       .arg(c.madeUp)
                       .arg(c.leftOutTotal());
    }
    return out;
}

qint64 LoadAccount::leftOutTotal() const
{
    qint64 total = 0;
    for (const Count &c : m_counts)
        total += c.leftOutTotal();
    return total;
}

QString LoadAccount::kindName(Kind kind)
{
    switch (kind) {
    case Chats:
        return tr("IDS_ACCOUNT_CHATS");
    case People:
        return tr("IDS_ACCOUNT_PEOPLE");
    case Messages:
        return tr("IDS_ACCOUNT_MESSAGES");
    case SystemEvents:
        return tr("IDS_ACCOUNT_SYSTEM_EVENTS");
    case Attachments:
        return tr("IDS_ACCOUNT_ATTACHMENTS");
    case Calls:
        return tr("IDS_ACCOUNT_CALLS");
    }
    return QString();
}

QStringList LoadAccount::lines() const
{
    QStringList out;
    for (int k = 0; k < kKinds; ++k) {
        const Count &c = m_counts[k];
        QString line =
            tr("IDS_ACCOUNT_LINE_%1_%2_%3").arg(kindName(Kind(k)), number(c.held), number(c.read - c.madeUp));
        if (c.madeUp > 0)
            line += tr("IDS_ACCOUNT_MADE_UP_%1").arg(number(c.madeUp));
        if (const qint64 left = c.leftOutTotal(); left > 0) {
            QStringList reasons;
            for (auto it = c.leftOut.cbegin(); it != c.leftOut.cend(); ++it)
                reasons << tr("IDS_ACCOUNT_REASON_%1_%2").arg(number(it.value()), it.key());
            line += tr("IDS_ACCOUNT_LEFT_OUT_%1_%2").arg(number(left), reasons.join(QStringLiteral("; ")));
        }
        out << line;
    }
    return out;
}

QString LoadAccount::text() const
{
    QStringList out;
    if (!source.isEmpty())
        out << source;
    if (!layout.isEmpty())
        out << tr("IDS_ACCOUNT_LAYOUT_%1").arg(layout.join(QStringLiteral(", ")));
    out << notes;
    out << lines();
    return out.join(QLatin1Char('\n'));
}

void LoadAccount::log() const
{
    qInfo("Read %s (%s)", qUtf8Printable(source), qUtf8Printable(layout.join(QStringLiteral(", "))));
    for (const QString &note : notes)
        qWarning("  %s", qUtf8Printable(note));
    const QStringList all = lines();
    for (int k = 0; k < kKinds; ++k) {
        if (m_counts[k].leftOutTotal() > 0)
            qWarning("  %s", qUtf8Printable(all.at(k)));
        else
            qInfo("  %s", qUtf8Printable(all.at(k)));
    }
}

#include "ExportMessagesTxt.h"

#include "MessageText.h"
#include "TimeText.h"

#include <QLocale>

void ExportMessagesTxt::begin()
{
    open();
    line(QStringLiteral("Date"), QStringLiteral("Flag"), QStringLiteral("Name"), QStringLiteral("Message"));
}

void ExportMessagesTxt::line(const QString &date, const QString &flag, const QString &name,
                             const QString &text)
{
    out() << qSetFieldWidth(30) << date << qSetFieldWidth(kFlagWidth) << flag << qSetFieldWidth(40) << name
          << qSetFieldWidth(0);
    // A group's long list of names fills its column: the text still starts apart from it.
    if (name.size() >= 40)
        out() << ' ';
    out() << text << '\n';
    checkWritten();
}

void ExportMessagesTxt::write(const _ViberMsg &msg)
{
    if (!msg.chat)
        return;
    if (msg.chat != m_chat) {
        // Rows of several chats are told apart by the chat's heading above its rows.
        m_chat = msg.chat;
        out() << '\n'
              << StreamedFileExport::tr("IDS_EXPORT_TXT_CHAT_%1").arg(MessageText::chatTitle(m_chat)) << '\n';
        checkWritten();
    }
    QString flag, name, text;
    if (msg.type == ViberMsgTypeCall) {
        if (!msg.call)
            return;
        flag = QStringLiteral("<Call>");
        // Named as the call log names it.
        if (const _ViberPerson *party = MessageText::callParty(&msg))
            name = personLabel(party);
        text = MessageText::callText(msg.call);
    } else if (msg.type == ViberMsgTypeSystem) {
        flag = QStringLiteral("<System>");
        text = MessageText::systemText(&msg);
    } else {
        flag = isOutgoing(&msg) ? QStringLiteral("To") : QStringLiteral("From");
        // A chat without participants (My Notes) is named by its title.
        if (msg.chat->participants.size() > 1 && msg.person)
            name = personLabel(msg.person);
        else if (msg.chat->participants.isEmpty())
            name = MessageText::chatTitle(msg.chat);
        else
            name = MessageText::participantLabels(msg.chat);
        text = MessageText::plainText(&msg);
    }
    // One message, one line: each line break (CR LF, LF or a lone CR) becomes one space.
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    line(TimeText::dateTime(msg.date), flag, name, text);
}

#include "ExportMessagesCsv.h"

#include "MessageText.h"

void ExportMessagesCsv::begin()
{
    open();
    out() << "date,send,person,number,content,chat,kind\n";
    checkWritten();
}

QString ExportMessagesCsv::quoted(const QString &field)
{
    QString text = field;
    // A spreadsheet takes a cell starting like this for a formula, and a name or a
    // text from a chat is nobody's formula: with a quote before it, it stays text.
    static const QLatin1String formulaStarts("=+-@\t\r");
    if (!text.isEmpty() && formulaStarts.contains(text.front()))
        text.prepend(QLatin1Char('\''));
    const qsizetype unquoted = text.size();
    text.replace(QLatin1Char('"'), QLatin1String("\"\""));
    // A lone carriage return ends a row for many readers as a line feed does.
    if (text.size() != unquoted || field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('\n')) ||
        field.contains(QLatin1Char('\r')))
        return QLatin1Char('"') + text + QLatin1Char('"');
    return text;
}

void ExportMessagesCsv::write(const _ViberMsg &msg)
{
    const _ViberChat *chat = msg.chat;
    if (!chat)
        return;
    bool sent = false;
    const _ViberPerson *who = nullptr;
    QString content;
    if (msg.type == ViberMsgTypeCall) {
        if (!msg.call)
            return;
        // A call names its party, as the call log does.
        who = MessageText::callParty(&msg);
        sent = isOutgoing(&msg);
        content = MessageText::callText(msg.call);
    } else if (msg.type == ViberMsgTypeSystem) {
        content = MessageText::systemText(&msg);
    } else {
        sent = isOutgoing(&msg);
        // The other party of a one-to-one chat; in a group the sender, nobody for one's own
        // messages: which group it is, the chat column says.
        who = chat->participants.size() == 1 && chat->groupId.isEmpty() ? chat->participants.cbegin().value()
                                                                        : msg.person;
        if (sent && !chat->groupId.isEmpty())
            who = nullptr;
        content = MessageText::plainText(&msg);
    }
    out() << storeTimeToDateTime(msg.date).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) << ','
          << (sent ? '1' : '0') << ',' << quoted(who ? who->name : QString()) << ','
          << quoted(who ? who->phone : QString()) << ',' << quoted(content) << ','
          << quoted(MessageText::chatTitle(chat)) << ',' << MessageText::kindName(msg.type) << '\n';
    checkWritten();
}

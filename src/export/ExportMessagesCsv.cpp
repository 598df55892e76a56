#include "ExportMessagesCsv.h"

#include "MessageText.h"

void ExportMessagesCsv::begin()
{
    open();
    out() << "date,send,person,number,content\n";
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
    bool sent = false;
    QString person, number, content;
    if (msg.type == ViberMsgTypeCall) {
        if (!msg.call)
            return;
        content = MessageText::callText(msg.call);
    } else if (msg.type == ViberMsgTypeSystem) {
        content = MessageText::systemText(&msg);
    } else {
        const _ViberChat *chat = msg.chat;
        if (!chat)
            return;
        sent = isOutgoing(&msg);
        const _ViberPerson *who =
            chat->participants.size() == 1 ? chat->participants.cbegin().value() : msg.person;
        if (who) {
            person = who->name;
            number = who->phone;
        } else if (!chat->name.isEmpty()) {
            number = chat->name;
        } else {
            // A chat without participants (My Notes) goes by its title, a group by its id.
            number = chat->participants.isEmpty() ? MessageText::chatTitle(chat)
                                                  : QLatin1String("Group-") + chat->groupId;
        }
        content = MessageText::plainText(&msg);
    }
    out() << storeTimeToDateTime(msg.date).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) << ','
          << (sent ? '1' : '0') << ',' << quoted(person) << ',' << quoted(number) << ',' << quoted(content)
          << '\n';
    checkWritten();
}

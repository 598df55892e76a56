#pragma once

#include <QString>

// Which messages an action works on: the rows chosen in the message list, the
// chat shown, every message of the chosen source, or, for the toolbar, the first
// of these that applies.
enum class ActionScope { Selection, Chat, All, Toolbar };

// One set of messages an action could take, named as the user sees it:
// "the 2 selected messages", "the chat “Ann” (4 messages)".
struct ScopeOption
{
    ActionScope scope = ActionScope::All;
    qint64 count = 0;
    QString text; // HTML-safe
};

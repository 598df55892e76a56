#pragma once

// Which messages an action works on: the rows chosen in the message list, the
// chat shown, every message of the chosen source, or, for the toolbar, the first
// of these that applies.
enum class ActionScope { Selection, Chat, All, Toolbar };

#pragma once

#include <QByteArray>

// libplist parses, frees and writes property lists recursively and expands the
// shared objects of a binary list into separate nodes, so a small hostile input
// can exhaust the stack or the memory. It also trusts what it reads: a NUL inside
// a key trips its assertions. These checks run before libplist sees bytes or
// a tree that came from outside the program.
namespace plistcheck {

// Deepest nesting of arrays and dictionaries accepted; real lists stay far below.
constexpr int kMaxDepth = 128;

// Whether the bytes can be handed to the parser: an XML list nested at most
// kMaxDepth deep as libplist's reader sees it and without NULs where it reads,
// or a binary list whose table, references and lengths stay inside the bytes,
// without cycles, within kMaxDepth, whose expanded tree stays within a bound
// proportional to the input and whose texts hold no NUL.
bool bytesAreSafe(const QByteArray &bytes);

// Whether a tree (libplist's plist_t) handed over by other code is nested at
// most kMaxDepth deep and holds neither a key nor a text with a NUL inside.
bool treeIsSafe(void *node);

} // namespace plistcheck

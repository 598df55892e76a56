#pragma once

#include <QByteArray>

// libplist parses, frees and writes property lists recursively and expands the
// shared objects of a binary list into separate nodes, so a small hostile input
// can exhaust the stack or the memory. It also trusts what it reads: a NUL inside
// a key trips its assertions, and a far-off date or an extreme number reaches
// conversions whose result is undefined. These checks run before libplist sees
// bytes or a tree that came from outside the program, or writes a tree out.
namespace plistcheck {

// Deepest nesting of arrays and dictionaries accepted; real lists stay far below.
constexpr int kMaxDepth = 128;

// The dates accepted, in seconds from the origin 2001-01-01 GMT: 0001-01-01 up
// to the end of 9999, the four-digit years that a list's XML form holds.
constexpr double kDatesFrom = -63113904000.0;
constexpr double kDatesUntil = 252423993600.0; // 10000-01-01, excluded

// Whether the bytes can be handed to the parser: an XML list nested at most
// kMaxDepth deep as libplist's reader sees it and without NULs where it reads,
// or a binary list whose table, references and lengths stay inside the bytes,
// without cycles, within kMaxDepth, whose expanded tree stays within a bound
// proportional to the input, whose texts hold no NUL and whose dates stay
// within the years above.
bool bytesAreSafe(const QByteArray &bytes);

// Whether a tree (libplist's plist_t) handed over by other code is nested at
// most kMaxDepth deep and holds neither a key nor a text with a NUL inside nor
// a date outside the years above.
bool treeIsSafe(void *node);

// Gives every empty data value of the tree a buffer: libplist's XML reader
// leaves it null, and copying the value would then memcpy from null.
void fillEmptyData(void *node);

// Whether libplist's XML writer can take every value of the tree: it negates an
// integer to count its digits and converts reals and dates to 64-bit integers,
// so the integer -2^63, reals not finite or beyond ±2^63 and dates outside the
// years above are out of its reach; its binary writer also needs every key and
// text to be valid UTF-8.
bool treeIsWritable(void *node);

// The seconds from the origin that a date node holds, read without libplist's
// conversion to 32-bit integers; false for no date or one outside the years above.
bool dateSeconds(void *node, double &seconds);

} // namespace plistcheck

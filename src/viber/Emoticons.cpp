#include "Emoticons.h"

#include <QtEndian>

#include <algorithm>
#include <limits>

namespace {

QHash<QString, int> buildTable()
{
    static const struct
    {
        const char *code;
        int number;
    } entries[] = {
        {"(smiley)", 58},
        {"(sad)", 53},
        {"(wink)", 71},
        {"(angry)", 4},
        {"(inlove)", 31},
        {"(yummi)", 72},
        {"(laugh)", 33},
        {"(surprised)", 62},
        {"(moa)", 37},
        {"(happy)", 27},
        {"(cry)", 19},
        {"(sick)", 55},
        {"(shy)", 54},
        {"(teeth)", 64},
        {"(tongue)", 66},
        {"(money)", 38},
        {"(mad)", 36},
        {"(flirt)", 24},
        {"(crazy)", 18},
        {"(confused)", 15},
        {"(depressed)", 107},
        {"(scream)", 108},
        {"(nerd)", 41},
        {"(not_sure)", 42},
        {"(cool)", 17},
        {"(devil)", 21},
        {"(angel)", 3},
        {"(heart)", 28},
        {"(purple_heart)", 48},
        {"(heart_break)", 29},
        {"(V)", 69},
        {"(unlike)", 68},
        {"(like)", 35},
        {"(!)", 0},
        {"(Q)", 49},
        {"(kiss)", 32},
        {"(ice_cream)", 30},
        {"(cupcake)", 20},
        {"(burger)", 8},
        {"(pizza)", 45},
        {"(wine)", 70},
        {"(beer)", 7},
        {"(soda)", 60},
        {"(coffee)", 14},
        {"(popcorn)", 47},
        {"(poo)", 46},
        {"(cigarette)", 12},
        {"($)", 1},
        {"(car)", 9},
        {"(airplane)", 2},
        {"(sun)", 61},
        {"(moon)", 39},
        {"(rain)", 50},
        {"(cloud)", 13},
        {"(zzz)", 73},
        {"(skull)", 56},
        {"(fire)", 23},
        {"(music)", 40},
        {"(flower)", 25},
        {"(christmas_tree)", 11},
        {"(monkey)", 109},
        {"(chick)", 110},
        {"(cat)", 10},
        {"(dog)", 22},
        {"(pig)", 44},
        {"(koala)", 111},
        {"(kangaroo)", 112},
        {"(ladybug)", 113},
        {"(panda)", 114},
        {"(sheep)", 115},
        {"(soccer)", 59},
        {"(football)", 26},
        {"(basketball)", 6},
        {"(baseball)", 5},
        {"(relax)", 51},
        {"(tape)", 63},
        {"(phone)", 43},
        {"(console)", 16},
        {"(time)", 65},
        {"(TV)", 67},
        {"(light_bulb)", 34},
        {"(run)", 52},
        {"(clap)", 116},
        {"(bicycle)", 117},
        {"(cards)", 118},
    };
    QHash<QString, int> table;
    table.reserve(int(std::size(entries)));
    for (const auto &e : entries)
        table.insert(QString::fromLatin1(e.code), e.number);
    return table;
}

void appendLe32(QByteArray &out, qint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

// A bracketed run without brackets inside: "(" then at least one other unit, then ")".
struct Run
{
    qsizetype position = -1;
    qsizetype length = 0;
};

// The first run at or after from. Only the latest "(" can start a run, so every
// unit is looked at once: resuming after each run keeps a whole text linear.
// Surrogates are plain units here, so broken UTF-16 elsewhere hides no code.
Run nextRun(QStringView text, qsizetype from)
{
    qsizetype open = -1;
    for (qsizetype i = std::max<qsizetype>(from, 0); i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u == u'(') {
            open = i;
        } else if (u == u')') {
            if (open >= 0 && i - open > 1)
                return {open, i - open + 1};
            open = -1;
        }
    }
    return {};
}

// Cancellation is asked after this many runs: often enough to stop within a
// fraction of a second, rarely enough to cost nothing.
constexpr qint64 kRunsPerCancelCheck = 4096;

// The number of a run, or -1. No code in the table is longer than a few units,
// so longer runs are turned down without copying them.
int runNumber(QStringView run)
{
    static const qsizetype longest = [] {
        qsizetype n = 0;
        for (auto it = Emoticons::table().cbegin(); it != Emoticons::table().cend(); ++it)
            n = std::max(n, it.key().size());
        return n;
    }();
    return run.size() <= longest ? Emoticons::number(run.toString()) : -1;
}

} // namespace

const QHash<QString, int> &Emoticons::table()
{
    static const QHash<QString, int> table = buildTable();
    return table;
}

int Emoticons::number(const QString &code)
{
    return table().value(code, -1);
}

Emoticons::Match Emoticons::find(const QString &text, qsizetype from)
{
    Match result;
    const Run run = nextRun(text, from);
    if (run.position >= 0) {
        result.position = run.position;
        result.length = run.length;
        result.code = text.mid(run.position, run.length);
    }
    return result;
}

QByteArray Emoticons::ranges(const QString &text)
{
    return ranges(text, std::function<void()>());
}

QByteArray Emoticons::ranges(const QString &text, const std::function<void()> &checkCancel)
{
    QByteArray out;
    qint64 runs = 0;
    for (Run r = nextRun(text, 0); r.position >= 0; r = nextRun(text, r.position + r.length)) {
        if (checkCancel && ++runs % kRunsPerCancelCheck == 0)
            checkCancel();
        // The store holds 32-bit positions; a code beyond them cannot be described.
        if (r.position + r.length > std::numeric_limits<qint32>::max())
            break;
        const int n = runNumber(QStringView(text).mid(r.position, r.length));
        if (n < 0)
            continue;
        appendLe32(out, qint32(r.position));
        appendLe32(out, qint32(r.length));
        appendLe32(out, qint32(n));
    }
    return out;
}

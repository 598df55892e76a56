#include "Emoticons.h"

#include <QRegularExpression>
#include <QtEndian>

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

const QRegularExpression &codePattern()
{
    // Compiled once up front, so that worker threads only ever match against it.
    static const QRegularExpression re = [] {
        QRegularExpression r(QStringLiteral("\\([^\\(\\)]+\\)"));
        r.optimize();
        return r;
    }();
    return re;
}

void appendLe32(QByteArray &out, qint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
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
    const QRegularExpressionMatch m = codePattern().match(text, from);
    if (m.hasMatch()) {
        result.position = m.capturedStart();
        result.length = m.capturedLength();
        result.code = m.captured();
    }
    return result;
}

QByteArray Emoticons::ranges(const QString &text)
{
    QByteArray out;
    for (Match m = find(text, 0); m.position >= 0; m = find(text, m.position + m.length)) {
        const int n = number(m.code);
        if (n < 0)
            continue;
        appendLe32(out, qint32(m.position));
        appendLe32(out, qint32(m.length));
        appendLe32(out, qint32(n));
    }
    return out;
}

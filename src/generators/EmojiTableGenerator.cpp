// Writes the core library's emoji table (export/EmojiTable.h) from Unicode's emoji
// data: every sequence of the emoji test data, and for each carrier emoji that old
// iPhone stores hold as a private-use character, the Unicode emoji standing for it.
//
// Usage: chatwharf-emoji-table <emoji-test.txt> <EmojiSources.txt> <output .cpp>

#include <QFile>
#include <QList>
#include <QMap>
#include <QSaveFile>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <string>
#include <unordered_map>

namespace {

using Sequence = std::u32string;

bool fail(const QString &message)
{
    std::fprintf(stderr, "chatwharf-emoji-table: %s\n", qPrintable(message));
    return false;
}

// "1F468 200D 1F469" as code points; empty when the field is not such a list.
Sequence codePoints(QStringView field)
{
    Sequence sequence;
    for (QStringView hex : field.split(u' ', Qt::SkipEmptyParts)) {
        bool ok = false;
        const uint cp = hex.toUInt(&ok, 16);
        if (!ok || cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return {};
        sequence += char32_t(cp);
    }
    return sequence;
}

// One key for the qualified and unqualified forms of an emoji.
Sequence withoutPresentationSelector(Sequence sequence)
{
    sequence.erase(std::remove(sequence.begin(), sequence.end(), U'\uFE0F'), sequence.end());
    return sequence;
}

// SoftBank numbered its emoji alike in Shift-JIS and in the private-use block: six
// rows of up to 90, row n from U+E001 + 0x100 * n. Lead byte F9 holds rows 0 and 3,
// F7 rows 1 and 2, FB rows 4 and 5: the first of each pair in trail bytes 41..9B
// (7F is no Shift-JIS trail byte), the second in A1..FA. 0 for any other code.
char32_t carrierCode(uint shiftJis)
{
    const uint lead = shiftJis >> 8;
    const uint trail = shiftJis & 0xFF;
    const bool second = trail >= 0xA1;
    int row = 0;
    switch (lead) {
    case 0xF9:
        row = second ? 3 : 0;
        break;
    case 0xF7:
        row = second ? 2 : 1;
        break;
    case 0xFB:
        row = second ? 5 : 4;
        break;
    default:
        return 0;
    }
    uint index = 0;
    if (second && trail <= 0xFA)
        index = trail - 0xA1;
    else if (trail >= 0x41 && trail <= 0x7E)
        index = trail - 0x41;
    else if (trail >= 0x80 && trail <= 0x9B)
        index = trail - 0x42;
    else
        return 0;
    return char32_t(0xE001 + 0x100 * row + index);
}

bool readLines(const QString &path, QStringList *lines)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    *lines = QString::fromUtf8(file.readAll()).split(u'\n');
    return true;
}

// Lines "code points ; status # comment"; the version from the "# Version:" line.
bool readEmojiTest(const QString &path, QList<Sequence> *sequences, QString *version)
{
    static const QStringList statuses = {QStringLiteral("component"), QStringLiteral("fully-qualified"),
                                         QStringLiteral("minimally-qualified"),
                                         QStringLiteral("unqualified")};
    QStringList lines;
    if (!readLines(path, &lines))
        return false;
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QStringView line = QStringView(lines.at(n)).trimmed();
        if (line.startsWith(u"# Version:"))
            *version = line.mid(10).trimmed().toString();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const QStringView data = line.left(line.indexOf(u'#'));
        const qsizetype semicolon = data.indexOf(u';');
        const Sequence sequence = codePoints(data.left(semicolon));
        if (semicolon < 0 || sequence.empty() || !statuses.contains(data.mid(semicolon + 1).trimmed()))
            return fail(QStringLiteral("%1:%2: not an emoji test line").arg(path).arg(n + 1));
        sequences->append(sequence);
    }
    if (sequences->isEmpty())
        return fail(QStringLiteral("%1 holds no emoji").arg(path));
    return true;
}

// Lines "code points;DoCoMo;KDDI;SoftBank" with Shift-JIS codes. Per SoftBank
// code with an emoji of the test data, the fully qualified form of that emoji.
bool readCarrier(const QString &path, const QList<Sequence> &sequences, QMap<char32_t, Sequence> *carrier)
{
    // The fully qualified form is the longest: it carries every selector.
    std::unordered_map<Sequence, Sequence> qualified;
    for (const Sequence &s : sequences) {
        Sequence &best = qualified[withoutPresentationSelector(s)];
        if (s.size() > best.size())
            best = s;
    }
    QStringList lines;
    if (!readLines(path, &lines))
        return false;
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QStringView line = QStringView(lines.at(n)).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const QList<QStringView> fields = line.split(u';');
        const Sequence sequence = fields.size() == 4 ? codePoints(fields.at(0)) : Sequence();
        if (sequence.empty())
            return fail(QStringLiteral("%1:%2: not an emoji source line").arg(path).arg(n + 1));
        if (fields.at(3).isEmpty())
            continue;
        bool ok = false;
        const char32_t code = carrierCode(fields.at(3).toUInt(&ok, 16));
        if (!ok || code == 0)
            return fail(QStringLiteral("%1:%2: not a SoftBank code").arg(path).arg(n + 1));
        const auto it = qualified.find(withoutPresentationSelector(sequence));
        if (it != qualified.end())
            carrier->insert(code, it->second);
    }
    if (carrier->isEmpty())
        return fail(QStringLiteral("%1 maps no carrier emoji").arg(path));
    return true;
}

// The values, each list followed by a 0, twelve to a line.
QByteArray arrayText(const QList<Sequence> &lists)
{
    QByteArray text;
    int column = 0;
    auto add = [&](char32_t value) {
        text += column == 0 ? "\n   " : "";
        text += " 0x" + QByteArray::number(uint(value), 16).toUpper() + ",";
        column = (column + 1) % 12;
    };
    for (const Sequence &s : lists) {
        for (char32_t cp : s)
            add(cp);
        add(0);
    }
    return text;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr,
                     "usage: chatwharf-emoji-table <emoji-test.txt> <EmojiSources.txt> <output .cpp>\n");
        return 2;
    }
    const QString testPath = QString::fromLocal8Bit(argv[1]);
    const QString sourcesPath = QString::fromLocal8Bit(argv[2]);
    QList<Sequence> sequences;
    QString version;
    QMap<char32_t, Sequence> carrier;
    if (!readEmojiTest(testPath, &sequences, &version) || !readCarrier(sourcesPath, sequences, &carrier))
        return 1;
    QList<Sequence> carrierLists;
    for (auto it = carrier.constBegin(); it != carrier.constEnd(); ++it)
        carrierLists.append(it.key() + it.value());

    QSaveFile out(QString::fromLocal8Bit(argv[3]));
    if (!out.open(QIODevice::WriteOnly)) {
        fail(QStringLiteral("cannot write %1: %2").arg(out.fileName(), out.errorString()));
        return 1;
    }
    out.write("// Made by chatwharf-emoji-table from the emoji test data (version " + version.toUtf8() +
              ") and the emoji sources of Unicode. Not to be edited.\n"
              "#include \"export/EmojiTable.h\"\n\n"
              "const char32_t EmojiTable::sequences[] = {" +
              arrayText(sequences) +
              "\n};\n"
              "const std::size_t EmojiTable::sequencesSize = sizeof(sequences) / sizeof(sequences[0]);\n\n"
              "const char32_t EmojiTable::carrier[] = {" +
              arrayText(carrierLists) +
              "\n};\n"
              "const std::size_t EmojiTable::carrierSize = sizeof(carrier) / sizeof(carrier[0]);\n");
    if (!out.commit()) {
        fail(QStringLiteral("cannot write %1: %2").arg(out.fileName(), out.errorString()));
        return 1;
    }
    std::printf("chatwharf-emoji-table: %lld emoji sequences of Unicode %s, %lld carrier emoji\n",
                qlonglong(sequences.size()), qPrintable(version), qlonglong(carrier.size()));
    return 0;
}

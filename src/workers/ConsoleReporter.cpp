#include "ConsoleReporter.h"

#include "app/Clock.h"

#include <QIODevice>
#include <QMutexLocker>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>

ConsoleReporter::ConsoleReporter(QIODevice *out) : m_out(out)
{
    if (!m_out) {
        // Unbuffered-like behaviour comes from flushing after every line.
        m_stderr.open(stderr, QIODevice::WriteOnly | QIODevice::Text, QFileDevice::DontCloseHandle);
        m_out = &m_stderr;
    }
}

ConsoleReporter::~ConsoleReporter() = default;

QString ConsoleReporter::toPlainText(const QString &text)
{
    // Only what reads as a tag is markup: a "<" of the text itself ("3 < 4", a file
    // name) stays, where an HTML parser would swallow everything after it.
    static const QRegularExpression tag(QStringLiteral("<(/?)([A-Za-z][A-Za-z0-9]*)(?:\\s[^<>]*)?/?>"));
    QString out;
    out.reserve(text.size());
    qsizetype done = 0;
    for (QRegularExpressionMatchIterator it = tag.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out += QStringView(text).mid(done, m.capturedStart() - done);
        const QString name = m.captured(2).toLower();
        if (name == QLatin1String("br") || (name == QLatin1String("p") && !m.captured(1).isEmpty()))
            out += QLatin1Char('\n');
        done = m.capturedEnd();
    }
    out += QStringView(text).mid(done);
    // "&amp;" last, so that "&amp;lt;" stays the text "&lt;".
    out.replace(QLatin1String("&lt;"), QLatin1String("<"))
        .replace(QLatin1String("&gt;"), QLatin1String(">"))
        .replace(QLatin1String("&quot;"), QLatin1String("\""))
        .replace(QLatin1String("&#39;"), QLatin1String("'"))
        .replace(QLatin1String("&nbsp;"), QLatin1String(" "))
        .replace(QLatin1String("&amp;"), QLatin1String("&"));
    return out;
}

void ConsoleReporter::reportProgress(const QString &status, int percent, const QString &detail)
{
    QMutexLocker lock(&m_mutex);
    if (m_quiet)
        return;
    if (!status.isEmpty())
        m_status = toPlainText(status);
    if (percent >= 0)
        m_percent = std::min(percent, 100);
    QString line = QStringLiteral("[%1%]").arg(m_percent, 3);
    if (!m_status.isEmpty())
        line += QLatin1Char(' ') + m_status;
    if (!detail.isEmpty())
        line += QStringLiteral(" - ") + toPlainText(detail);
    // Workers report on every step; a line is worth printing only when it says something new.
    if (line == m_lastLine)
        return;
    m_lastLine = line;
    if (!m_bar) {
        // Without a terminal each line stays in a log: a new step, a tenth of the
        // work or a second since the last line earns one, not every message.
        const qint64 now = Clock::currentDateTime().toMSecsSinceEpoch();
        if (m_loggedAny && m_status == m_loggedStatus && m_percent / 10 == m_loggedPercent / 10 &&
            now - m_loggedAt < 1000)
            return;
        m_loggedAny = true;
        m_loggedStatus = m_status;
        m_loggedPercent = m_percent;
        m_loggedAt = now;
        writeLine(line);
        return;
    }
    constexpr int kWidth = 30;
    const int filled = m_percent * kWidth / 100;
    QString bar = QLatin1Char('[') + QString(filled, QLatin1Char('#')) +
                  QString(kWidth - filled, QLatin1Char('-')) + QStringLiteral("] %1% ").arg(m_percent, 3) +
                  line.mid(line.indexOf(QLatin1Char(']')) + 2);
    // One terminal line, redrawn: longer text would wrap and leave copies behind.
    bar.truncate(110);
    write("\r\033[K" + bar.toUtf8());
    m_barShown = true;
}

void ConsoleReporter::reportError(const QString &message)
{
    QMutexLocker lock(&m_mutex);
    m_failed = true;
    m_lastError = toPlainText(message);
    writeLine(tr("IDS_CONSOLE_ERROR_%1").arg(m_lastError));
}

void ConsoleReporter::reportSuccess(const QString &message)
{
    QMutexLocker lock(&m_mutex);
    m_succeeded = true;
    if (!m_quiet)
        writeLine(message.isEmpty() ? tr("IDS_CONSOLE_DONE") : toPlainText(message));
}

void ConsoleReporter::tipsAndWait(const QString &message)
{
    QMutexLocker lock(&m_mutex);
    if (!m_quiet)
        writeLine(toPlainText(message));
}

bool ConsoleReporter::succeeded() const
{
    QMutexLocker lock(&m_mutex);
    return m_succeeded;
}

bool ConsoleReporter::failed() const
{
    QMutexLocker lock(&m_mutex);
    return m_failed;
}

QString ConsoleReporter::lastError() const
{
    QMutexLocker lock(&m_mutex);
    return m_lastError;
}

void ConsoleReporter::writeLine(const QString &line)
{
    // A final line replaces the bar rather than following it on the same line.
    write((m_barShown ? QByteArray("\r\033[K") : QByteArray()) + line.toUtf8() + '\n');
    m_barShown = false;
}

void ConsoleReporter::write(const QByteArray &bytes)
{
    m_out->write(bytes);
    if (auto *file = qobject_cast<QFileDevice *>(m_out))
        file->flush();
}

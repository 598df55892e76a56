#include "ExportMessagesThread.h"

#include "app/FileHelpers.h"
#include "export/ExportMessagesCsv.h"
#include "export/ExportMessagesHtml.h"
#include "export/ExportMessagesJson.h"
#include "export/ExportMessagesPdf.h"
#include "export/ExportMessagesTxt.h"
#include "export/MessageText.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace {

bool chatThenDate(const _ViberMsg *a, const _ViberMsg *b)
{
    if (a->chat && b->chat && a->chat != b->chat) {
        if (a->chat->id != b->chat->id)
            return a->chat->id < b->chat->id;
        return std::less<const _ViberChat *>()(a->chat, b->chat);
    }
    return msgDateLess(a, b);
}

} // namespace

ExportMessagesThread::ExportMessagesThread(const QList<_ViberMsg *> &messages, const QString &outputPath,
                                           int format, QObject *parent)
    : WorkerThread(parent), m_messages(messages), m_outputPath(outputPath), m_format(format),
      m_journal(outputPath)
{
    m_messages.removeAll(nullptr);
}

ExportMessagesThread::~ExportMessagesThread()
{
    // work() uses the members; the base would wait only after they are gone.
    wait();
}

QString ExportMessagesThread::chatFileBaseName(const _ViberChat *chat)
{
    static const QRegularExpression invisible(QStringLiteral("[\\t\\n\\r\\x{00A0}]"));
    QString name = MessageText::participantLabels(chat);
    name.remove(invisible);
    name = exportFileName(name);
    if (name.isEmpty())
        name = QStringLiteral("chat-%1").arg(chat ? chat->id : 0);
    return name;
}

QString ExportMessagesThread::work()
{
    reportProgress(-1, tr("IDS_EXPORTING_MESSAGES_TO_FILE"));
    if (m_format < Text || m_format > Json)
        throw std::runtime_error("not support export format.");
    const bool oneJsonFile =
        m_format == Json && m_outputPath.endsWith(QLatin1String(".json"), Qt::CaseInsensitive);
    const bool perChat = m_format == Pdf || m_format == Html || (m_format == Json && !oneJsonFile);
    QList<_ViberMsg *> messages = m_messages;
    std::stable_sort(messages.begin(), messages.end(), perChat || oneJsonFile ? chatThenDate : msgDateLess);

    const QDir folder(m_outputPath);
    std::unique_ptr<HtmlFilesFolder> files;
    QList<HtmlChatEntry> index;
    if (perChat) {
        m_journal.makeFolder(m_outputPath);
        if (m_format == Html) {
            // The index's name is taken first, so that no chat's page can take it.
            const QString indexPath = folder.filePath(QStringLiteral("index.html"));
            if (!QFileInfo::exists(indexPath)) {
                QFile placeholder(indexPath);
                if (!placeholder.open(QIODevice::WriteOnly))
                    throw std::runtime_error(StreamedFileExport::writeError(
                                                 indexPath, StreamedFileExport::failureReason(placeholder))
                                                 .toStdString());
                m_journal.addCreatedFile(indexPath);
            }
            files = std::make_unique<HtmlFilesFolder>(
                folder, [this](const QString &source, const QString &target) {
                    m_journal.copyFile(source, target, FileJournal::Replace::Never);
                });
            files->copyArtwork();
        }
    }

    const qint64 total = messages.size();
    std::unique_ptr<AbsFormatExport<_ViberMsg>> writer;
    const _ViberChat *writerChat = nullptr;
    m_exported = 0;
    m_chatFiles.clear();
    for (const _ViberMsg *msg : std::as_const(messages)) {
        checkCancel();
        if (!msg->chat)
            continue;
        ++m_exported;
        reportProgress(percentOf(m_exported, total), QString(),
                       tr("IDS_EXPORT_PROGRESS_%1_%2").arg(m_exported).arg(total));
        if (!perChat) {
            if (!writer) {
                if (m_format == Text)
                    writer = std::make_unique<ExportMessagesTxt>(m_outputPath);
                else if (m_format == Json)
                    writer = std::make_unique<ExportMessagesJson>(m_outputPath, true);
                else
                    writer = std::make_unique<ExportMessagesCsv>(m_outputPath);
                writer->begin();
            }
        } else if (msg->chat != writerChat) {
            if (writer)
                writer->finish();
            writer.reset();
            writerChat = msg->chat;
            const QString suffix = m_format == Pdf    ? QStringLiteral(".pdf")
                                   : m_format == Json ? QStringLiteral(".json")
                                                      : QStringLiteral(".html");
            // Two chats of the same name each keep their file.
            const QString path = uniqueFilePath(folder.filePath(chatFileBaseName(writerChat) + suffix));
            m_journal.addCreatedFile(path);
            m_chatFiles.append(path);
            if (m_format == Pdf) {
                writer = std::make_unique<ExportMessagesPdf>(path);
            } else if (m_format == Json) {
                writer = std::make_unique<ExportMessagesJson>(path, false);
            } else {
                writer =
                    std::make_unique<ExportMessagesHtml>(path, MessageText::chatTitle(writerChat), *files);
                HtmlChatEntry entry;
                entry.fileName = QFileInfo(path).fileName();
                entry.title = MessageText::chatTitle(writerChat);
                entry.participants = MessageText::participantLabels(writerChat);
                entry.first = msg->date;
                index.append(entry);
            }
            writer->begin();
        }
        if (!index.isEmpty()) {
            ++index.last().messages;
            index.last().last = msg->date;
        }
        writer->write(*msg);
    }
    if (writer)
        writer->finish();
    if (files)
        writeHtmlIndex(folder.filePath(QStringLiteral("index.html")), index, *files);
    return tr("IDS_SUC_EXPORT_%1_MMS").arg(m_exported);
}

void ExportMessagesThread::cleanUp(Outcome)
{
    m_journal.rollBack();
}

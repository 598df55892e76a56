#include "ExportMessagesThread.h"

#include "app/FileHelpers.h"
#include "app/Platform.h"
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
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

bool chatThenDate(const _ViberMsg *a, const _ViberMsg *b)
{
    if (a->chat != b->chat) {
        // Messages without a chat (skipped by the writers) go first: compared by date
        // with the others, they would split a chat into several runs.
        if (!a->chat || !b->chat)
            return !a->chat;
        if (a->chat->id != b->chat->id)
            return a->chat->id < b->chat->id;
        return std::less<const _ViberChat *>()(a->chat, b->chat);
    }
    return msgDateLess(a, b);
}

} // namespace

ExportMessagesThread::ExportMessagesThread(const QList<_ViberMsg *> &messages, const QString &outputPath,
                                           int format, QObject *parent)
    : WorkerThread(parent), m_messages(messages), m_outputPath(QDir::cleanPath(outputPath)), m_format(format),
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
    // The title as the window shows it: a group's name, a person's name or number.
    QString name = exportFileName(MessageText::chatTitle(chat).replace(QChar::Nbsp, QLatin1Char(' ')));
    if (name.isEmpty())
        name = QStringLiteral("chat-%1").arg(chat ? chat->id : 0);
    return name;
}

QString ExportMessagesThread::uniqueChatFile(const QString &baseName, const QString &suffix)
{
    // Names are compared as a case-blind file system would.
    QString name = baseName + suffix;
    for (int n = 2; m_takenNames.contains(name.toCaseFolded()); ++n)
        name = QStringLiteral("%1 (%2)%3").arg(baseName).arg(n).arg(suffix);
    m_takenNames.insert(name.toCaseFolded());
    return name;
}

bool ExportMessagesThread::writesFolder(int format, const QString &outputPath)
{
    return format == Html ||
           (format == Pdf && !outputPath.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive)) ||
           (format == Json && !outputPath.endsWith(QLatin1String(".json"), Qt::CaseInsensitive));
}

bool ExportMessagesThread::isFreeOutput(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    return info.isDir() && !info.isSymLink() &&
           QDir(path).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

QString ExportMessagesThread::stagingFolderName(const QString &outputPath, int number)
{
    const QString name = QFileInfo(QDir::cleanPath(outputPath)).fileName();
    return number == 0 ? QStringLiteral(".%1.chatwharf-part").arg(name)
                       : QStringLiteral(".%1.%2.chatwharf-part").arg(name).arg(number);
}

QString ExportMessagesThread::makeStagingFolder()
{
    const QFileInfo target(QDir::cleanPath(m_outputPath));
    m_journal.makeFolder(target.absolutePath());
    const QDir parent(target.absolutePath());
    // One mkdir that fails when the name is taken: a folder of another run, or one
    // left by a run that was killed, is never written into.
    for (int number = 0; number < 1000; ++number) {
        const QString name = stagingFolderName(m_outputPath, number);
        if (parent.mkdir(name))
            return parent.filePath(name);
        if (!QFileInfo::exists(parent.filePath(name)))
            break;
    }
    throw std::runtime_error(StreamedFileExport::writeError(parent.filePath(stagingFolderName(m_outputPath)),
                                                            tr("IDS_EXPORT_FOLDER_NOT_MADE"))
                                 .toStdString());
}

void ExportMessagesThread::moveIntoPlace(const QString &from, const QString &to)
{
    const auto fail = [](const QString &path) {
        throw std::runtime_error(
            StreamedFileExport::writeError(path, tr("IDS_EXPORT_NOT_MOVED")).toStdString());
    };
    QDir dir;
    // An empty folder stands for nothing: the complete one takes its place whole.
    if (isFreeOutput(to)) {
        if (QFileInfo(to).isDir())
            dir.rmdir(to);
        if (!dir.rename(from, to))
            fail(to);
        return;
    }
    if (!m_replace || !QFileInfo(to).isDir())
        fail(to);
    const QDir source(from);
    for (const QFileInfo &entry :
         source.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QString target = QDir(to).filePath(entry.fileName());
        if (entry.isDir() && !entry.isSymLink()) {
            moveIntoPlace(entry.filePath(), target);
        } else {
            const QFileInfo old(target);
            if ((old.exists() || old.isSymLink()) && (old.isDir() || !QFile::remove(target)))
                fail(target);
            if (!QFile::rename(entry.filePath(), target))
                fail(target);
        }
    }
    dir.rmdir(from);
}

QString ExportMessagesThread::work()
{
    try {
        return exportAll();
    } catch (const std::runtime_error &e) {
        if (m_staging.isEmpty())
            throw;
        // The user knows the files by the names they were to have.
        QString text = QString::fromUtf8(e.what());
        const QString staging = QDir::toNativeSeparators(m_staging);
        const QString output = QDir::toNativeSeparators(m_outputPath);
        text.replace(staging.toHtmlEscaped(), output.toHtmlEscaped()).replace(staging, output);
        throw std::runtime_error(text.toStdString());
    }
}

QString ExportMessagesThread::exportAll()
{
    reportProgress(-1, tr("IDS_EXPORTING_MESSAGES_TO_FILE"));
    if (m_format < Text || m_format > Json)
        throw std::runtime_error(tr("IDS_EXPORT_FORMAT_UNKNOWN_%1").arg(m_format).toStdString());
    const bool perChat = writesFolder(m_format, m_outputPath);
    const bool oneJsonFile = (m_format == Json || m_format == Pdf) && !perChat;
    if (!m_replace && !isFreeOutput(m_outputPath)) {
        const QString shown = QDir::toNativeSeparators(m_outputPath).toHtmlEscaped();
        throw std::runtime_error((perChat ? tr("IDS_EXPORT_FOLDER_NOT_EMPTY_%1").arg(shown)
                                          : tr("IDS_EXPORT_FILE_EXISTS_%1").arg(shown))
                                     .toStdString());
    }
    QList<_ViberMsg *> messages = m_messages;
    // Text goes chat by chat, each under its heading; CSV names the chat in each row.
    const bool byChat = perChat || oneJsonFile || m_format == Text;
    std::stable_sort(messages.begin(), messages.end(), byChat ? chatThenDate : msgDateLess);

    std::unique_ptr<HtmlFilesFolder> files;
    QList<HtmlChatEntry> index;
    m_takenNames = {QStringLiteral("index.html"), QStringLiteral("files")};
    if (perChat) {
        m_staging = makeStagingFolder();
        if (m_format == Html) {
            // The index's name is taken first, so that no chat's page can take it.
            const QString indexPath = QDir(m_staging).filePath(QStringLiteral("index.html"));
            QFile placeholder(indexPath);
            if (!placeholder.open(QIODevice::WriteOnly))
                throw std::runtime_error(
                    StreamedFileExport::writeError(indexPath, StreamedFileExport::failureReason(placeholder))
                        .toStdString());
            files = std::make_unique<HtmlFilesFolder>(
                QDir(m_staging), [this](const QString &source, const QString &target) {
                    m_journal.copyFile(source, target, FileJournal::Replace::Never);
                });
            files->copyArtwork();
        }
    }
    const QDir folder(m_staging);

    const qint64 total = messages.size();
    // A chat's PDF is laid out on its own and takes long: the files are shared between threads.
    const bool sideBySide = perChat && m_format == Pdf;
    QList<Piece> pieces;
    std::unique_ptr<AbsFormatExport<_ViberMsg>> writer;
    const _ViberChat *writerChat = nullptr;
    m_exported = 0;
    m_chatFiles.clear();
    // How many messages each chat has, for the pages its HTML takes.
    QHash<const _ViberChat *, qint64> chatSizes;
    if (m_format == Html)
        for (const _ViberMsg *msg : std::as_const(messages))
            if (msg->chat)
                ++chatSizes[msg->chat];
    QStringList pageFiles;
    qsizetype page = 0;
    qint64 pageMessages = 0;
    for (qsizetype at = 0; at < messages.size(); ++at) {
        const _ViberMsg *msg = messages.at(at);
        checkCancel();
        if (!msg->chat)
            continue;
        ++m_exported;
        if (m_format != Pdf)
            reportProgress(percentOf(m_exported - 1, total), QString(),
                           tr("IDS_EXPORT_PROGRESS_%1_%2").arg(m_exported).arg(total));
        if (!perChat) {
            if (!writer) {
                if (m_format == Text)
                    writer = std::make_unique<ExportMessagesTxt>(m_outputPath);
                else if (m_format == Json)
                    writer = std::make_unique<ExportMessagesJson>(m_outputPath, true);
                else if (m_format == Pdf) {
                    auto pdf = std::make_unique<ExportMessagesPdf>(m_outputPath);
                    // A PDF is laid out when it finishes, a long message taking long: its progress
                    // shows how far that got, and it stops when asked to, not only after it.
                    const ExportMessagesPdf *laidOut = pdf.get();
                    pdf->setProgress([this, total, laidOut](double done) {
                        checkCancel();
                        const double messages = done * double(laidOut->messageCount());
                        reportProgress(int(messages * 100.0 / double(total)), QString(),
                                       tr("IDS_EXPORT_PROGRESS_%1_%2").arg(qint64(messages)).arg(total));
                    });
                    writer = std::move(pdf);
                } else
                    writer = std::make_unique<ExportMessagesCsv>(m_outputPath);
                writer->begin();
            }
        } else if (msg->chat != writerChat ||
                   (m_format == Html && ++pageMessages == ExportMessagesHtml::kPageSize)) {
            if (writer)
                writer->finish();
            writer.reset();
            if (msg->chat != writerChat) {
                writerChat = msg->chat;
                const QString suffix = m_format == Pdf    ? QStringLiteral(".pdf")
                                       : m_format == Json ? QStringLiteral(".json")
                                                          : QStringLiteral(".html");
                // Two chats of the same name each keep their file; a long chat's HTML
                // goes on pages of their own, named after its first.
                const QString base = chatFileBaseName(writerChat);
                pageFiles = QStringList{uniqueChatFile(base, suffix)};
                const qint64 pages = m_format == Html
                                         ? (chatSizes.value(writerChat) + ExportMessagesHtml::kPageSize - 1) /
                                               ExportMessagesHtml::kPageSize
                                         : 1;
                for (qint64 page = 2; page <= pages; ++page)
                    pageFiles << uniqueChatFile(tr("IDS_EXPORT_HTML_PAGE_FILE_%1_%2").arg(base).arg(page),
                                                suffix);
                m_chatFiles << pageFiles;
                page = 0;
                if (m_format == Html) {
                    HtmlChatEntry entry;
                    entry.fileName = pageFiles.first();
                    entry.title = MessageText::chatTitle(writerChat);
                    entry.participants = MessageText::participantLabelList(writerChat);
                    entry.first = msg->date;
                    index.append(entry);
                }
            } else {
                ++page;
            }
            pageMessages = 0;
            const QString path = folder.filePath(pageFiles.value(page));
            if (sideBySide) {
                if (!pieces.isEmpty())
                    pieces.last().end = at;
                pieces.append({path, at, messages.size()});
                continue;
            }
            if (m_format == Json)
                writer = std::make_unique<ExportMessagesJson>(path, false, ExportFile::InStagedFolder);
            else
                writer =
                    std::make_unique<ExportMessagesHtml>(path, MessageText::chatTitle(writerChat), *files,
                                                         pageFiles, page, ExportFile::InStagedFolder);
            writer->begin();
        }
        if (!index.isEmpty()) {
            ++index.last().messages;
            index.last().last = msg->date;
        }
        if (writer) // none while files are only planned
            writer->write(*msg);
    }
    if (writer)
        writer->finish();
    if (sideBySide)
        writeSideBySide(messages, pieces, total);
    if (m_format == Pdf)
        reportProgress(100, QString(), tr("IDS_EXPORT_PROGRESS_%1_%2").arg(m_exported).arg(total));
    if (files)
        writeHtmlIndex(folder.filePath(QStringLiteral("index.html")), index, *files);
    if (!perChat)
        return tr("IDS_SUC_EXPORT_%n_MESSAGES", nullptr, int(m_exported));

    // From here on the folder is complete: a cancel could only leave it half moved.
    commitStarts();
    syncFileSystem(m_staging);
    moveIntoPlace(m_staging, m_outputPath);
    m_staging.clear();
    for (QString &file : m_chatFiles)
        file = QDir(m_outputPath).filePath(file);
    return tr("IDS_SUC_EXPORT_%n_MESSAGES_TO_%1", nullptr, int(m_exported))
        .arg(QDir::toNativeSeparators(m_outputPath).toHtmlEscaped());
}

void ExportMessagesThread::writeSideBySide(const QList<_ViberMsg *> &messages, const QList<Piece> &pieces,
                                           qint64 total)
{
    struct Stopped
    {
    };
    const int threads =
        int(std::min<qsizetype>(std::clamp(QThread::idealThreadCount(), 1, 8), pieces.size()));
    std::atomic<qsizetype> next{0};
    std::atomic<qint64> done{0}; // messages in finished files
    // Each thread's share of the file it is laying out, which may be one long message.
    std::vector<std::atomic<qint64>> partial(static_cast<size_t>(threads));
    std::atomic<bool> stop{false};
    std::mutex lock; // over what follows
    std::condition_variable changed;
    int running = threads;
    std::exception_ptr failure;

    // Only this thread reports and looks at cancel; the others write and stop when told.
    auto write = [&](int slot) {
        try {
            for (qsizetype i = next++; i < pieces.size() && !stop; i = next++) {
                const Piece &piece = pieces.at(i);
                ExportMessagesPdf writer(piece.path, ExportFile::InStagedFolder);
                writer.setProgress([&, slot](double share) {
                    if (stop)
                        throw Stopped();
                    partial[size_t(slot)] = qint64(share * double(writer.messageCount()));
                });
                writer.begin();
                qint64 written = 0;
                for (qsizetype m = piece.first; m < piece.end; ++m) {
                    if (stop)
                        throw Stopped();
                    if (messages.at(m)->chat) {
                        writer.write(*messages.at(m));
                        ++written;
                    }
                }
                writer.finish();
                partial[size_t(slot)] = 0;
                done += written;
            }
        } catch (const Stopped &) {
        } catch (...) {
            const std::lock_guard<std::mutex> guard(lock);
            if (!failure)
                failure = std::current_exception();
            stop = true;
        }
        const std::lock_guard<std::mutex> guard(lock);
        --running;
        changed.notify_all();
    };
    std::vector<std::thread> helpers;
    // However this ends (a cancel included), every thread is stopped and joined.
    struct Join
    {
        std::vector<std::thread> &helpers;
        std::atomic<bool> &stop;
        ~Join()
        {
            stop = true;
            for (std::thread &t : helpers)
                t.join();
        }
    } join{helpers, stop};
    for (int slot = 0; slot < threads; ++slot)
        helpers.emplace_back(write, slot);
    for (;;) {
        {
            std::unique_lock<std::mutex> guard(lock);
            if (changed.wait_for(guard, std::chrono::milliseconds(50), [&] { return running == 0; }))
                break;
        }
        checkCancel();
        qint64 shown = done;
        for (const std::atomic<qint64> &share : partial)
            shown += share;
        reportProgress(percentOf(shown, total), QString(),
                       tr("IDS_EXPORT_PROGRESS_%1_%2").arg(shown).arg(total));
    }
    if (failure)
        std::rethrow_exception(failure);
}

void ExportMessagesThread::cleanUp(Outcome)
{
    // The folder being written is this run's alone: it goes whole.
    removeFolderTree(m_staging);
    m_staging.clear();
    m_journal.rollBack();
}

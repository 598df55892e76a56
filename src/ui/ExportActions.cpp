#include "ExportActions.h"

#include "MessageBoxes.h"
#include "RunWorker.h"
#include "ScopeChoice.h"
#include "ViberMsgPrinter.h"
#include "WindowContext.h"
#include "app/FileHelpers.h"
#include "workers/ExportMessagesThread.h"
#include "workers/ExportViberCallsThread.h"
#include "workers/ExtractMediaFilesThread.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace {

QString stamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
}

QString defaultSaveFile(QWidget *parent, const QString &title, const QString &proposed,
                        const QString &filters, QString *chosenFilter)
{
    return QFileDialog::getSaveFileName(parent, title, proposed, filters, chosenFilter);
}

QString defaultFolder(QWidget *parent, const QString &title, const QString &start)
{
    return QFileDialog::getExistingDirectory(parent, title, start);
}

} // namespace

ExportController::ExportController(WindowContext &window)
    : m_window(window), m_saveFile(&defaultSaveFile), m_folder(&defaultFolder)
{
}

QStringList ExportController::exportFilters()
{
    return {tr("Text Files(*.txt)"), tr("Doc Files(*.doc)"),   tr("CSV Files(*.csv)"),
            tr("PDF Files(*.pdf)"),  tr("HTML Files(*.html)"), tr("JSON Files(*.json)")};
}

int ExportController::formatForFilter(const QString &filter, const QString &chosenPath, QString *outputPath)
{
    const QStringList filters = exportFilters();
    const qsizetype index = filters.indexOf(filter);
    const QFileInfo chosen(chosenPath);
    static const char *const fileSuffixes[] = {".txt", ".doc", ".csv"};
    switch (index) {
    case 0:
    case 1:
    case 2:
        *outputPath =
            chosen.suffix().isEmpty() ? chosenPath + QLatin1String(fileSuffixes[index]) : chosenPath;
        return index == 2 ? ExportMessagesThread::Csv : ExportMessagesThread::Text;
    case 3:
    case 4:
        // The per-chat formats write a folder named after the chosen file.
        *outputPath = chosen.dir().filePath(chosen.baseName() +
                                            (index == 3 ? QLatin1String("-pdf") : QLatin1String("-html")));
        return index == 3 ? ExportMessagesThread::Pdf : ExportMessagesThread::Html;
    case 5:
        // One file listing every chat, as the command line writes to a ".json" path.
        *outputPath = chosenPath.endsWith(QLatin1String(".json"), Qt::CaseInsensitive)
                          ? chosenPath
                          : chosenPath + QLatin1String(".json");
        return ExportMessagesThread::Json;
    default:
        return -1;
    }
}

void ExportController::exportMessages(ActionScope scope)
{
    const std::optional<ScopeChoice::Chosen> taken =
        ScopeChoice::askMessages(m_window, scope, "IDS_MI_EXPORT_TOOLBAR");
    if (!taken)
        return;
    const ScopeNote note(taken->option.text);
    const QList<_ViberMsg *> &messages = taken->messages;
    QWidget *parent = m_window.dialogParent();
    QString filter;
    const QString chosen = m_saveFile(parent, tr("IDS_SEL_EXPORT_MESSAGES_PATH"),
                                      QDir::home().filePath(QStringLiteral("chats(%1)").arg(stamp())),
                                      exportFilters().join(QLatin1String(";;")), &filter);
    if (chosen.isEmpty())
        return;
    QString path;
    const int format = formatForFilter(filter, chosen, &path);
    if (ExportMessagesThread::writesFolder(format, path)) {
        // A folder holding anything is the user's: the export goes into a fresh one
        // beside it, which the closing message names.
        while (!ExportMessagesThread::isFreeOutput(path))
            path = uniqueFilePath(path);
    } else if (path != chosen && QFileInfo::exists(path) &&
               !askYesNo(tr("IDS_EXPORT_REPLACE_FILE_%1").arg(QDir::toNativeSeparators(path).toHtmlEscaped()),
                         parent)) {
        // The dialog asked about the name without the suffix added here.
        return;
    }
    ExportMessagesThread worker(messages, path, format);
    // What is left at a file's name now, the user agreed to replace.
    worker.setReplaceExisting(!ExportMessagesThread::writesFolder(format, path));
    runWorker(parent, &worker, tr("IDS_EXPORT_TITLE"));
}

void ExportController::extractMedia(ActionScope scope)
{
    const std::optional<ScopeChoice::Chosen> taken =
        ScopeChoice::askMessages(m_window, scope, "IDS_MI_EXTRACT_MEDIA_TOOLBAR");
    if (!taken)
        return;
    const ScopeNote note(taken->option.text);
    const QList<_ViberMsg *> &messages = taken->messages;
    QWidget *parent = m_window.dialogParent();
    const QString chosen =
        m_folder(parent, tr("IDS_TITLE_SEL_OUTPUT_FOLDER_EXTRACT_MEDIA_FILES"), QDir::homePath());
    if (chosen.isEmpty())
        return;
    ExtractMediaFilesThread worker(
        messages, QDir(QDir(chosen).filePath(QStringLiteral("attachments(%1)").arg(stamp()))));
    runWorker(parent, &worker, tr("IDS_EXTRACT_MEDIA_TITLE"));
}

void ExportController::exportCalls(ActionScope scope)
{
    const std::optional<ScopeChoice::Chosen> taken =
        ScopeChoice::askMessages(m_window, scope, "IDS_MI_EXPORT_CALL_TOOLBAR");
    if (!taken)
        return;
    const ScopeNote note(taken->option.text);
    QList<_ViberCall *> calls;
    for (const _ViberMsg *msg : taken->messages)
        if (msg->call)
            calls.append(msg->call);
    QWidget *parent = m_window.dialogParent();
    if (calls.isEmpty()) {
        showInfo(tr("IDS_NO_CALLS_IN_%1").arg(taken->option.text), parent);
        return;
    }
    const QString path =
        m_saveFile(parent, tr("IDS_SEL_EXPORT_CALLS_PATH"),
                   QDir::home().filePath(QStringLiteral("calls(%1).txt").arg(stamp())), QString(), nullptr);
    if (path.isEmpty())
        return;
    ExportViberCallsThread worker(calls, path);
    runWorker(parent, &worker, tr("IDS_EXPORT_CALLS_TITLE"));
}

void ExportController::print(ActionScope scope)
{
    const std::optional<ScopeChoice::Chosen> taken =
        ScopeChoice::askMessages(m_window, scope, "IDS_MI_PRINT_TOOLBAR");
    if (!taken)
        return;
    const QList<_ViberMsg *> &messages = taken->messages;
    ViberMsgPrinter printer(m_window.dialogParent());
    printer.print(messages);
}

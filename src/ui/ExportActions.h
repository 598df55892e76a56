#pragma once

#include "ActionScope.h"

#include <QCoreApplication>
#include <QString>

#include <functional>

class QWidget;
class WindowContext;

// The main window's actions that write what is selected somewhere else: files in
// the chosen format, the attachments, the call log, and the printer.
class ExportController
{
    Q_DECLARE_TR_FUNCTIONS(ExportController)

public:
    // A save dialog: title, proposed path, filters (";;"-joined, may be empty);
    // returns the path ("" when cancelled) and the filter chosen.
    using SaveFileChooser =
        std::function<QString(QWidget *parent, const QString &title, const QString &proposed,
                              const QString &filters, QString *chosenFilter)>;
    // A folder dialog: title, starting folder; "" when cancelled.
    using FolderChooser = std::function<QString(QWidget *parent, const QString &title, const QString &start)>;

    explicit ExportController(WindowContext &window);

    // Replaceable so that tests answer without a dialog.
    void setSaveFileChooser(SaveFileChooser chooser) { m_saveFile = std::move(chooser); }
    void setFolderChooser(FolderChooser chooser) { m_folder = std::move(chooser); }

    void exportMessages(ActionScope scope);
    void extractMedia(ActionScope scope);
    void exportCalls(ActionScope scope);
    void print(ActionScope scope);

    // The filters the export offers, in order, and the format and path the
    // chosen one makes of the chosen name: ".txt", ".doc", ".csv" added when the
    // name has no suffix; a folder "<name>-pdf" or "<name>-html" for the
    // per-chat formats; one JSON file, ".json" added unless the name ends so.
    // Format -1 for an unknown filter.
    static QStringList exportFilters();
    static int formatForFilter(const QString &filter, const QString &chosenPath, QString *outputPath);

private:
    WindowContext &m_window;
    SaveFileChooser m_saveFile;
    FolderChooser m_folder;
};

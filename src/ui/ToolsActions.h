#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QAction;
class QComboBox;
class QDialog;
class QLabel;
class QMainWindow;
class QMenu;
class QWidget;
class UpdateCheck;
class VBBubbleViewMgr;

// The window's periphery: the update check and the announcement beside it, help,
// feedback and about, the cache, and the user's choices of how messages are shown
// (the map site places link to, the bubbles' page size), each kept for the next start.
class ToolsController : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        // The web services' address; "" makes no request at all.
        QString serviceBaseUrl;
        // Whether the service is asked at start; the user's setting.
        bool automaticUpdateCheck = false;
        // Delay before the web services are asked, so that start-up never waits.
        int peripheryDelayMs = 3000;
    };

    ToolsController(QMainWindow *window, const Options &options);

    // Asks the service after the delay when the user turned that on.
    void start();
    void checkUpdate();
    void setAutomaticUpdateCheck(bool on);
    void help();
    void feedback();
    void about();
    void clearCache();

    // The switch of the automatic check, a child of the window.
    QAction *automaticCheckAction();
    // The menu of map sites; a change calls shownChanged so that the bubbles on
    // show link to the new site at once.
    QMenu *mapSiteMenu(std::function<void()> shownChanged);
    // The chooser of the bubbles' page size, for the bubbles' header.
    QComboBox *pageSizeChooser(QWidget *parent, VBBubbleViewMgr *bubbles);

private:
    void onNewVersion(const QString &downloadUrl);
    void onAnnouncement(const QString &html);

    QMainWindow *m_window;
    Options m_options;
    UpdateCheck *m_updateCheck = nullptr;
    QLabel *m_advLabel = nullptr;
    QDialog *m_help = nullptr; // made on first use, kept for the session
};

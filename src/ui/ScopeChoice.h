#pragma once

#include "ActionScope.h"

#include <QCoreApplication>
#include <QList>
#include <QString>

#include <optional>

class QWidget;
struct _ViberMsg;
class WindowContext;

class ScopeChoice
{
    Q_DECLARE_TR_FUNCTIONS(ScopeChoice)

public:
    static QString selectionText(qint64 count);
    static QString chatText(const QString &title, qint64 count);
    static QString allText(const QString &source, qint64 count);
    // The window's name of an action (a key of its menus), as the dialogs' title.
    static QString actionTitle(const char *key);

    // Says what the action titled title will take and lets the user widen it:
    // requested (Toolbar: the narrowest on offer) is chosen first. Nothing when
    // there is nothing to take or the user cancelled.
    static std::optional<ScopeOption> ask(WindowContext &window, ActionScope requested, const QString &title);

    // ask() for the action named by the window's menu key, with the messages of the
    // scope chosen, in date order; nothing when cancelled or when it holds none.
    struct Chosen
    {
        ScopeOption option;
        QList<_ViberMsg *> messages;
    };
    static std::optional<Chosen> askMessages(WindowContext &window, ActionScope requested,
                                             const char *titleKey);
};

// While alive, the success boxes of runWorker and of the controllers repeat what
// was taken, so that the user reads the scope again beside the outcome.
class ScopeNote
{
public:
    explicit ScopeNote(const QString &scopeText);
    ~ScopeNote();
    ScopeNote(const ScopeNote &) = delete;
    ScopeNote &operator=(const ScopeNote &) = delete;

    // text followed by the scope of the innermost live note, if any.
    static QString decorate(const QString &text);

private:
    QString m_previous;
};

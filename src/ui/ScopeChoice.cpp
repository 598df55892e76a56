#include "ScopeChoice.h"

#include "MessageBoxes.h"
#include "WindowContext.h"

#include <QButtonGroup>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTextDocumentFragment>
#include <QVBoxLayout>

namespace {

QString g_scopeNote;

} // namespace

QString ScopeChoice::selectionText(qint64 count)
{
    return tr("IDS_SCOPE_SELECTION_%n", nullptr, int(count));
}

QString ScopeChoice::chatText(const QString &title, qint64 count)
{
    return tr("IDS_SCOPE_CHAT_%1_%n", nullptr, int(count)).arg(title.toHtmlEscaped());
}

QString ScopeChoice::allText(const QString &source, qint64 count)
{
    return tr("IDS_SCOPE_ALL_%1_%n", nullptr, int(count)).arg(source.toHtmlEscaped());
}

QString ScopeChoice::actionTitle(const char *key)
{
    // An action's name is kept with the menu that offers it: the window's, else a context menu.
    const QString text = QCoreApplication::translate("WindowMenus", key);
    return text != QLatin1String(key) ? text : QCoreApplication::translate("ContextMenus", key);
}

std::optional<ScopeOption> ScopeChoice::ask(WindowContext &window, ActionScope requested,
                                            const QString &title)
{
    const QList<ScopeOption> options = window.scopeOptions();
    if (options.isEmpty()) {
        showInfo(tr("IDS_SCOPE_NOTHING"), window.dialogParent());
        return std::nullopt;
    }
    if (requested == ActionScope::Toolbar)
        requested = window.resolvedScope();
    qsizetype preselected = 0;
    for (qsizetype i = 0; i < options.size(); ++i)
        if (options.at(i).scope == requested)
            preselected = i;

    QDialog dialog(window.dialogParent());
    dialog.setObjectName(QStringLiteral("scopeDialog"));
    dialog.setWindowTitle(title);
    auto *layout = new QVBoxLayout(&dialog);
    auto *question = new QLabel(tr("IDS_SCOPE_QUESTION"), &dialog);
    layout->addWidget(question);
    auto *group = new QButtonGroup(&dialog);
    for (qsizetype i = 0; i < options.size(); ++i) {
        // The option's text is escaped for the boxes; the button shows it as plain text.
        auto *button =
            new QRadioButton(QTextDocumentFragment::fromHtml(options.at(i).text).toPlainText(), &dialog);
        button->setObjectName(QStringLiteral("scope%1").arg(i));
        layout->addWidget(button);
        group->addButton(button, int(i));
        button->setChecked(i == preselected);
    }
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("IDS_SCOPE_CONTINUE"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted || group->checkedId() < 0)
        return std::nullopt;
    return options.at(group->checkedId());
}

std::optional<ScopeChoice::Chosen> ScopeChoice::askMessages(WindowContext &window, ActionScope requested,
                                                            const char *titleKey)
{
    const std::optional<ScopeOption> option = ask(window, requested, actionTitle(titleKey));
    if (!option)
        return std::nullopt;
    Chosen chosen{*option, window.scopeMessages(option->scope)};
    if (chosen.messages.isEmpty())
        return std::nullopt;
    return chosen;
}

ScopeNote::ScopeNote(const QString &scopeText) : m_previous(g_scopeNote)
{
    g_scopeNote = scopeText;
}

ScopeNote::~ScopeNote()
{
    g_scopeNote = m_previous;
}

QString ScopeNote::decorate(const QString &text)
{
    if (g_scopeNote.isEmpty())
        return text;
    return text + QStringLiteral("<br/><br/>") + ScopeChoice::tr("IDS_SCOPE_TAKEN_%1").arg(g_scopeNote);
}

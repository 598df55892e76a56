#pragma once

#include "WinMovable.h"

#include <QDialog>
#include <QStringList>

#include <memory>

namespace Ui {
class LocalDbSelForm;
}

// Chooses an existing local database or names a new one. Confirm accepts only a
// name that is not empty and holds no character a folder name cannot have; any
// other input is answered with a warning and the dialog stays open.
class LocalDbSelForm : public QDialog
{
    Q_OBJECT
public:
    // The combo box offers an empty entry and then names, in their order, with
    // none selected; a non-empty presetText is the initial text.
    LocalDbSelForm(const QStringList &names, const QString &presetText, QWidget *parent = nullptr);
    ~LocalDbSelForm() override;

    // The trimmed name once accepted; "" otherwise.
    QString selectedName() const;

    // Runs the dialog modally and returns selectedName().
    static QString chooseName(const QStringList &names, const QString &presetText, QWidget *parent = nullptr);

public slots:
    void accept() override;

private:
    QString m_name;
    std::unique_ptr<Ui::LocalDbSelForm> m_ui;
    WinMovable m_mover;
};

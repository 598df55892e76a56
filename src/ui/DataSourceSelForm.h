#pragma once

#include "WinMovable.h"

#include <QDialog>
#include <QIcon>
#include <QList>
#include <QString>

class QComboBox;
class QLabel;

// Chooses one item (a target device, a Viber Desktop account) from a drop-down
// list. Confirm without a choice warns and keeps the dialog open.
class DataSourceSelForm : public QDialog
{
    Q_OBJECT
public:
    struct Item
    {
        QIcon icon;
        QString text;
    };

    DataSourceSelForm(const QString &question, const QList<Item> &items, QWidget *parent = nullptr);

    // The chosen item's position once accepted; -1 otherwise.
    int selectedIndex() const;
    QComboBox *comboBox() const { return m_combo; }

    // Runs the dialog modally and returns selectedIndex().
    static int choose(const QString &question, const QList<Item> &items, QWidget *parent = nullptr);

public slots:
    void accept() override;

private:
    QLabel *m_label;
    QComboBox *m_combo;
    int m_selected = -1;
    WinMovable m_mover;
};

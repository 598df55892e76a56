#pragma once

#include "WinMovable.h"

#include <QDialog>

// The About box: product name, version and where to get help.
class AboutDlg : public QDialog
{
    Q_OBJECT
public:
    static constexpr const char *kVersion = CHATWHARF_VERSION;

    explicit AboutDlg(QWidget *parent = nullptr);

private:
    WinMovable m_mover;
};

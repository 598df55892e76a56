#pragma once

#include "WinMovable.h"

#include <QDialog>

class BackupManifest;
class QLabel;
class QLineEdit;
class QPushButton;

// Asks for the password of an encrypted backup and unlocks the manifest with it;
// accepted only once the manifest is unlocked. The password stays in memory.
class PasscodeDlg : public QDialog
{
    Q_OBJECT
public:
    PasscodeDlg(BackupManifest *manifest, QWidget *parent = nullptr);

public slots:
    void btnOKClicked();

private:
    BackupManifest *m_manifest;
    QLabel *m_title;
    QLineEdit *m_passcode;
    QPushButton *m_ok;
    QPushButton *m_cancel;
    WinMovable m_mover;
};

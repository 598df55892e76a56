#pragma once

#include "ActionScope.h"

#include <QCoreApplication>

class WindowContext;

// The main window's actions that carry messages towards a phone.
class TransferController
{
    Q_DECLARE_TR_FUNCTIONS(TransferController)

public:
    explicit TransferController(WindowContext &window) : m_window(window) {}

    // Writes the messages of the scope into an iTunes backup the user picks, for
    // restoring onto a phone; an encrypted backup is refused.
    void exportToITunesBackup(ActionScope scope);
    // Transfers the messages of the scope to a connected iPhone the user picks:
    // straight into Viber's container, or through the phone's backup and a restore.
    void transferToIPhone(ActionScope scope);

private:
    WindowContext &m_window;
};

#pragma once

#include "ContainerDelivery.h"
#include "WorkSteps.h"

#include "device/Afc.h"

#include <QCoreApplication>

// Files delivered straight into Viber's container on a phone that lets the program
// reach it. The store goes up under a temporary name and takes its place only
// when whole.
class ContainerUpload : public ContainerDelivery
{
    Q_DECLARE_TR_FUNCTIONS(ContainerUpload)

public:
    // Connects to the container; raises a sentence when Viber is not installed.
    ContainerUpload(MobileDeviceHandle device, const WorkSteps &steps);

    void put(const QString &localPath, const QString &devicePath, bool overwrite) override;
    void putStore(const QString &store) override;
    // Empty voice files are ones the app failed to receive: they would take a
    // number, so they are removed on the way.
    qint64 highestVoiceFile() override;

private:
    WorkSteps m_steps;
    AfcConnection m_container;
};

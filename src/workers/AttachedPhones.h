#pragma once

#include "PhoneTransfer.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

// The iPhones attached now, for a tool without a window that asks once instead of
// following devices as they come and go. Their handles stay valid while this lives.
class AttachedPhones : public QObject
{
    Q_OBJECT

public:
    AttachedPhones() = default;
    ~AttachedPhones() override;

    // Starts listening to the device layer; false with a sentence when it cannot be used.
    bool watch(QString *error);
    // Lets the device layer tell of the phones attached, for up to waitMs, or until
    // enough says the phones known so far will do; the phones then attached.
    QList<PhoneTransfer::Phone> wait(int waitMs,
                                     const std::function<bool(const QList<PhoneTransfer::Phone> &)> &enough);

private slots:
    void attached(void *device);
    void detached(void *device);

private:
    QList<MobileDeviceHandle> m_handles;
    bool m_watching = false;
};

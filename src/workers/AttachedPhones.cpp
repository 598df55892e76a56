#include "AttachedPhones.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

AttachedPhones::~AttachedPhones()
{
    if (m_watching)
        mobiledevice_unsubscribe();
}

bool AttachedPhones::watch(QString *error)
{
    QString why;
    if (!mobiledevice_load_framework(why)) {
        if (error)
            *error = why;
        return false;
    }
    try {
        mobiledevice_subscribe(this, "attached", "detached");
    } catch (const std::exception &e) {
        if (error)
            *error = QString::fromUtf8(e.what());
        return false;
    }
    m_watching = true;
    return true;
}

QList<PhoneTransfer::Phone>
AttachedPhones::wait(int waitMs, const std::function<bool(const QList<PhoneTransfer::Phone> &)> &enough)
{
    QList<PhoneTransfer::Phone> phones;
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        // The device layer tells by queued calls, which only an event loop delivers.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        phones.clear();
        for (MobileDeviceHandle handle : std::as_const(m_handles)) {
            PhoneTransfer::Phone phone;
            phone.handle = handle;
            phone.udid = mobiledevice_udid(handle);
            phones.append(phone);
        }
        if ((enough && enough(phones)) || timer.elapsed() >= waitMs)
            break;
        QThread::msleep(20);
    }
    for (PhoneTransfer::Phone &phone : phones) {
        try {
            phone.productVersion = mobiledevice_copy_values(phone.handle, {QStringLiteral("ProductVersion")})
                                       .value(0)
                                       .toString();
        } catch (const std::exception &e) {
            qWarning("Could not read the iOS version of %s: %s", qPrintable(phone.udid), e.what());
        }
    }
    return phones;
}

void AttachedPhones::attached(void *device)
{
    if (!m_handles.contains(device))
        m_handles.append(device);
}

void AttachedPhones::detached(void *device)
{
    m_handles.removeAll(device);
}

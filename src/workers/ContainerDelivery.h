#pragma once

#include <QString>

// Where a transfer's files for Viber's container go: straight onto the phone, or
// into the phone's backup. Device paths are absolute in the container
// ("/Documents/...").
class ContainerDelivery
{
public:
    virtual ~ContainerDelivery() = default;

    // Unless overwrite, a non-empty file already there stays.
    virtual void put(const QString &localPath, const QString &devicePath, bool overwrite) = 0;
    // The store, whole, in place of the phone's. The log and index beside it are
    // emptied, or the app would replay the old log into the new store.
    virtual void putStore(const QString &store) = 0;
    // The highest number among the voice files the phone holds; 0 for none.
    virtual qint64 highestVoiceFile() = 0;

protected:
    ContainerDelivery() = default;
    ContainerDelivery(const ContainerDelivery &) = default;
    ContainerDelivery &operator=(const ContainerDelivery &) = default;
};

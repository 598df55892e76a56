#pragma once

#include "SourceLoading.h"
#include "device/MobileDevice.h"
#include "viber/ViberData.h"

#include <QCoreApplication>
#include <QString>

#include <functional>

class BackupManifest;

// A connected iPhone's Viber data read into its cache folder, and messages transferred
// into it, as steps run through whoever drives them (the window's dialogs, the console):
// straight into Viber's container where the phone allows it, otherwise (current iOS keeps
// an App Store app's container to itself) through a backup of the phone that is changed
// and restored onto it.
class PhoneTransfer
{
    Q_DECLARE_TR_FUNCTIONS(PhoneTransfer)

public:
    struct Phone
    {
        MobileDeviceHandle handle = nullptr;
        QString udid;
        QString productVersion;
    };
    // A backup setting of the phone that keeps a restore from working.
    enum class Setting { None, ICloudBackup, BackupEncryption };
    // What the steps need of their driver.
    struct Host
    {
        SourceLoading::Runner run;
        // Asks for an encrypted backup's password and unlocks the manifest; false when given up.
        std::function<bool(BackupManifest &)> unlock;
        // A note the user reads (rich text), e.g. before a restore.
        std::function<void(const QString &)> inform;
        // A failure outside a worker (rich text).
        std::function<void(const QString &)> fail;
        // A setting that must be changed on the phone first; the transfer stops.
        std::function<void(Setting)> settingInTheWay;
    };
    struct Loaded
    {
        bool loaded = false;
        bool throughBackup = false;
        QString viberFolder; // the cached copy of Viber's container
        QString backupRoot;  // where the phone's backup lies, for the backup route
        // The cache folder, when it holds what was decrypted from an encrypted backup.
        QString privateFolder;
    };
    struct Transferred
    {
        bool succeeded = false;
        qint64 messages = 0;
        qint64 calls = 0;
    };

    static Loaded load(const Phone &phone, const Host &host);
    // Loads the phone's data, merges the messages into it and writes it back.
    static Transferred transfer(const Phone &phone, const QList<_ViberMsg *> &messages, const Host &host);
    // The phone's first backup setting in the way of a restore; None when it cannot be asked.
    static Setting settingInTheWay(MobileDeviceHandle phone);
};

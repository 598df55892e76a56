#pragma once

#include <QString>

// One file to put into an iTunes backup.
struct BackupFileItem
{
    QString domain;         // "AppDomain-com.viber" for Viber's files
    QString sourcePath;     // the local file to copy
    QString backupPath;     // the file's path within the domain, without a leading "/"
    bool overwrite = false; // replace a data file the backup already holds
};

#pragma once

#include <QFile>
#include <QString>

// Writes a file that holds data in clear the user alone may read: like QSaveFile the
// content goes under a temporary name beside the target and takes the target's name
// only when whole, but that temporary file is created with kPrivateFileMode, so that
// the data is never readable by others, not even while it is being written.
class PrivateSaveFile : public QFile
{
public:
    explicit PrivateSaveFile(const QString &targetPath);
    ~PrivateSaveFile() override;

    // Creates the temporary file (write-only); false with errorString() when it cannot.
    bool create();
    // Flushes, closes and gives the file its final name, replacing what is there.
    // Without a commit (a failure, a cancel) the temporary file is removed.
    bool commit();
    const QString &targetPath() const { return m_target; }

private:
    QString m_target;
    bool m_committed = false;
};

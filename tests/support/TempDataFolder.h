#pragma once

#include "app/DataFolder.h"

#include <QFile>
#include <QTemporaryDir>

// Points the data folder into a fresh profile for as long as it lives, so that
// no suite touches the user's own.
class TempDataFolder
{
public:
    TempDataFolder() : m_oldHome(qgetenv("XDG_DATA_HOME"))
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_profile.path()));
        resetDataFolderForTests();
    }
    ~TempDataFolder()
    {
        qputenv("XDG_DATA_HOME", m_oldHome);
        resetDataFolderForTests();
    }
    QString profile() const { return m_profile.path(); }

private:
    QTemporaryDir m_profile;
    QByteArray m_oldHome;
};

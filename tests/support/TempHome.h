#pragma once

#include "app/DataFolder.h"

#include <QFile>
#include <QTemporaryDir>

// Points the home folder and the data home (its "xdg") into a fresh folder for as long
// as it lives, so that suites looking for other programs' folders meet only their own;
// the data folder follows it.
class TempHome
{
public:
    TempHome() : m_oldHome(qgetenv("HOME")), m_oldData(qgetenv("XDG_DATA_HOME"))
    {
        qputenv("HOME", QFile::encodeName(m_dir.path()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("xdg"))));
        resetDataFolderForTests();
    }
    ~TempHome()
    {
        qputenv("HOME", m_oldHome);
        qputenv("XDG_DATA_HOME", m_oldData);
        resetDataFolderForTests();
    }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome, m_oldData;
};

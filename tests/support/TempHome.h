#pragma once

#include "app/DataFolder.h"

#include <QFile>
#include <QTemporaryDir>

// Points home and the data home (its "xdg") into a fresh folder while it lives; the data folder follows.
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
    QString profile() const { return path() + QStringLiteral("/xdg"); } // the data home

private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome, m_oldData;
};

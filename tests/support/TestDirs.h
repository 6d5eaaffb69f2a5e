#pragma once

#include <QFile>
#include <QTemporaryDir>

// Points the data folder and the settings file at fresh temporary folders for this test
// process. Create it before the first use of any store or settings object.
class TestDirs final
{
public:
    TestDirs()
    {
        qputenv("QUILLET_DATA_DIR", QFile::encodeName(m_data.path()));
        qputenv("QUILLET_CONFIG_DIR", QFile::encodeName(m_config.path()));
    }
    QString dataPath() const { return m_data.path(); }

private:
    QTemporaryDir m_data;
    QTemporaryDir m_config;
};

#pragma once
// Points the Documents folder at a fresh temporary HOME for the life of the
// object, so settings tests never touch the user's files.
#include <QByteArray>
#include <QTemporaryDir>
#include <cstdlib>

class SettingsTestHome
{
public:
    SettingsTestHome()
        : oldHome(qgetenv("HOME"))
    {
        qputenv("HOME", dir.path().toLocal8Bit());
        qunsetenv("XDG_CONFIG_HOME");
        qunsetenv("XDG_DOCUMENTS_DIR");
    }
    ~SettingsTestHome() { qputenv("HOME", oldHome); }
    QString path() const { return dir.path(); }
    QString documents() const { return dir.path() + QStringLiteral("/Documents"); }

private:
    QTemporaryDir dir;
    QByteArray oldHome;
};

// What an audiometry bridge takes from the connector around it.
#pragma once

#include <QString>
#include <QUrl>

#include <functional>

class Clock;
class InstallationSlot;
class ProgramLauncher;

struct AudiometrySettings
{
    QUrl downloadServer;   // the vendor download server, as the configuration decided it
    QString desktopFolder; // the operator's desktop: the installer archive and its unpack folder go here
    ProgramLauncher *launcher = nullptr;
    const Clock *clock = nullptr;
    /// Whether a page is connected to receive reports; a result waits in its folder while none is.
    std::function<bool()> pageConnected;
    /// The one installation that may run at a time.
    InstallationSlot *installations = nullptr;
};

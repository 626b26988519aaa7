// One installation of the audiometry application: download or reuse the archive, unpack it, start the installer.
#include "audiometry/helixinstallation.h"

namespace {
HelixInstallation *runningInstallation = nullptr;
}

HelixInstallation *HelixInstallation::current()
{
    return runningInstallation;
}

HelixInstallation::HelixInstallation(const QUrl &downloadServer, QObject *parent)
    : QObject(parent), downloadServer(downloadServer)
{}

HelixInstallation::~HelixInstallation()
{
    if (runningInstallation == this)
        runningInstallation = nullptr;
}

void HelixInstallation::start()
{
    runningInstallation = this;
    emit installFailed();
    runningInstallation = nullptr;
    emit finished();
}

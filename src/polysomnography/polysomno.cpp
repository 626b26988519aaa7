// The connector's bridge to the polysomnography application.
#include "polysomnography/polysomno.h"

Polysomno::Polysomno(const QString &appPath) : QObject(nullptr), appPath(appPath) {}

void Polysomno::processCommand(QJsonObject args)
{
    Q_UNUSED(args)
    emit finished();
}

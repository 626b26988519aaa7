// The connector's bridge to the audiometry application.
#include "audiometry/helixaudiometry.h"

#include <QDebug>

HelixAudiometry::HelixAudiometry(QString appPath) : QObject(nullptr), appPath(std::move(appPath))
{
    qDebug() << "HelixAudiometry::HelixAudiometry()";
}

void HelixAudiometry::processCommand(QJsonObject args)
{
    Q_UNUSED(args)
    emit finished();
}

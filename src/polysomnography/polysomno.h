// The connector's bridge to the polysomnography application.
#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>

#include "channel/socketmessage.h"
#include "platform/databasebackend.h"

class Polysomno : public QObject
{
    Q_OBJECT

public:
    explicit Polysomno(const QString &appPath);

    /// Carries out the "args" object of one command.
    void processCommand(QJsonObject args);

    void setDatabaseBackend(DatabaseBackend backend) { database = backend; }

signals:
    void sendErrorMessage(SocketMessage);
    void sendMessage(SocketMessage, QJsonObject);
    /// The bridge has nothing left to do and may be released.
    void finished();

private:
    QString appPath;
    DatabaseBackend database = defaultDatabaseBackend();
};

// Routes each command envelope from the page to a new device bridge.
#pragma once

#include <QObject>
#include <QPointer>
#include <QUrl>

#include "platform/databasebackend.h"

class HelixAudiometry;
class OperatorChannel;
class Polysomno;

/// Settings the bridges take from the configuration file.
struct BridgeSettings
{
    QUrl downloadServer;
    DatabaseBackend database = defaultDatabaseBackend();
};

class CommandRouter : public QObject
{
    Q_OBJECT

public:
    CommandRouter(OperatorChannel *channel, const BridgeSettings &settings, QObject *parent = nullptr);

public slots:
    /// Parses one text message from the page; answers INVALID_ARGUMENTS itself, otherwise hands the
    /// command to a new bridge whose reports go to the page. A bridge is released once it reports
    /// that its work is done.
    void processTextMessage(const QString &message);

private:
    template<typename Bridge>
    void connectBridge(Bridge *bridge);

    OperatorChannel *channel;
    BridgeSettings settings;
    QPointer<HelixAudiometry> helixAudiometry; // most recent audiometry bridge
    QPointer<Polysomno> polysomno;             // most recent polysomnography bridge
};

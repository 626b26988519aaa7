// Routes each command envelope from the page to a new device bridge.
#include "channel/commandrouter.h"

#include <QDebug>

#include "audiometry/helixaudiometry.h"
#include "channel/envelope.h"
#include "channel/operatorchannel.h"
#include "polysomnography/polysomno.h"

CommandRouter::CommandRouter(OperatorChannel *channel, const BridgeSettings &settings, QObject *parent)
    : QObject(parent), channel(channel), settings(settings)
{}

template<typename Bridge>
void CommandRouter::connectBridge(Bridge *bridge)
{
    connect(bridge, &Bridge::sendMessage, channel, &OperatorChannel::sendMessage);
    connect(bridge, &Bridge::sendErrorMessage, channel, &OperatorChannel::sendErrorMessage);
    // A bridge with nothing left to do is released, so bridges do not pile up over a long run.
    connect(bridge, &Bridge::finished, bridge, &QObject::deleteLater);
}

void CommandRouter::processTextMessage(const QString &message)
{
    qDebug() << message;
    const std::optional<Envelope> envelope = parseEnvelope(message);
    if (!envelope) {
        channel->sendErrorMessage(INVALID_ARGUMENTS);
        return;
    }

    if (envelope->device == Device::Audiometry) {
        auto *bridge = new HelixAudiometry(envelope->appPath);
        helixAudiometry = bridge;
        bridge->setDownloadServer(settings.downloadServer);
        bridge->setPageConnected(
            [channel = QPointer<OperatorChannel>(channel)] { return channel && channel->hasPage(); });
        connectBridge(bridge);
        bridge->processCommand(envelope->args);
    } else {
        qDebug() << "Poly...";
        auto *bridge = new Polysomno(envelope->appPath);
        polysomno = bridge;
        bridge->setDatabaseBackend(settings.database);
        connectBridge(bridge);
        bridge->processCommand(envelope->args);
    }
}

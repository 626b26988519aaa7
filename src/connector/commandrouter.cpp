// Routes each command envelope from the page to a new device bridge.
#include "connector/commandrouter.h"

#include <QDebug>
#include <QJsonDocument>

#include "audiometry/helixaudiometry.h"
#include "channel/operatorchannel.h"
#include "platform/connectorlog.h"
#include "polysomnography/polysomno.h"
#include "protocol/envelope.h"
#include "protocol/redaction.h"

CommandRouter::CommandRouter(OperatorChannel *channel, const QUrl &downloadServer, DatabaseBackend database,
                             const Workstation &workstation, QObject *parent)
    : QObject(parent), channel(channel), isRemoteDrive(workstation.isRemoteDrive)
{
    audiometrySettings.downloadServer = downloadServer;
    audiometrySettings.desktopFolder = workstation.desktopFolder;
    audiometrySettings.launcher = workstation.launcher;
    audiometrySettings.clock = workstation.clock;
    audiometrySettings.files = workstation.files;
    audiometrySettings.programs = workstation.programs;
    audiometrySettings.installations = &installations;
    audiometrySettings.exams = &exams;
    audiometrySettings.waitingExamsFile = workstation.waitingExamsFile;
    audiometrySettings.pageConnected = [channel = QPointer<OperatorChannel>(channel)] {
        return channel && channel->hasPage();
    };
    polysomnoSettings.database = database;
    polysomnoSettings.launcher = workstation.launcher;
    polysomnoSettings.checkLockFile = workstation.checkLockFile;
    connect(channel, &OperatorChannel::textMessageReceived, this, &CommandRouter::processTextMessage);
    for (HelixExam *exam : exams.resume(audiometrySettings))
        connectBridge(exam);
}

template<typename Bridge>
void CommandRouter::connectBridge(Bridge *bridge)
{
    // Bridges still at work when the router goes (at shutdown) go with it.
    bridge->setParent(this);
    connect(bridge, &Bridge::sendMessage, channel, &OperatorChannel::sendMessage);
    connect(bridge, &Bridge::sendErrorMessage, channel, &OperatorChannel::sendErrorMessage);
    // A bridge with nothing left to do is released, so bridges do not pile up over a long run.
    connect(bridge, &Bridge::finished, bridge, &QObject::deleteLater);
}

void CommandRouter::processTextMessage(const QString &message)
{
    qDebug() << message;
    // Parsed once, for the log file's line and the envelope.
    const QJsonDocument document = QJsonDocument::fromJson(message.toUtf8());
    // Patient values never reach the log file.
    qCInfo(connectorLog).noquote() << "Received" << redactedMessage(document, message.size());
    const std::optional<Envelope> envelope = parseEnvelope(document);
    if (!envelope) {
        qCWarning(connectorLog) << "Command refused: no usable envelope";
        channel->sendErrorMessage(INVALID_ARGUMENTS);
        return;
    }
    if (onNetworkDrive(envelope->appFolder)) {
        qCWarning(connectorLog) << "Command refused: the application folder lies on a network drive";
        channel->sendErrorMessage(INVALID_ARGUMENTS);
        return;
    }
    const QJsonValue command = envelope->args.value(QLatin1String("command"));
    // The command word is the page's text: cut short, and quoted so no line break of it reaches the file.
    qCInfo(connectorLog) << "Command" << (envelope->device == Device::Audiometry ? "AUDIOMETRY" : "POLYSOMNO")
                         << (command.isString() ? command.toString().left(64) : QStringLiteral("(no command word)"));

    if (envelope->device == Device::Audiometry) {
        auto *bridge = new HelixAudiometry(envelope->appFolder, audiometrySettings);
        helixAudiometry = bridge;
        connectBridge(bridge);
        bridge->processCommand(envelope->args);
    } else {
        qDebug() << "Poly...";
        auto *bridge = new Polysomno(envelope->appFolder, polysomnoSettings);
        polysomno = bridge;
        connectBridge(bridge);
        bridge->processCommand(envelope->args);
    }
}

bool CommandRouter::onNetworkDrive(const AppFolder &folder) const
{
    // A drive letter mapped to a share is as remote as "\\server\share", which the envelope refuses already.
    return isRemoteDrive(folder.path()) && !listsApplicationFolder(folder.path());
}

bool CommandRouter::listsApplicationFolder(const QString &) const
{
    // The exception for folders the configuration's "application_folders" names: none until that list exists.
    return false;
}

// Routes each command envelope from the page to a new device bridge.
#include "connector/commandrouter.h"

#include <QDebug>
#include <QJsonDocument>

#include "audiometry/helixaudiometry.h"
#include "channel/operatorchannel.h"
#include "connector/folderconsent.h"
#include "platform/connectorlog.h"
#include "polysomnography/polysomno.h"
#include "protocol/envelope.h"
#include "protocol/redaction.h"

CommandRouter::CommandRouter(OperatorChannel *channel, FolderConsent *folders, const QUrl &downloadServer,
                             DatabaseBackend database, const Workstation &workstation, QObject *parent)
    : QObject(parent), channel(channel), folders(folders)
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
    // Held commands are the sending page's: a page that takes over must not get their answers.
    connect(channel, &OperatorChannel::pageConnected, folders, &FolderConsent::dropHeld);
    connect(channel, &OperatorChannel::pageDisconnected, folders, &FolderConsent::dropHeld);
    connect(folders, &FolderConsent::released, this, &CommandRouter::carryOut);
    connect(folders, &FolderConsent::heldCommandRefused, channel,
            [channel] { channel->sendErrorMessage(INVALID_ARGUMENTS); });
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
    // Parsed once, for the logs and the envelope. Patient values reach neither log: the debug line the system
    // defines for the received text carries the redacted form too.
    const QJsonDocument document = QJsonDocument::fromJson(message.toUtf8());
    const std::optional<Envelope> envelope = parseEnvelope(document);
    // A message without a usable envelope is answered before its lines are written: a page waits for no file.
    const bool answered = !envelope && channel->sendErrorFrame(INVALID_ARGUMENTS);
    const QString redacted = redactedMessage(document, message.size());
    qDebug() << redacted;
    if (!envelope) {
        logRefusal(redacted, "no usable envelope", answered);
        return;
    }
    switch (folders->admit(*envelope, channel->currentOrigin())) {
    case FolderConsent::Outcome::Refused:
        logRefusal(redacted, "application folder not allowed", channel->sendErrorFrame(INVALID_ARGUMENTS));
        return;
    case FolderConsent::Outcome::Held:
        qCInfo(connectorLog).noquote() << "Received" << redacted << "-> held until the operator decides";
        return;
    case FolderConsent::Outcome::Go:
        qCInfo(connectorLog).noquote() << "Received" << redacted;
        carryOut(*envelope);
        return;
    }
}

// One line for the message and its answer.
void CommandRouter::logRefusal(const QString &redacted, const char *why, bool answered)
{
    qCWarning(connectorLog).noquote() << "Received" << redacted << "-> refused:" << why
                                      << (answered ? "(error 2 sent)" : "(error 2 dropped, no page connected)");
}

void CommandRouter::carryOut(const Envelope &envelope)
{
    if (envelope.device == Device::Audiometry) {
        auto *bridge = new HelixAudiometry(envelope.appFolder, audiometrySettings);
        helixAudiometry = bridge;
        connectBridge(bridge);
        bridge->processCommand(envelope.args);
    } else {
        qDebug() << "Poly...";
        auto *bridge = new Polysomno(envelope.appFolder, polysomnoSettings);
        polysomno = bridge;
        connectBridge(bridge);
        bridge->processCommand(envelope.args);
    }
}

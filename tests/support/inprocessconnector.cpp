// The connector's channel and routing inside the test process, with the outside world replaced.
#include "inprocessconnector.h"

#include <QHostAddress>

InProcessConnector::InProcessConnector(const Options &options)
{
    AudiometrySettings audiometry;
    audiometry.downloadServer = options.downloadServer;
    audiometry.desktopFolder = desktop.path();
    audiometry.launcher = &launcher;
    audiometry.clock = &clock;
    audiometry.files = &files;
    audiometry.programs = &programs;
    PolysomnoSettings polysomno;
    polysomno.database = options.database;
    polysomno.launcher = &launcher;
    router = new CommandRouter(&channel, audiometry, polysomno, &channel);
    QObject::connect(&channel, &OperatorChannel::textMessageReceived, router, &CommandRouter::processTextMessage);
    const OriginPolicy::Unknown unknown = options.unknownOrigins.value_or(
        options.allowedOrigins ? OriginPolicy::Unknown::Refuse : OriginPolicy::Unknown::Ask);
    listening = channel.startServer({QHostAddress(QHostAddress::LocalHost)}, 0,
                                    OriginPolicy(options.allowedOrigins, unknown, options.decisionsFile));
}

QUrl InProcessConnector::url() const
{
    return QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(channel.serverPort()));
}

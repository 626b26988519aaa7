// The connector's channel and routing inside the test process, with the outside world replaced.
#include "inprocessconnector.h"

#include <QHostAddress>

InProcessConnector::InProcessConnector(const Options &options)
{
    channel.setClock(&clock);
    router = new CommandRouter(&channel, options.downloadServer, options.database,
                               Workstation{desktop.path(), &launcher, &clock, &files, &programs}, &channel);
    const OriginPolicy::Unknown unknown = options.unknownOrigins.value_or(
        options.allowedOrigins ? OriginPolicy::Unknown::Refuse : OriginPolicy::Unknown::Ask);
    listening = channel.startServer({QHostAddress(QHostAddress::LocalHost)}, 0,
                                    OriginPolicy(options.allowedOrigins, unknown, options.decisionsFile));
}

QUrl InProcessConnector::url() const
{
    return QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(channel.serverPort()));
}

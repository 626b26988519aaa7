// The connector inside the test process, as the window builds it, with the outside world replaced.
#include "inprocessconnector.h"

#include <QFileInfo>
#include <QJsonDocument>

namespace {

ConnectorConfiguration testConfiguration(const QJsonObject &keys)
{
    QJsonObject file{{QStringLiteral("sessionids"), QStringLiteral("test")},
                     {QStringLiteral("download_server"), QStringLiteral("https://download.invalid")},
                     {QStringLiteral("polysomno_database"), QStringLiteral("sqlite")},
                     {QStringLiteral("listen_address"), QStringLiteral("127.0.0.1")},
                     // The tests' application folders are temporary ones; the folder tests say otherwise.
                     {QStringLiteral("unknown_application_folders"), QStringLiteral("allow")}};
    for (auto it = keys.constBegin(); it != keys.constEnd(); ++it)
        file.insert(it.key(), it.value());
    const ConfigurationResult result = parseConfiguration(QJsonDocument(file).toJson());
    if (result.outcome != ConfigurationOutcome::Accepted)
        qFatal("The test's configuration is refused: %s", QJsonDocument(file).toJson().constData());
    return result.configuration;
}

/// As a lock file reads where an open one cannot be told from one left behind: one that exists is held. The
/// connector in the test process answers so on every system, so its tests read alike on Windows.
LockFileCheck lockFileByExistence(const std::string &path)
{
    return {QFileInfo::exists(QString::fromStdString(path)) ? LockFileCheck::Held : LockFileCheck::Missing, {}};
}

} // namespace

InProcessConnector::InProcessConnector(const Options &options)
    : connector(testConfiguration(options.configuration),
                Workstation{desktop.path(), &launcher, &clock, &files, &programs,
                            options.waitingExamsFile.isEmpty() ? data.filePath(QStringLiteral("waiting-exams.json"))
                                                               : options.waitingExamsFile,
                            lockFileByExistence, options.isRemoteDrive},
                options.decisionsFile),
      channel(*connector.channel()), router(connector.router())
{
    listening = connector.start(0);
}

QUrl InProcessConnector::url() const
{
    return QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(channel.serverPort()));
}

// Reads the connector's configuration file and decides whether the connector may start.
#include "connector/configuration.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "protocol/applicationfolders.h"

namespace {

ConfigurationResult invalid()
{
    return {ConfigurationOutcome::Invalid, {}};
}

std::optional<QList<QHostAddress>> parseListenAddress(const QJsonValue &value)
{
    // The page runs in the browser on this workstation, so loopback (both families) is the default.
    if (value.isUndefined())
        return QList<QHostAddress>{QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6)};
    const QString text = value.toString();
    if (text == QLatin1String("any"))
        return QList<QHostAddress>{QHostAddress(QHostAddress::Any)};
    QHostAddress address;
    if (!value.isString() || !address.setAddress(text))
        return std::nullopt;
    return QList<QHostAddress>{address};
}

std::optional<UnknownPolicy> parseUnknown(const QJsonValue &value)
{
    if (value == QJsonValue(QStringLiteral("ask")))
        return UnknownPolicy::Ask;
    if (value == QJsonValue(QStringLiteral("refuse")))
        return UnknownPolicy::Refuse;
    if (value == QJsonValue(QStringLiteral("allow")))
        return UnknownPolicy::Allow;
    return std::nullopt;
}

std::optional<QStringList> parseTexts(const QJsonValue &value, bool *ok)
{
    *ok = true;
    if (value.isUndefined())
        return std::nullopt;
    if (!value.isArray()) {
        *ok = false;
        return std::nullopt;
    }
    QStringList origins;
    const QJsonArray array = value.toArray();
    for (const QJsonValue &origin : array) {
        if (!origin.isString()) {
            *ok = false;
            return std::nullopt;
        }
        origins.append(origin.toString());
    }
    return origins;
}

} // namespace

QUrl defaultDownloadServer()
{
    return QUrl(QStringLiteral("https://download.sanvero.com"));
}

bool isAcceptableDownloadServer(const QUrl &server)
{
    if (!server.isValid() || server.host().isEmpty() || !server.userInfo().isEmpty() || server.hasQuery() ||
        server.hasFragment() || !(server.path().isEmpty() || server.path() == QLatin1String("/")))
        return false;
    const QString scheme = server.scheme();
    if (scheme == QLatin1String("https"))
        return true;
    if (scheme != QLatin1String("http"))
        return false;
    // Plain http only where nothing leaves the machine.
    const QString host = server.host();
    return host == QLatin1String("localhost") || QHostAddress(host).isLoopback();
}

ConfigurationResult parseConfiguration(const QByteArray &bytes)
{
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (!document.isObject())
        return {ConfigurationOutcome::NotFound, {}};
    const QJsonObject object = document.object();
    if (!object.contains(QLatin1String("sessionids")))
        return invalid();

    ConnectorConfiguration configuration;
    configuration.sessionIds = object.value(QLatin1String("sessionids")).toString();

    const QJsonValue server = object.value(QLatin1String("download_server"));
    if (!server.isUndefined()) {
        const QUrl url(server.toString(), QUrl::StrictMode);
        if (!server.isString() || !isAcceptableDownloadServer(url))
            return invalid();
        configuration.downloadServer = url.adjusted(QUrl::RemovePath);
    }

    const QJsonValue checkUpdates = object.value(QLatin1String("check_updates"));
    if (!checkUpdates.isUndefined() && !checkUpdates.isBool())
        return invalid();
    configuration.checkUpdates = checkUpdates.toBool(false);

    const QJsonValue database = object.value(QLatin1String("polysomno_database"));
    if (database == QJsonValue(QStringLiteral("odbc")))
        configuration.database = DatabaseBackend::Odbc;
    else if (database == QJsonValue(QStringLiteral("sqlite")))
        configuration.database = DatabaseBackend::Sqlite;
    else if (!database.isUndefined())
        return invalid();

    const auto listen = parseListenAddress(object.value(QLatin1String("listen_address")));
    if (!listen)
        return invalid();
    configuration.listenAddresses = *listen;

    bool originsOk = false;
    configuration.allowedOrigins = parseTexts(object.value(QLatin1String("allowed_origins")), &originsOk);
    if (!originsOk)
        return invalid();

    const QJsonValue unknown = object.value(QLatin1String("unknown_origins"));
    if (unknown.isUndefined())
        configuration.unknownOrigins =
            configuration.allowedOrigins ? OriginPolicy::Unknown::Refuse : OriginPolicy::Unknown::Ask;
    else if (const std::optional<UnknownPolicy> policy = parseUnknown(unknown))
        configuration.unknownOrigins = *policy;
    else
        return invalid();

    bool foldersOk = false;
    configuration.applicationFolders =
        parseTexts(object.value(QLatin1String("application_folders")), &foldersOk).value_or(QStringList());
    // A folder the page could not name itself (a share, a relative path) would be a mistake of the file's.
    for (const QString &folder : std::as_const(configuration.applicationFolders))
        foldersOk = foldersOk && ApplicationFolders::isUsable(folder);
    if (!foldersOk)
        return invalid();

    const QJsonValue unknownFolders = object.value(QLatin1String("unknown_application_folders"));
    if (!unknownFolders.isUndefined()) {
        const std::optional<UnknownPolicy> policy = parseUnknown(unknownFolders);
        if (!policy)
            return invalid();
        configuration.unknownApplicationFolders = *policy;
    }

    return {ConfigurationOutcome::Accepted, configuration};
}

ConfigurationResult readConfiguration(const QStringList &arguments)
{
    if (arguments.size() < 2)
        return {ConfigurationOutcome::NotFound, {}};
    QFile file(arguments.at(1));
    if (!file.open(QIODevice::ReadOnly))
        return {ConfigurationOutcome::NotFound, {}};
    return parseConfiguration(file.readAll());
}

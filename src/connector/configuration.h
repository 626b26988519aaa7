// Reads the connector's configuration file and decides whether the connector may start.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

#include "channel/originpolicy.h"
#include "platform/databasebackend.h"

/// The vendor download server used when the configuration names none.
QUrl defaultDownloadServer();

/// Everything the configuration file can set. Only "sessionids" is required; the other keys are optional
/// and an absent key keeps the built-in behaviour.
struct ConnectorConfiguration
{
    QString sessionIds;                                  // "sessionids", as text (a non-string value gives empty text)
    QUrl downloadServer = defaultDownloadServer();       // "download_server": scheme, host and optional port
    bool checkUpdates = false;                           // "check_updates": true runs the update check once at start
    DatabaseBackend database = defaultDatabaseBackend(); // "polysomno_database": "odbc" or "sqlite"
    QList<QHostAddress> listenAddresses;                 // "listen_address": "any" or one address; loopback by default
    std::optional<QStringList> allowedOrigins;           // "allowed_origins": exact origins allowed to connect
    /// "unknown_origins": "ask", "refuse" or "allow"; "ask" without "allowed_origins", "refuse" with it.
    OriginPolicy::Unknown unknownOrigins = OriginPolicy::Unknown::Ask;
    /// "application_folders": absolute local folders a page may name without the operator's consent.
    QStringList applicationFolders;
    /// "unknown_application_folders": "ask" (the default), "refuse" or "allow", for every other folder.
    UnknownPolicy unknownApplicationFolders = UnknownPolicy::Ask;
};

enum class ConfigurationOutcome
{
    Accepted,
    NotFound, // no argument, unreadable file, or not a JSON object
    Invalid,  // a JSON object without "sessionids", or an optional key with an unusable value
};

struct ConfigurationResult
{
    ConfigurationOutcome outcome = ConfigurationOutcome::NotFound;
    ConnectorConfiguration configuration;
};

/// Decides from the program's argument list (program name first) which configuration applies.
/// Only the first argument is read; the file is never changed.
ConfigurationResult readConfiguration(const QStringList &arguments);

/// The same decision for the bytes of a configuration file.
ConfigurationResult parseConfiguration(const QByteArray &bytes);

/// A download server address is usable when it is https, or http on a loopback host, and names
/// nothing beyond scheme, host and port.
bool isAcceptableDownloadServer(const QUrl &server);

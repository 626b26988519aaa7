// Log lines about the pages' handshakes, kept short and few whatever the pages send.
#pragma once

#include <QDateTime>
#include <QDebug>
#include <QHash>
#include <QString>

/// An origin as the log shows it: quoted, cut after 200 characters (the line says so), since the page chooses it.
struct LoggedOrigin
{
    static constexpr int maxLength = 200;
    const QString &origin;
};
QDebug operator<<(QDebug debug, const LoggedOrigin &logged);

/// Handshakes that came to nothing, logged at most once a minute for each origin and cause, with the number of
/// like ones since the last line: a page that retries in a loop must not rotate the log file.
class HandshakeLog
{
public:
    static constexpr int intervalSeconds = 60;
    /// Origins remembered at once; further ones share a line for "other origins".
    static constexpr int maxEntries = 256;

    /// what: the line's start ("Handshake refused (HTTP 403)"); origin: empty when none is known.
    void failed(const QString &what, const QString &origin, const QDateTime &now);

private:
    struct Entry
    {
        QString what;
        QString origin;
        QDateTime logged;
        int since = 0; // like ones not logged since
    };

    static void write(const Entry &entry);
    void prune(const QDateTime &now);

    QHash<QString, Entry> entries;
};

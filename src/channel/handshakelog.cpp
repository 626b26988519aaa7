// Log lines about the pages' handshakes, kept short and few whatever the pages send.
#include "channel/handshakelog.h"

#include "platform/connectorlog.h"

QDebug operator<<(QDebug debug, const LoggedOrigin &logged)
{
    const QDebugStateSaver saver(debug);
    if (logged.origin.size() <= LoggedOrigin::maxLength)
        return debug.quote() << logged.origin;
    debug.quote() << logged.origin.left(LoggedOrigin::maxLength);
    debug.noquote() << QStringLiteral("(cut, %1 characters in all)").arg(logged.origin.size());
    return debug;
}

void HandshakeLog::failed(const QString &what, const QString &origin, const QDateTime &now)
{
    QString key = what + QLatin1Char('\n') + origin.left(LoggedOrigin::maxLength);
    QString shown = origin;
    if (!entries.contains(key) && entries.size() >= maxEntries) {
        prune(now);
        if (entries.size() >= maxEntries) {
            // Without the line break of the other keys: no origin shares it.
            key = what + QStringLiteral("\t");
            shown = QStringLiteral("(other origins)");
        }
    }
    auto entry = entries.find(key);
    if (entry == entries.end()) {
        entry = entries.insert(key, Entry{what, shown, now, 0});
        write(*entry);
        return;
    }
    if (entry->logged.secsTo(now) < intervalSeconds) {
        ++entry->since;
        return;
    }
    ++entry->since;
    write(*entry);
    entry->logged = now;
    entry->since = 0;
}

void HandshakeLog::write(const Entry &entry)
{
    QString text;
    {
        QDebug line(&text);
        line.noquote() << entry.what;
        if (!entry.origin.isEmpty())
            line << "for the page origin" << LoggedOrigin{entry.origin};
        if (entry.since > 0)
            line << QStringLiteral("(%1 like it since the last line)").arg(entry.since);
    }
    qCWarning(connectorLog).noquote() << text.trimmed();
}

void HandshakeLog::prune(const QDateTime &now)
{
    for (auto entry = entries.begin(); entry != entries.end();) {
        if (entry->logged.secsTo(now) < intervalSeconds) {
            ++entry;
            continue;
        }
        // The count of the last minute is not lost with the entry.
        if (entry->since > 0)
            write(*entry);
        entry = entries.erase(entry);
    }
}

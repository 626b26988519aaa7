// Which web pages may drive the connector, by the origin their browser names at the handshake.
#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

/// The operator's decisions about page origins, kept in a small JSON file so they hold across restarts:
/// {"allowed": [origin, ...], "blocked": [origin, ...]}.
class OriginDecisions
{
public:
    /// path empty: decisions are kept in memory only.
    explicit OriginDecisions(const QString &path = QString());

    /// Reads the file; a damaged one is set aside beside it and logged, and no decision is known.
    void load();
    /// The decision about origin: true allowed, false blocked, none when never decided.
    std::optional<bool> decision(const QString &origin) const;
    /// Remembers a decision and writes the file atomically; false when the file could not be written
    /// (the decision then holds until the connector ends).
    bool remember(const QString &origin, bool allowed);

private:
    QString path;
    QSet<QString> allowed;
    QSet<QString> blocked;
};

class OriginPolicy
{
public:
    /// What happens to a page whose origin is neither listed nor decided.
    enum class Unknown
    {
        Ask,    // the operator decides; the page waits
        Refuse, // HTTP 403 at the handshake
        Allow,  // served, as every page once was
    };
    enum class Verdict
    {
        Serve,
        Refuse,
        Ask,
    };

    /// Every page is served.
    OriginPolicy() = default;
    OriginPolicy(const std::optional<QStringList> &allowedOrigins, Unknown unknown, const QString &decisionsFile);

    /// Listed origins are served. Under "refuse" nothing else is; under "allow" everything is. Under "ask",
    /// a handshake without an Origin header (a local program, not a browser) is served, the origin "null"
    /// (local files, sandboxed frames) is refused without asking, a decided origin as decided, and any
    /// other is asked about.
    Verdict verdict(const QString &origin) const;
    /// Remembers the operator's decision about origin.
    void decide(const QString &origin, bool allow);

private:
    std::optional<QStringList> listed;
    Unknown unknown = Unknown::Allow;
    OriginDecisions decisions;
};

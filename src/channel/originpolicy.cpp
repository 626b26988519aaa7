// Which web pages may drive the connector, by the origin their browser names at the handshake.
#include "channel/originpolicy.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include "platform/connectorlog.h"

namespace {

bool readOrigins(const QJsonValue &value, QSet<QString> *origins)
{
    if (value.isUndefined())
        return true;
    if (!value.isArray())
        return false;
    const QJsonArray array = value.toArray();
    for (const QJsonValue &origin : array) {
        if (!origin.isString())
            return false;
        origins->insert(origin.toString());
    }
    return true;
}

QJsonArray sorted(const QSet<QString> &origins)
{
    QStringList list(origins.begin(), origins.end());
    list.sort();
    return QJsonArray::fromStringList(list);
}

} // namespace

OriginDecisions::OriginDecisions(const QString &path) : path(path) {}

void OriginDecisions::load()
{
    allowed.clear();
    blocked.clear();
    QFile file(path);
    if (path.isEmpty() || !file.exists())
        return;
    const QJsonDocument document =
        file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()) : QJsonDocument();
    file.close();
    const QJsonObject object = document.object();
    if (document.isObject() && readOrigins(object.value(QLatin1String("allowed")), &allowed) &&
        readOrigins(object.value(QLatin1String("blocked")), &blocked)) {
        qCInfo(connectorLog).noquote() << "Page origin decisions read from" << path << ":" << allowed.size()
                                       << "allowed," << blocked.size() << "blocked";
        return;
    }
    allowed.clear();
    blocked.clear();
    // Kept for whoever wants to see what went wrong; the operator decides afresh.
    const QString aside =
        path + QStringLiteral(".damaged-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QFile::rename(path, aside);
    qCWarning(connectorLog) << "Page origin decisions file is damaged; set aside as" << aside;
}

std::optional<bool> OriginDecisions::decision(const QString &origin) const
{
    if (allowed.contains(origin))
        return true;
    if (blocked.contains(origin))
        return false;
    return std::nullopt;
}

bool OriginDecisions::remember(const QString &origin, bool allow)
{
    (allow ? allowed : blocked).insert(origin);
    (allow ? blocked : allowed).remove(origin);
    if (path.isEmpty())
        return true;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qCWarning(connectorLog) << "Page origin decisions cannot be written to" << path << ":" << file.errorString();
        return false;
    }
    const QJsonObject object{{QStringLiteral("allowed"), sorted(allowed)},
                             {QStringLiteral("blocked"), sorted(blocked)}};
    file.write(QJsonDocument(object).toJson());
    if (file.commit())
        return true;
    qCWarning(connectorLog) << "Page origin decisions cannot be written to" << path << ":" << file.errorString();
    return false;
}

OriginPolicy::OriginPolicy(const std::optional<QStringList> &allowedOrigins, Unknown unknown,
                           const QString &decisionsFile)
    : listed(allowedOrigins), unknown(unknown), decisions(decisionsFile)
{
    decisions.load();
}

OriginPolicy::Verdict OriginPolicy::verdict(const QString &origin) const
{
    // Exact comparison: scheme, host and port must all match an entry.
    if (listed && listed->contains(origin))
        return Verdict::Serve;
    if (unknown == Unknown::Allow)
        return Verdict::Serve;
    // Only the list counts under "refuse", as it always did; the operator's decisions only where the
    // operator is asked.
    if (unknown == Unknown::Refuse)
        return Verdict::Refuse;
    if (origin.isEmpty())
        return Verdict::Serve;
    if (origin == QLatin1String("null"))
        return Verdict::Refuse;
    if (const std::optional<bool> decided = decisions.decision(origin))
        return *decided ? Verdict::Serve : Verdict::Refuse;
    return Verdict::Ask;
}

void OriginPolicy::decide(const QString &origin, bool allow)
{
    decisions.remember(origin, allow);
}

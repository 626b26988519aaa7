// The operator's answers about page origins and application folders, kept across restarts.
#include "channel/operatordecisions.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>

#include "platform/connectorlog.h"

namespace {

bool readNames(const QJsonValue &value, QSet<QString> *names)
{
    if (value.isUndefined())
        return true;
    if (!value.isArray())
        return false;
    const QJsonArray array = value.toArray();
    for (const QJsonValue &name : array) {
        if (!name.isString())
            return false;
        names->insert(name.toString());
    }
    return true;
}

QStringList sorted(const QSet<QString> &names)
{
    QStringList list(names.begin(), names.end());
    list.sort();
    return list;
}

} // namespace

OperatorDecisions::OperatorDecisions(const QString &path) : path(path) {}

void OperatorDecisions::load()
{
    origins = {};
    folders = {};
    QFile file(path);
    if (path.isEmpty() || !file.exists())
        return;
    const QJsonDocument document =
        file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()) : QJsonDocument();
    file.close();
    const QJsonObject object = document.object();
    if (document.isObject() && readNames(object.value(QLatin1String("allowed")), &origins.allowed) &&
        readNames(object.value(QLatin1String("blocked")), &origins.blocked) &&
        readNames(object.value(QLatin1String("allowed_folders")), &folders.allowed) &&
        readNames(object.value(QLatin1String("blocked_folders")), &folders.blocked)) {
        qCInfo(connectorLog).noquote() << "Operator decisions read from" << path << ":" << origins.allowed.size()
                                       << "origins allowed," << origins.blocked.size() << "blocked;"
                                       << folders.allowed.size() << "folders allowed," << folders.blocked.size()
                                       << "blocked";
        return;
    }
    origins = {};
    folders = {};
    // Kept for whoever wants to see what went wrong; the operator decides afresh.
    const QString aside =
        path + QStringLiteral(".damaged-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QFile::rename(path, aside);
    qCWarning(connectorLog) << "Operator decisions file is damaged; set aside as" << aside;
}

std::optional<bool> OperatorDecisions::decision(Subject subject, const QString &name) const
{
    const Kept &decided = kept(subject);
    if (decided.allowed.contains(name))
        return true;
    if (decided.blocked.contains(name) || decided.blockedForNow.contains(name))
        return false;
    return std::nullopt;
}

bool OperatorDecisions::remember(Subject subject, const QString &name, bool allowed, bool lasting)
{
    Kept &decided = kept(subject);
    decided.allowed.remove(name);
    decided.blocked.remove(name);
    decided.blockedForNow.remove(name);
    if (allowed)
        decided.allowed.insert(name);
    else
        (lasting ? decided.blocked : decided.blockedForNow).insert(name);
    return write();
}

bool OperatorDecisions::forget(Subject subject, const QString &name)
{
    Kept &decided = kept(subject);
    decided.allowed.remove(name);
    decided.blocked.remove(name);
    decided.blockedForNow.remove(name);
    return write();
}

QList<OperatorDecisions::Entry> OperatorDecisions::entries() const
{
    QList<Entry> list;
    for (const Subject subject : {Subject::Origin, Subject::Folder}) {
        const Kept &decided = kept(subject);
        QList<Entry> ofSubject;
        for (const QString &name : decided.allowed)
            ofSubject.append({subject, name, true, true});
        for (const QString &name : decided.blocked)
            ofSubject.append({subject, name, false, true});
        for (const QString &name : decided.blockedForNow)
            ofSubject.append({subject, name, false, false});
        std::sort(ofSubject.begin(), ofSubject.end(), [](const Entry &a, const Entry &b) { return a.name < b.name; });
        list += ofSubject;
    }
    return list;
}

bool OperatorDecisions::write() const
{
    if (path.isEmpty())
        return true;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    const QJsonObject object{
        {QStringLiteral("allowed"), QJsonArray::fromStringList(sorted(origins.allowed))},
        {QStringLiteral("blocked"), QJsonArray::fromStringList(sorted(origins.blocked))},
        {QStringLiteral("allowed_folders"), QJsonArray::fromStringList(sorted(folders.allowed))},
        {QStringLiteral("blocked_folders"), QJsonArray::fromStringList(sorted(folders.blocked))},
    };
    if (file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(object).toJson()) >= 0 && file.commit())
        return true;
    qCWarning(connectorLog) << "Operator decisions cannot be written to" << path << ":" << file.errorString();
    return false;
}

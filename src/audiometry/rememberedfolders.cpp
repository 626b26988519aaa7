// What the connector remembers across a restart of the exchange folders in which exams wait for results.
#include "audiometry/rememberedfolders.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QLatin1String listKey("waiting_exams");
const QLatin1String folderKey("exchange_folder");
const QLatin1String requestKey("request");
const QLatin1String earlierKey("earlier_exams");

} // namespace

QByteArray rememberedFoldersJson(const QList<RememberedFolder> &folders)
{
    QJsonArray entries;
    for (const RememberedFolder &folder : folders)
        entries.append(QJsonObject{{folderKey, folder.exchangeFolder},
                                   {requestKey, folder.requestAwaited},
                                   {earlierKey, folder.earlierExamsAwaited}});
    return QJsonDocument(QJsonObject{{listKey, entries}}).toJson();
}

QList<RememberedFolder> parseRememberedFolders(const QByteArray &json)
{
    QList<RememberedFolder> folders;
    const QJsonArray entries = QJsonDocument::fromJson(json).object().value(listKey).toArray();
    for (const QJsonValue &value : entries) {
        const QJsonObject entry = value.toObject();
        const QJsonValue folder = entry.value(folderKey);
        if (!folder.isString() || !QFileInfo(folder.toString()).isAbsolute())
            continue;
        folders.append({folder.toString(), entry.value(requestKey).toBool(), entry.value(earlierKey).toBool()});
    }
    return folders;
}

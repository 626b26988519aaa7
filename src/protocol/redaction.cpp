// The page's text as the log file may keep it: every patient value replaced.
#include "protocol/redaction.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace {

const QString hidden = QStringLiteral("***");

bool isPatientKey(const QString &key)
{
    static const QStringList keys{QStringLiteral("patient"),   QStringLiteral("first_name"),
                                  QStringLiteral("last_name"), QStringLiteral("birth_date"),
                                  QStringLiteral("code"),      QStringLiteral("address"),
                                  QStringLiteral("city"),      QStringLiteral("results")};
    return keys.contains(key);
}

/// all: every leaf is a patient value (inside "patient"); otherwise only those under a patient key.
QJsonValue redacted(const QJsonValue &value, bool all)
{
    if (value.isObject()) {
        QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            it.value() = redacted(it.value(), all || isPatientKey(it.key()));
        return object;
    }
    if (value.isArray()) {
        QJsonArray array = value.toArray();
        for (auto it = array.begin(); it != array.end(); ++it)
            *it = redacted(*it, all);
        return array;
    }
    return all ? QJsonValue(hidden) : value;
}

} // namespace

QString redactedMessage(const QJsonDocument &document, int messageLength)
{
    if (!document.isObject() && !document.isArray())
        return QStringLiteral("(no JSON object, %1 characters)").arg(messageLength);
    const QJsonValue value = redacted(document.isObject() ? QJsonValue(document.object()) : document.array(), false);
    const QString text =
        QString::fromUtf8((value.isObject() ? QJsonDocument(value.toObject()) : QJsonDocument(value.toArray()))
                              .toJson(QJsonDocument::Compact));
    if (text.size() <= maxRedactedLength)
        return text;
    return text.left(maxRedactedLength) + QStringLiteral("... (%1 characters)").arg(text.size());
}

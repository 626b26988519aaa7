// Decides from the bytes of the version manifest whether the connector should be updated.
#include "update/updatedecision.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cmath>
#include <limits>

namespace {

// A whole number in the range of int keeps its value; any other value counts as 0.
int manifestVersion(const QJsonValue &value)
{
    if (!value.isDouble())
        return 0;
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::trunc(number) != number ||
        number < static_cast<double>(std::numeric_limits<int>::min()) ||
        number > static_cast<double>(std::numeric_limits<int>::max()))
        return 0;
    return static_cast<int>(number);
}

} // namespace

UpdateDecision decideUpdate(const QByteArray &manifest, int ownVersion)
{
    QByteArray body = manifest;
    body.replace('\n', QByteArray());
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return UpdateDecision::NoUpdate;
    const QJsonObject object = document.object();
    if (!object.contains(QLatin1String("version")))
        return UpdateDecision::NoUpdate;
    if (!(ownVersion < manifestVersion(object.value(QLatin1String("version")))))
        return UpdateDecision::NoUpdate;
    return object.value(QLatin1String("mandatory")) == QJsonValue(true) ? UpdateDecision::Mandatory
                                                                        : UpdateDecision::Optional;
}

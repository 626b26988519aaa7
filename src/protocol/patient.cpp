// The patient record that both start commands carry under "patient", read once.
#include "protocol/patient.h"

#include <algorithm>
#include <cmath>

std::optional<SocketMessage> Patient::readError(const QJsonObject &args)
{
    const QJsonObject patient = args.value(QLatin1String("patient")).toObject();
    if (patient.isEmpty())
        return INVALID_ARGUMENTS;
    for (const char *key : {"first_name", "last_name", "birth_date", "code", "gender", "height", "weight"}) {
        if (!patient.contains(QLatin1String(key)))
            return INCOMPLETE_PATIENT;
    }
    const QString code = textOrNumber(patient.value(QLatin1String("code")));
    if (code.isEmpty() || code.front().isSpace() || code.back().isSpace() ||
        std::any_of(code.begin(), code.end(), isControlCharacter))
        return INCOMPLETE_PATIENT;
    return std::nullopt;
}

Patient Patient::fromRecord(const QJsonObject &patient)
{
    Patient result;
    result.code = textOrNumber(patient.value(QLatin1String("code")));
    result.firstName = textOrNumber(patient.value(QLatin1String("first_name")));
    result.lastName = textOrNumber(patient.value(QLatin1String("last_name")));
    result.birthDate = text(patient.value(QLatin1String("birth_date")));
    result.city = text(patient.value(QLatin1String("city")));
    result.address = text(patient.value(QLatin1String("address")));
    result.gender = patient.value(QLatin1String("gender"));
    return result;
}

QString Patient::text(const QJsonValue &value)
{
    return value.isString() ? value.toString() : QString();
}

QString Patient::textOrNumber(const QJsonValue &value)
{
    if (!value.isDouble())
        return text(value);
    // Only numbers below 2^53: from there on a double may already hold a neighbour of what the page sent.
    constexpr double exactLimit = 9007199254740992.0; // 2^53
    const double number = value.toDouble();
    if (std::trunc(number) != number || std::fabs(number) >= exactLimit)
        return QString();
    return QString::number(static_cast<qint64>(number));
}

bool Patient::isControlCharacter(QChar c)
{
    return c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() <= 0x9f);
}

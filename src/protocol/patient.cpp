// The patient record that both start commands carry under "patient", read once.
#include "protocol/patient.h"

std::optional<SocketMessage> Patient::readError(const QJsonObject &args)
{
    const QJsonObject patient = args.value(QLatin1String("patient")).toObject();
    if (patient.isEmpty())
        return INVALID_ARGUMENTS;
    for (const char *key : {"first_name", "last_name", "birth_date", "code", "gender", "height", "weight"}) {
        if (!patient.contains(QLatin1String(key)))
            return INCOMPLETE_PATIENT;
    }
    return std::nullopt;
}

Patient Patient::fromRecord(const QJsonObject &patient)
{
    Patient result;
    result.code = text(patient.value(QLatin1String("code")));
    result.firstName = text(patient.value(QLatin1String("first_name")));
    result.lastName = text(patient.value(QLatin1String("last_name")));
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

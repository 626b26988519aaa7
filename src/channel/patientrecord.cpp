// Checks the patient record that both start commands carry under "patient".
#include "channel/patientrecord.h"

std::optional<SocketMessage> patientRecordError(const QJsonObject &args)
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

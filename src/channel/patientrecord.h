// Checks the patient record that both start commands carry under "patient".
#pragma once

#include <QJsonObject>

#include <optional>

#include "channel/socketmessage.h"

/// The error a start command gets for its "patient": INVALID_ARGUMENTS when it is absent, not an object
/// or empty, INCOMPLETE_PATIENT when one of the seven required keys is absent; none when it is complete.
/// Only presence counts: null or empty values pass.
std::optional<SocketMessage> patientRecordError(const QJsonObject &args);

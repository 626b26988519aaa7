// The page's text as the log file may keep it: every patient value replaced.
#pragma once

#include <QJsonDocument>
#include <QString>

/// The message, parsed as a JSON document, with the value of every patient key replaced by "***", keys
/// kept: everything under "patient", and the keys that carry patient values wherever they stand (names,
/// birth date, code, address, city, results). Text that is no JSON object or array gives only its length
/// (messageLength characters), since a patient value could stand anywhere in it. A long result is cut to
/// maxRedactedLength characters and says how long it was.
QString redactedMessage(const QJsonDocument &document, int messageLength);

constexpr int maxRedactedLength = 2048;

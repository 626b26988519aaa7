// Builds the GDT record that asks the audiometry application for a new examination.
#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QString>

#include <optional>

#include "protocol/patient.h"

/// One GDT line without its line end: the three-digit length prefix (four digits from a length of
/// 1000 on) followed by the field identifier and content. The length counts the prefix, the text
/// and the two bytes of CR LF.
QString gdtLine(const QString &fieldAndContent);

/// The five-digit record length of field 8100 for a record whose text, without the 8100 line,
/// is given with "\n" line ends. Every line end counts as the two bytes of CR LF, and the 8100
/// line itself is included.
QString gdtRecordLength(const QString &recordWithoutLengthLine);

/// The GDT sex digit: "2" when "gender" is the JSON number 1, "1" for anything else.
QString gdtGenderDigit(const QJsonValue &gender);

/// Whether every line of the patient's request fits the three-digit length prefix: at most 999 bytes with
/// prefix, field and CR LF, so no content may exceed 990 characters. A longer line would need a fourth
/// digit that strict readers refuse.
bool gdtRequestFits(const Patient &patient);

/// The whole request record (type 6302) for a patient, as the bytes of the file:
/// ISO 8859-1 with "?" for other characters, CR LF after every line. Every control character in a
/// patient text is written as a blank, so no value can add a line of its own.
QByteArray gdtRequestRecord(const Patient &patient);

/// The patient number (3000) and the names (3101, 3102) of a request record as gdtRequestRecord writes it;
/// none when the bytes are no such record or name no patient number.
std::optional<Patient> gdtRequestPatient(const QByteArray &record);

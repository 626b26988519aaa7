// Builds the GDT record that asks the audiometry application for a new examination.
#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QString>

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

/// The whole request record (type 6302) for a patient, as the bytes of the file:
/// ISO 8859-1 with "?" for other characters, CR LF after every line.
QByteArray gdtRequestRecord(const Patient &patient);

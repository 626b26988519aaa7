// The patient record that both start commands carry under "patient", read once.
#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

#include "protocol/socketmessage.h"

/// The values the bridges use. A text field is the JSON string's value, or a null QString when the
/// value is no string (or absent), so a bridge can tell "no text" from an empty text. "code" and the
/// names also take a whole JSON number, as its decimal text: page back ends send numeric codes.
struct Patient
{
    QString code;
    QString firstName; // written into the family-name slot of both applications (GDT 3101, column Name)
    QString lastName;  // written into the given-name slot (GDT 3102, column Vorname)
    QString birthDate;
    QString city;    // optional
    QString address; // optional
    QJsonValue gender;

    /// The patient of a start command's "args": the error INVALID_ARGUMENTS when "patient" is absent, not
    /// an object or empty, INCOMPLETE_PATIENT when one of the seven required keys is absent or "code" is no
    /// usable text (null, a boolean, an array, an object, a fraction, empty text): without a code the
    /// applications could not tell the patient from any other. A code with a control character or with
    /// blanks at either end is refused too: it would add lines to a request file, or name another patient
    /// than the one it looks like. The other values are not examined.
    static std::optional<SocketMessage> readError(const QJsonObject &args);
    /// The values of a record that passed readError (absent optional keys give null texts).
    static Patient fromRecord(const QJsonObject &patient);

    /// A patient value as text: the value of a JSON string, a null QString for anything else.
    static QString text(const QJsonValue &value);
    /// The same, but a whole JSON number gives its decimal text (12345 gives "12345").
    static QString textOrNumber(const QJsonValue &value);
    /// U+0000 to U+001F and U+007F to U+009F: line ends, tabs, NUL and the like (U+0085 ends a line too).
    static bool isControlCharacter(QChar c);
};

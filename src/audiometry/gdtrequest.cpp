// Builds the GDT record that asks the audiometry application for a new examination.
#include "audiometry/gdtrequest.h"

namespace {

// Identifiers of the patient fields of the request.
const QLatin1String patientNumberField("3000");
const QLatin1String familyNameField("3101");
const QLatin1String givenNameField("3102");
const QLatin1String birthDateField("3103");
const QLatin1String cityField("3106");
const QLatin1String streetField("3107");
const QLatin1String sexField("3110");

const QLatin1Char lineEnd('\n');

} // namespace

QString gdtLine(const QString &fieldAndContent)
{
    // 3 prefix digits + the text + CR LF; longer lines keep every digit instead of being cut.
    const int length = fieldAndContent.size() + 5;
    return QStringLiteral("%1").arg(length, 3, 10, QLatin1Char('0')) + fieldAndContent;
}

QString gdtRecordLength(const QString &recordWithoutLengthLine)
{
    // The 8100 line itself is 14 bytes: "0148100", five digits, CR LF.
    const int length = recordWithoutLengthLine.size() + recordWithoutLengthLine.count(lineEnd) + 14;
    return QStringLiteral("%1").arg(length, 5, 10, QLatin1Char('0'));
}

QString gdtGenderDigit(const QJsonValue &gender)
{
    return gender.isDouble() && gender.toDouble() == 1.0 ? QStringLiteral("2") : QStringLiteral("1");
}

QByteArray gdtRequestRecord(const Patient &patient)
{
    const QString typeLine = QStringLiteral("01380006302") + lineEnd;

    QString birthDate = patient.birthDate;
    birthDate.remove(QLatin1Char('/'));

    QString body;
    body += QStringLiteral("01392182.00") + lineEnd;
    body += gdtLine(patientNumberField + patient.code) + lineEnd;
    body += gdtLine(familyNameField + patient.firstName) + lineEnd;
    body += gdtLine(givenNameField + patient.lastName) + lineEnd;
    body += gdtLine(birthDateField + birthDate) + lineEnd;
    body += gdtLine(cityField + patient.city) + lineEnd;
    body += gdtLine(streetField + patient.address) + lineEnd;
    body += gdtLine(sexField + gdtGenderDigit(patient.gender)) + lineEnd;
    body += QStringLiteral("01036220") + lineEnd;
    body += QStringLiteral("01036230") + lineEnd;
    body += QStringLiteral("0258402TONAL_AUDIOMETRY") + lineEnd;
    body += QStringLiteral("01092062") + lineEnd;

    const QString record = typeLine + QStringLiteral("0148100") + gdtRecordLength(typeLine + body) + lineEnd + body;

    // Every UTF-16 unit becomes one byte ("?" outside ISO 8859-1), so the counted lengths hold;
    // a line break inside a content is written as CR LF like every line end.
    QByteArray bytes = record.toLatin1();
    bytes.replace('\n', "\r\n");
    return bytes;
}

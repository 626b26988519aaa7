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

// The longest content whose line keeps a three-digit length: 3 + 4 + 990 + 2 = 999 bytes.
constexpr int longestContent = 990;

/// A patient text as written into its line: every control character a blank.
QString gdtContent(QString text)
{
    for (QChar &c : text) {
        if (Patient::isControlCharacter(c))
            c = QLatin1Char(' ');
    }
    return text;
}

QString birthDateContent(const Patient &patient)
{
    QString birthDate = patient.birthDate;
    return birthDate.remove(QLatin1Char('/'));
}

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

bool gdtRequestFits(const Patient &patient)
{
    for (const QString &content : {patient.code, patient.firstName, patient.lastName, birthDateContent(patient),
                                   patient.city, patient.address}) {
        if (content.size() > longestContent)
            return false;
    }
    return true;
}

QByteArray gdtRequestRecord(const Patient &patient)
{
    const QString typeLine = QStringLiteral("01380006302") + lineEnd;

    QString body;
    body += QStringLiteral("01392182.00") + lineEnd;
    body += gdtLine(patientNumberField + gdtContent(patient.code)) + lineEnd;
    body += gdtLine(familyNameField + gdtContent(patient.firstName)) + lineEnd;
    body += gdtLine(givenNameField + gdtContent(patient.lastName)) + lineEnd;
    body += gdtLine(birthDateField + gdtContent(birthDateContent(patient))) + lineEnd;
    body += gdtLine(cityField + gdtContent(patient.city)) + lineEnd;
    body += gdtLine(streetField + gdtContent(patient.address)) + lineEnd;
    body += gdtLine(sexField + gdtGenderDigit(patient.gender)) + lineEnd;
    body += QStringLiteral("01036220") + lineEnd;
    body += QStringLiteral("01036230") + lineEnd;
    body += QStringLiteral("0258402TONAL_AUDIOMETRY") + lineEnd;
    body += QStringLiteral("01092062") + lineEnd;

    const QString record = typeLine + QStringLiteral("0148100") + gdtRecordLength(typeLine + body) + lineEnd + body;

    // Every UTF-16 unit becomes one byte ("?" outside ISO 8859-1), so the counted lengths hold.
    QByteArray bytes = record.toLatin1();
    bytes.replace('\n', "\r\n");
    return bytes;
}

std::optional<Patient> gdtRequestPatient(const QByteArray &record)
{
    QList<QByteArray> lines = record.split('\n');
    if (lines.size() < 2 || !lines.takeLast().isEmpty() || lines.first() != "01380006302\r")
        return std::nullopt;
    Patient patient;
    for (QByteArray line : lines) {
        if (!line.endsWith('\r'))
            return std::nullopt;
        line.chop(1);
        bool number = false;
        if (line.size() < 7 || line.left(3).toInt(&number) != line.size() + 2 || !number)
            return std::nullopt;
        const QByteArray field = line.mid(3, 4);
        const QString content = QString::fromLatin1(line.mid(7));
        if (field == patientNumberField.latin1())
            patient.code = content;
        else if (field == familyNameField.latin1())
            patient.firstName = content;
        else if (field == givenNameField.latin1())
            patient.lastName = content;
    }
    if (patient.code.isEmpty())
        return std::nullopt;
    return patient;
}

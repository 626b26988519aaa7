// Feeds arbitrary patient records through the GDT request writer and checks the record stays well formed.
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>

#include <cstdint>
#include <cstdlib>

#include "audiometry/gdtrequest.h"

namespace {

const char *const textKeys[] = {"code", "first_name", "last_name", "birth_date", "city", "address"};

// A patient from the input: a JSON object as it is, otherwise the input's lines as the text fields.
QJsonObject patientFrom(const QByteArray &input)
{
    const QJsonDocument document = QJsonDocument::fromJson(input);
    if (document.isObject())
        return document.object();
    QJsonObject patient;
    const QList<QByteArray> parts = input.split('\x1f');
    for (int i = 0; i < parts.size() && i < 6; ++i)
        patient.insert(QLatin1String(textKeys[i]), QString::fromUtf8(parts.at(i)));
    patient.insert(QStringLiteral("gender"), parts.size() > 6 ? 1 : 2);
    return patient;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), int(size));
    const Patient patient = Patient::fromRecord(patientFrom(input));
    const QByteArray record = gdtRequestRecord(patient);

    // Every record starts with its type, ends with the character-set line and declares its own size.
    if (!record.startsWith("01380006302\r\n0148100") || !record.endsWith("01092062\r\n"))
        std::abort();
    if (record.size() <= 99999 && record.mid(20, 5).toInt() != record.size())
        std::abort();
    // No bare line feed: every line end is CR LF, and no value adds a line of its own.
    for (int i = 0; i < record.size(); ++i) {
        if (record.at(i) == '\n' && (i == 0 || record.at(i - 1) != '\r'))
            std::abort();
    }
    if (record.count('\n') != 14)
        std::abort();
    // A patient the command accepts gets three-digit lengths that match, and is read back from its record.
    if (gdtRequestFits(patient)) {
        for (QByteArray line : record.split('\n')) {
            if (line.isEmpty())
                continue;
            line.chop(1);
            if (line.left(3).toInt() != line.size() + 2)
                std::abort();
        }
        if (gdtRequestPatient(record).has_value() != !patient.code.isEmpty())
            std::abort();
    }
    return 0;
}

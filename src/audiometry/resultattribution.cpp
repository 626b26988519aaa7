// Which waiting exam a result file answers: by its time when only one patient can own it, else by its text.
#include "audiometry/resultattribution.h"

#include <algorithm>

namespace {

bool isFieldBoundary(const QString &text, int index)
{
    if (index < 0 || index >= text.size())
        return true;
    static const QString boundaries = QStringLiteral("\r\n;,\t\"'");
    return boundaries.contains(text.at(index));
}

} // namespace

bool containsField(const QString &text, const QString &value)
{
    if (value.isEmpty())
        return false;
    for (int at = text.indexOf(value); at >= 0; at = text.indexOf(value, at + 1)) {
        if (isFieldBoundary(text, at - 1) && isFieldBoundary(text, at + value.size()))
            return true;
    }
    return false;
}

Attribution attributeResult(const QList<ExamRequest> &owners, const QDateTime &resultModified, const QString &text)
{
    QList<int> candidates;
    for (int i = 0; i < owners.size(); ++i) {
        const ExamRequest &owner = owners.at(i);
        if (!owner.isKnown() || resultModified > owner.writtenAt)
            candidates.append(i);
    }
    if (candidates.isEmpty())
        return {Attribution::Nobody, -1};

    // One patient, however often requested: the newest request is the one the application answered.
    const ExamRequest &newest = owners.at(candidates.last());
    const bool onePatient = std::all_of(candidates.begin(), candidates.end(), [&](int i) {
        return owners.at(i).isKnown() && owners.at(i).patient.code == newest.patient.code;
    });
    if (onePatient)
        return {Attribution::Owner, candidates.last()};
    if (candidates.size() == 1) // an exam whose patient is unknown
        return {Attribution::Unattributed, -1};

    int named = -1;
    for (const int i : candidates) {
        const ExamRequest &owner = owners.at(i);
        if (!owner.isKnown() || !containsField(text, owner.patient.code))
            continue;
        if (named >= 0 && owners.at(named).patient.code != owner.patient.code)
            return {Attribution::Unattributed, -1};
        named = i; // of one code named twice, the newest request
    }
    if (named < 0)
        return {Attribution::Unattributed, -1};
    return {Attribution::Owner, named};
}

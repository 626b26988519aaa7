// Which waiting exam a result file answers: by its time when only one patient can own it, else by its text.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include "protocol/patient.h"

/// The exam a request file asks for: the patient it was written for and the request file's own
/// modification time, against which result files are dated. An exam remembered across a restart without
/// its patient has a null code and no time.
struct ExamRequest
{
    Patient patient;
    QDateTime writtenAt;

    bool isKnown() const { return !patient.code.isNull(); }
};

/// Whom a result file is given to.
struct Attribution
{
    enum Kind
    {
        Owner,        ///< the exam at index owner
        Nobody,       ///< older than every request: left from before, nobody's
        Unattributed, ///< several patients may own it and its text names none or several of them
    };
    Kind kind = Nobody;
    int owner = -1;
};

/// The exams that may own the result are those whose request is older than the result (an unknown exam
/// always may). When they are all one patient (one exam, or one code requested again) the newest of them
/// gets it, as the result answers the request it found. When they are several patients, the result goes
/// to the one whose code its text holds as a whole field; a result naming none or several of them is
/// nobody's to guess. owners is ordered oldest first.
Attribution attributeResult(const QList<ExamRequest> &owners, const QDateTime &resultModified, const QString &text);

/// Whether text holds value as a whole field: between the text's or a line's start or end, the
/// separators ';', ',' and tab, and quotes.
bool containsField(const QString &text, const QString &value);

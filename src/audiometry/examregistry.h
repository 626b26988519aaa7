// The one waiting exam of each exchange folder, remembered across a restart of the connector.
#pragma once

#include <QList>
#include <QPointer>
#include <QString>

#include <map>

#include "audiometry/audiometrysettings.h"

class HelixExam;

/// The router owns it and every audiometry bridge asks it. Once resumed with a state file, it keeps there the
/// folders in which exams wait (folder paths only), whenever that changes.
class ExamRegistry
{
public:
    /// Makes exam the waiting exam of its folder. An exam already waiting there is stopped, and what it
    /// waited for is handed to the new exam.
    void replace(const QString &exchangeFolder, HelixExam *exam);
    /// The number of folders in which an exam waits now.
    int waiting() const;

    /// Rebuilds the exams remembered in settings.waitingExamsFile: for each folder, the exam of its request
    /// file "hedeprax.gdt" when that still waited and is still there (patient number and names read from
    /// it), and exams of unknown patients when replaced ones waited too. Returns them started, for the
    /// caller to connect; from now on the file is kept up to date.
    QList<HelixExam *> resume(const AudiometrySettings &settings);

private:
    static QString key(const QString &exchangeFolder);
    void remember();

    std::map<QString, QPointer<HelixExam>> exams;
    QString stateFile;
    FileOperations *files = nullptr;
};

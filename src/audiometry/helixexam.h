// One audiometry exam waiting for its result in the exchange folder, with the exams it replaced there.
#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <optional>

#include "audiometry/audiometrysettings.h"
#include "audiometry/resultattribution.h"
#include "protocol/patient.h"
#include "protocol/socketmessage.h"

/// "code", "first_name" and "last_name" of the exam's patient, for the exam's frames.
QJsonObject examPayload(const Patient &patient);

/// The executable's name as the process list shows it.
QString helixExecutableName();

/// Polls the exchange folder for "TEST_DATA.csv" and gives each result to the exam it answers (see
/// attributeResult): its own exam, or one of the exams it replaced in the folder, which stay possible owners
/// until a result was given to them or the application is seen not running. A result older than every
/// request is nobody's and is moved aside into "unclaimed"; one that several patients may own and whose text
/// names none or several of them goes there too, and the page learns it with HELIX_RESULT_UNATTRIBUTED. A
/// result is taken by moving it into "claimed" before it is read, so it is never reported twice.
class HelixExam : public QObject
{
    Q_OBJECT

public:
    /// own is the request this exam was started with; none for an exam that only waits for the results of
    /// exams remembered from before a restart.
    HelixExam(const QString &exchangeFolder, const std::optional<ExamRequest> &own, const AudiometrySettings &settings,
              QObject *parent = nullptr);
    ~HelixExam() override;

    /// Takes over what the exam this one replaces still waits for (its request, the requests it replaced,
    /// a result taken but not yet read); that exam is stopped.
    void replace(HelixExam &earlier);
    /// An exam from before a restart, whose patient is unknown, may still get a result.
    void addUnknownEarlierExam();
    /// The application was seen not running: the exams this one replaced get no result any more, unless
    /// one waits in the folder already.
    void applicationNotRunning();

    /// Starts polling.
    void start();
    /// Stops polling for good: no exam waits any more, or a newer exam in the same folder took over.
    void stop();
    /// Whether some exam still waits here for a result.
    bool isWaiting() const;
    bool awaitsOwnResult() const { return !stopped && own.has_value(); }
    bool awaitsEarlierResults() const { return !stopped && !earlier.isEmpty(); }
    QString exchangeFolder() const { return folder; }

    static constexpr int pollIntervalMs = 500;
    /// A result file must have been left alone this long before it is taken, so that a file the
    /// application is still writing is not taken half-written.
    static constexpr qint64 resultSettleMs = 500;
    /// A result file that cannot be taken this many polls in a row is logged with the reason, and again every
    /// minute while it lasts: the application, a virus scanner or a backup agent may hold it.
    static constexpr int failedTakesBeforeLog = 5;
    static constexpr int failedTakesBetweenLogs = 120;

signals:
    void sendMessage(SocketMessage code, QJsonObject payload);
    void sendErrorMessage(SocketMessage code);
    /// The exams waiting here changed: a result was given, earlier exams were given up, or the exam stopped.
    void waitingChanged();
    /// No exam waits here any more, or the exam was stopped.
    void finished();

public slots:
    /// One poll of the exchange folder; the poll timer calls it every pollIntervalMs.
    void watchHelixFolder();

private:
    QString resultFilePath() const;
    bool resultFileSettled(const QString &path);
    /// The requests that may own a result, oldest first; this exam's own is the last.
    QList<ExamRequest> owners() const;
    /// Moves a result file into "unclaimed", where nothing takes it again; whether it moved.
    bool setAside(const QString &path, const QDateTime &modified, const char *why);
    /// Takes the result file into "claimed" and reports it; false when it cannot be taken now.
    bool take(const QString &path, const QDateTime &modified);
    /// Reports the claimed result to the exam it answers, or sets it aside; false when it cannot be read now.
    bool deliverClaimed(std::optional<QByteArray> bytes);
    void removeOwner(int index);
    /// Says in the log where a result that was taken but never read stays.
    void logUnreadClaim();

    QString folder;
    std::optional<ExamRequest> own;
    QList<ExamRequest> earlier; // exams this one replaced that may still get a result, oldest first
    AudiometrySettings settings;
    QTimer pollTimer;
    bool stopped = false;
    QString claimedPath; // a result taken but not yet read
    int failedTakes = 0; // polls in a row in which the result file could not be taken
    QDateTime claimedModified;

    // What the previous poll saw of a result file whose time stamp lies ahead of the clock.
    qint64 seenSize = -1;
    qint64 seenModified = -1;
};

// One audiometry exam waiting for its result in the exchange folder.
#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <map>
#include <optional>

#include "audiometry/audiometrysettings.h"
#include "protocol/patient.h"
#include "protocol/socketmessage.h"

/// The exam a request file asks for: the patient it was written for and the request file's own
/// modification time, against which result files are dated.
struct ExamRequest
{
    Patient patient;
    QDateTime writtenAt;
};

/// "code", "first_name" and "last_name" as written into the request file, for the exam's frames.
QJsonObject examPayload(const Patient &patient);

/// Polls the exchange folder for "TEST_DATA.csv" and decides whose result it is by its modification
/// time: written after this exam's request, it is this exam's; after the request of the exam this one
/// replaced, that exam's; before both, nobody's, and it is moved aside into "unclaimed". A result is
/// taken by renaming it into "claimed" before it is read, so it is never reported twice.
class HelixExam : public QObject
{
    Q_OBJECT

public:
    HelixExam(const QString &exchangeFolder, const ExamRequest &request, const AudiometrySettings &settings,
              QObject *parent = nullptr);

    const ExamRequest &request() const { return own; }
    /// The exam this one replaced in the same folder; its result, should it still come, is delivered as its own.
    void setReplaced(const ExamRequest &earlier) { replaced = earlier; }
    /// Starts polling.
    void start();
    /// Stops polling for good: the exam's result was reported, or a newer exam in the same folder took over.
    void stop();
    bool isWaiting() const { return waiting; }

    static constexpr int pollIntervalMs = 500;
    /// A result file must have been left alone this long before it is taken, so that a file the
    /// application is still writing is not taken half-written.
    static constexpr qint64 resultSettleMs = 500;

signals:
    void sendMessage(SocketMessage code, QJsonObject payload);
    /// The exam's own result has been reported, or the exam was stopped.
    void finished();

public slots:
    /// One poll of the exchange folder; the poll timer calls it every pollIntervalMs.
    void watchHelixFolder();

private:
    QString resultFilePath() const;
    bool resultFileSettled(const QString &path);
    void setAside(const QString &path, const QDateTime &modified);
    /// Takes the result file into "claimed"; false when it cannot be taken now.
    bool claim(const QString &path, const QDateTime &modified);
    /// Reads the claimed file and reports it with its exam's patient; false when it cannot be read now.
    bool deliverClaimed();

    QString folder;
    ExamRequest own;
    std::optional<ExamRequest> replaced;
    AudiometrySettings settings;
    QTimer pollTimer;
    bool waiting = false;
    QString claimedPath;       // a result taken but not yet reported
    bool claimedIsOwn = false; // whether it is this exam's result or the replaced exam's

    // What the previous poll saw of a result file whose time stamp lies ahead of the clock.
    qint64 seenSize = -1;
    qint64 seenModified = -1;
};

/// Holds the one waiting exam of each exchange folder; the router owns it and every bridge asks it.
class ExamRegistry
{
public:
    /// Makes exam the waiting exam of its folder. An exam already waiting there is stopped, and its
    /// request is handed to the new exam.
    void replace(const QString &exchangeFolder, HelixExam *exam);
    /// The number of exams waiting now.
    int waiting() const;

private:
    static QString key(const QString &exchangeFolder);
    std::map<QString, QPointer<HelixExam>> exams;
};

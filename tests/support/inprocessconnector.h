// The connector's channel and routing inside the test process, with the outside world replaced.
#pragma once

#include <QDateTime>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <optional>

#include "app/commandrouter.h"
#include "channel/operatorchannel.h"
#include "platform/clock.h"
#include "platform/fileoperations.h"
#include "platform/programlauncher.h"
#include "platform/runningprograms.h"

/// Records every program the connector starts instead of starting it; answers with `result`.
class RecordingLauncher : public ProgramLauncher
{
public:
    struct Start
    {
        QString program;
        QStringList arguments;
        QString workingDirectory;
    };

    bool startDetached(const QString &program, const QStringList &arguments, const QString &workingDirectory) override
    {
        starts.append({program, arguments, workingDirectory});
        return result;
    }

    QList<Start> starts;
    bool result = true;
};

/// The real clock moved by an offset the test chooses.
class OffsetClock : public Clock
{
public:
    QDateTime now() const override { return Clock::now().addMSecs(offsetMs); }
    qint64 offsetMs = 0;
};

/// The processes the test says are running; none unless it says so.
class ListedPrograms : public RunningPrograms
{
public:
    QList<Process> processes() const override { return listed; }
    QList<Process> listed;
};

/// Real file operations, or a refusal while the test says so (a file held open by another program).
class SwitchableFiles : public FileOperations
{
public:
    bool rename(const QString &from, const QString &to) override
    {
        return !failRename && FileOperations::rename(from, to);
    }
    bool remove(const QString &path) override { return !failRemove && FileOperations::remove(path); }
    std::optional<QByteArray> read(const QString &path) override
    {
        return failRead ? std::nullopt : FileOperations::read(path);
    }
    bool replace(const QString &path, const QByteArray &content) override
    {
        return !failReplace && FileOperations::replace(path, content);
    }
    bool failRename = false;
    bool failRemove = false;
    bool failRead = false;
    bool failReplace = false;
};

/// An OperatorChannel on a free loopback port with a CommandRouter behind it, as the window wires them,
/// but with temporary desktop and data folders, a recording launcher, an offset clock, file operations
/// that can be made to fail and a process list of the test's own.
class InProcessConnector
{
public:
    struct Options
    {
        QUrl downloadServer = QUrl(QStringLiteral("https://download.invalid"));
        DatabaseBackend database = DatabaseBackend::Sqlite;
        std::optional<QStringList> allowedOrigins;
        /// As the configuration decides it when not given: "ask" without a list, "refuse" with one.
        std::optional<OriginPolicy::Unknown> unknownOrigins;
        QString decisionsFile; // empty: decisions kept in memory
        /// Where waiting exams are remembered; empty: a file in the connector's own temporary folder.
        QString waitingExamsFile;
    };

    InProcessConnector() : InProcessConnector(Options()) {}
    explicit InProcessConnector(const Options &options);

    /// The page's address: ws://127.0.0.1:<port>.
    QUrl url() const;
    QString desktopFolder() const { return desktop.path(); }

    RecordingLauncher launcher;
    OffsetClock clock;
    SwitchableFiles files;
    ListedPrograms programs;
    OperatorChannel channel;
    CommandRouter *router = nullptr;
    bool listening = false;

private:
    QTemporaryDir desktop;
    QTemporaryDir data;
};

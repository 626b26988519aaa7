// The connector inside the test process, as the window builds it, with the outside world replaced.
#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <functional>

#include "channel/operatorchannel.h"
#include "connector/commandrouter.h"
#include "connector/connector.h"
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
    /// Recorded at once; the outcome arrives from the event loop, as from the real launcher.
    void startInstaller(const QString &program, const QString &workingDirectory, QObject *context,
                        std::function<void(bool)> done) override
    {
        starts.append({program, {}, workingDirectory});
        QMetaObject::invokeMethod(
            context, [done, started = result] { done(started); }, Qt::QueuedConnection);
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
    /// The platform's take (on Windows not made of rename and read), refused or left unread as the test says.
    Taken take(const QString &from, const QString &to) override
    {
        if (failRename)
            return {false, std::nullopt, QStringLiteral("held by the test")};
        Taken taken = FileOperations::take(from, to);
        if (failRead)
            taken.bytes.reset();
        return taken;
    }
    bool failRename = false;
    bool failRemove = false;
    bool failRead = false;
    bool failReplace = false;
};

/// The connector as the window builds it, on a free loopback port, but with a temporary desktop folder, a
/// temporary data folder, a recording launcher, an offset clock, file operations that can be made to fail, a process
/// list of the test's own and lock files judged by their existence alone.
class InProcessConnector
{
    QTemporaryDir desktop; // first: the connector's workstation names them
    QTemporaryDir data;

public:
    struct Options
    {
        /// Keys of the configuration file, read as the connector reads its file; they replace the test's
        /// defaults ("sessionids", a download server that is never reached, the SQLite database, loopback,
        /// every application folder allowed).
        QJsonObject configuration;
        QString decisionsFile; // empty: decisions kept in memory
        /// Where waiting exams are remembered; empty: a file in the connector's own temporary folder.
        QString waitingExamsFile;
        /// Which folders lie on a mapped network drive; none unless the test says so.
        std::function<bool(const QString &folder)> isRemoteDrive = [](const QString &) { return false; };
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
    Connector connector;
    OperatorChannel &channel;
    CommandRouter *router;
    bool listening = false;
};

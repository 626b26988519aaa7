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
#include "platform/programlauncher.h"

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

/// An OperatorChannel on a free loopback port with a CommandRouter behind it, as the window wires them,
/// but with a temporary desktop folder, a recording launcher and an offset clock.
class InProcessConnector
{
public:
    struct Options
    {
        QUrl downloadServer = QUrl(QStringLiteral("https://download.invalid"));
        DatabaseBackend database = DatabaseBackend::Sqlite;
        std::optional<QStringList> allowedOrigins;
    };

    InProcessConnector() : InProcessConnector(Options()) {}
    explicit InProcessConnector(const Options &options);

    /// The page's address: ws://127.0.0.1:<port>.
    QUrl url() const;
    QString desktopFolder() const { return desktop.path(); }

    RecordingLauncher launcher;
    OffsetClock clock;
    OperatorChannel channel;
    CommandRouter *router = nullptr;
    bool listening = false;

private:
    QTemporaryDir desktop;
};

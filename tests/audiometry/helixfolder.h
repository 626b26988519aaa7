// An audiometry application folder for the tests: Helix.exe (simulator or dummy), XCHG, its processes.
#pragma once

#include "gdtexample.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

/// The application folder under a test's temporary folder. appPath() ends in "/", as the page sends it.
class HelixFolder
{
public:
    explicit HelixFolder(const QString &folder);

    QString folder() const { return path; }
    QString appPath() const { return path + QLatin1Char('/'); }
    QString exchange() const { return path + QStringLiteral("/XCHG"); }
    QString requestFile() const { return exchange() + QStringLiteral("/hedeprax.gdt"); }
    QString resultFile() const { return exchange() + QStringLiteral("/TEST_DATA.csv"); }
    /// The simulator's copy of the last result it wrote in full.
    QString lastResultCopy() const { return path + QStringLiteral("/helix-simulator-last-result.csv"); }
    /// The patient numbers of the requests the simulator has read, one a line.
    QString requestsRead() const { return path + QStringLiteral("/helix-simulator-requests.txt"); }

    /// Copies the built simulator in as Helix.exe with these settings (see simulators/helix).
    bool installSimulator(const QJsonObject &settings);
    /// An empty, non-executable Helix.exe: the checks pass, a launch fails quietly, nothing runs.
    bool installDummy();
    /// Writes the result file as the application would, dated ageMs in the past.
    bool writeResult(const QByteArray &bytes, qint64 ageMs = 2000) const;

    /// Ids of the live processes whose executable lies in this folder.
    QList<qint64> processes() const;
    /// Kills the processes of this folder (the simulators the tests or the connector started).
    void killProcesses() const;

private:
    QString path;
};

/// Ids of live processes named Helix.exe whose executable lies outside the given folder.
QList<qint64> foreignHelixProcesses(const QString &folder);

/// The made-up patient of the worked example and its request file, byte for byte.

/// A START_AUDIOMETRY envelope for that application path and patient.
QJsonObject startEnvelope(const QString &appPath, const QJsonObject &patient);

// What the installation tests and benchmarks build at run time: archives made with the real 7-Zip, the
// stand-in installer, a server certificate, the environment the connector runs in, and the page's frames.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QProcessEnvironment>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QStringList>

/// One file of a test archive.
struct ArchiveEntry
{
    QString name;       // relative path inside the archive
    QByteArray content; // ignored when sparseSize is set
    bool executable = false;
    qint64 sparseSize = 0; // a file of this many zero bytes, made without writing them
};

/// A self-signed server certificate for 127.0.0.1 and localhost, made with openssl: a client that trusts it as
/// an authority accepts the server.
struct TestTls
{
    QSslCertificate certificate;
    QSslKey key;
};

namespace InstallationFixture {

/// The 7-Zip program the connector would choose here; empty when there is none.
QString sevenZip();

/// The stand-in installer: a shell script that appends "<working folder>|<argument count>" to
/// $HOME/helix-setup-ran.txt, so a test sees that, where and how it was started.
QByteArray standInInstaller();
/// Where the stand-in writes its record for a connector run with this home folder.
QString installerRecord(const QString &home);
/// The archive entry of the stand-in, as "HelixSetup.exe" at the archive's root.
ArchiveEntry installerEntry();

/// Builds a zip archive with the real 7-Zip, with further 7-Zip options if given ("-pSECRET" encrypts it);
/// an existing file at zipPath is replaced.
bool makeArchive(const QString &zipPath, const QList<ArchiveEntry> &entries, QString *error,
                 const QStringList &options = {});

/// Makes the server certificate and its key in folder with the real openssl.
bool makeTls(const QString &folder, TestTls *tls, QString *error);

/// The connector's environment with home as HOME: its desktop is home + "/Desktop".
QProcessEnvironment connectorEnvironment(const QString &home);

/// The names in folder, hidden ones included, sorted.
QStringList entries(const QString &folder);

/// The page's "INSTALL_HELIX" for an application folder it does not matter for.
QJsonObject installCommand();
/// A frame as the page receives it; no "args" for an empty payload.
QJsonObject messageFrame(int code, const QJsonObject &args = {});
QJsonObject errorFrame(int code);
/// The frames without the download's progress steps: every 1002 after the first frame.
QList<QJsonObject> withoutSteps(const QList<QJsonObject> &frames);
/// The percentages of those steps.
QList<int> steps(const QList<QJsonObject> &frames);

} // namespace InstallationFixture

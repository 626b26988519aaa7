// What the installation tests and benchmarks build at run time: archives made with the real 7-Zip, the
// stand-in installer, a certificate authority, and the environment the connector runs in.
#pragma once

#include <QByteArray>
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

/// A certificate authority and a server certificate for 127.0.0.1 and localhost, made with openssl.
struct TestTls
{
    QString authorityFolder; // holds only the authority, hashed, in the layout of /etc/ssl/certs
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
ArchiveEntry installerEntry(bool executable = true);

/// Builds a zip archive with the real 7-Zip, with further 7-Zip options if given ("-pSECRET" encrypts it);
/// an existing file at zipPath is replaced.
bool makeArchive(const QString &zipPath, const QList<ArchiveEntry> &entries, QString *error,
                 const QStringList &options = {});

/// Makes an authority and a server certificate in folder with the real openssl.
bool makeTls(const QString &folder, TestTls *tls, QString *error);

/// The connector's environment with home as HOME: its desktop is home + "/Desktop".
QProcessEnvironment connectorEnvironment(const QString &home);

/// The process id of a child of parentPid whose program is named name, or 0.
qint64 findChildProcess(qint64 parentPid, const QString &name);

/// The names in folder, hidden ones included, sorted.
QStringList entries(const QString &folder);

} // namespace InstallationFixture

// What the installation tests and benchmarks build at run time: archives made with the real 7-Zip, the
// stand-in installer, a certificate authority, and the environment the connector runs in.
#include "installationfixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include "platform/unpacker.h"

namespace {

// Archives and certificates are made before a test starts; a tool that takes longer is broken.
constexpr int toolTimeoutMs = 120 * 1000;

bool run(const QString &program, const QStringList &arguments, const QString &folder, QString *error)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(toolTimeoutMs) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        *error = program + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')) + QStringLiteral(": ") +
                 process.errorString() + QLatin1Char(' ') + QString::fromLocal8Bit(process.readAll());
        return false;
    }
    return true;
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

namespace InstallationFixture {

QString sevenZip()
{
    const QString program = unpackerProgram();
    return QFileInfo(program).isExecutable() ? program : QString();
}

QByteArray standInInstaller()
{
    return "#!/bin/sh\n"
           "# Stand-in for the audiometry installer: records that it ran, where, and with how many arguments.\n"
           "printf '%s|%s\\n' \"$(pwd)\" \"$#\" >> \"$HOME/helix-setup-ran.txt\"\n";
}

QString installerRecord(const QString &home)
{
    return home + QStringLiteral("/helix-setup-ran.txt");
}

ArchiveEntry installerEntry(bool executable)
{
    return {QStringLiteral("HelixSetup.exe"), standInInstaller(), executable, 0};
}

bool makeArchive(const QString &zipPath, const QList<ArchiveEntry> &archiveEntries, QString *error,
                 const QStringList &options)
{
    QTemporaryDir staging;
    QStringList names;
    for (const ArchiveEntry &entry : archiveEntries) {
        const QString path = staging.filePath(entry.name);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            *error = QStringLiteral("cannot write ") + path;
            return false;
        }
        if (entry.sparseSize > 0)
            file.resize(entry.sparseSize);
        else
            file.write(entry.content);
        file.close();
        if (entry.executable)
            file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeGroup |
                                QFileDevice::ExeOther);
        names.append(entry.name);
    }
    QFile::remove(zipPath);
    const QString program = sevenZip();
    if (program.isEmpty()) {
        *error = QStringLiteral("no 7-Zip found");
        return false;
    }
    return run(program,
               QStringList{QStringLiteral("a"), QStringLiteral("-tzip"), QStringLiteral("-mx1")} + options +
                   QStringList{zipPath} + names,
               staging.path(), error);
}

bool makeTls(const QString &folder, TestTls *tls, QString *error)
{
    const QString openssl = QStringLiteral("openssl");
    const QStringList ecKey{QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                            QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
    if (!writeFile(folder + QStringLiteral("/server.ext"),
                   "subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n"))
        return false;
    if (!run(openssl,
             QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ecKey +
                 QStringList{QStringLiteral("-keyout"), QStringLiteral("ca.key"), QStringLiteral("-out"),
                             QStringLiteral("ca.pem"), QStringLiteral("-days"), QStringLiteral("2"),
                             QStringLiteral("-subj"), QStringLiteral("/CN=Installation Test Authority")},
             folder, error))
        return false;
    if (!run(openssl,
             QStringList{QStringLiteral("req")} + ecKey +
                 QStringList{QStringLiteral("-keyout"), QStringLiteral("server.key"), QStringLiteral("-out"),
                             QStringLiteral("server.csr"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1")},
             folder, error))
        return false;
    if (!run(openssl,
             {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), QStringLiteral("server.csr"),
              QStringLiteral("-CA"), QStringLiteral("ca.pem"), QStringLiteral("-CAkey"), QStringLiteral("ca.key"),
              QStringLiteral("-CAcreateserial"), QStringLiteral("-out"), QStringLiteral("server.pem"),
              QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-extfile"), QStringLiteral("server.ext")},
             folder, error))
        return false;

    tls->authorityFolder = folder + QStringLiteral("/authority");
    QDir().mkpath(tls->authorityFolder);
    if (!QFile::copy(folder + QStringLiteral("/ca.pem"), tls->authorityFolder + QStringLiteral("/ca.pem")) ||
        !run(openssl, {QStringLiteral("rehash"), tls->authorityFolder}, folder, error))
        return false;

    QFile certificate(folder + QStringLiteral("/server.pem"));
    QFile key(folder + QStringLiteral("/server.key"));
    if (!certificate.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the server certificate");
        return false;
    }
    tls->certificate = QSslCertificate(&certificate, QSsl::Pem);
    tls->key = QSslKey(&key, QSsl::Ec, QSsl::Pem);
    if (tls->certificate.isNull() || tls->key.isNull()) {
        *error = QStringLiteral("the server certificate or key does not load");
        return false;
    }
    return true;
}

QProcessEnvironment connectorEnvironment(const QString &home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    // The desktop is then home + "/Desktop", whatever the machine's own folder settings say.
    environment.remove(QStringLiteral("XDG_CONFIG_HOME"));
    return environment;
}

qint64 findChildProcess(qint64 parentPid, const QString &name)
{
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : processes) {
        QFile stat(QStringLiteral("/proc/") + pid + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...": the name may hold blanks, so read around its parentheses.
        const QByteArray line = stat.readAll();
        const int open = line.indexOf('(');
        const int close = line.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        const QList<QByteArray> rest = line.mid(close + 2).split(' ');
        if (QString::fromLocal8Bit(line.mid(open + 1, close - open - 1)) == name &&
            rest.value(1).toLongLong() == parentPid)
            return pid.toLongLong();
    }
    return 0;
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace InstallationFixture

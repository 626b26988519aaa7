// What the installation tests and benchmarks build at run time: archives made with the real 7-Zip, the
// stand-in installer, a server certificate, the environment the connector runs in, and the page's frames.
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

// A download's progress step: a 1002 after the one that opens every installation.
bool isStep(const QList<QJsonObject> &frames, int index)
{
    return index > 0 && frames.at(index).value(QLatin1String("message")).toInt() == 1002;
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

ArchiveEntry installerEntry()
{
    return {QStringLiteral("HelixSetup.exe"), standInInstaller(), true, 0};
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
    if (!run(QStringLiteral("openssl"),
             {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
              QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
              QStringLiteral("-keyout"), QStringLiteral("server.key"), QStringLiteral("-out"),
              QStringLiteral("server.pem"), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
              QStringLiteral("/CN=Installation Test Server"), QStringLiteral("-addext"),
              QStringLiteral("subjectAltName=IP:127.0.0.1,DNS:localhost")},
             folder, error))
        return false;
    QFile certificate(folder + QStringLiteral("/server.pem"));
    QFile key(folder + QStringLiteral("/server.key"));
    if (certificate.open(QIODevice::ReadOnly) && key.open(QIODevice::ReadOnly)) {
        tls->certificate = QSslCertificate(&certificate, QSsl::Pem);
        tls->key = QSslKey(&key, QSsl::Ec, QSsl::Pem);
    }
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

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

QJsonObject installCommand()
{
    return QJsonObject{
        {QStringLiteral("type"), QStringLiteral("AUDIOMETRY")},
        {QStringLiteral("appPath"), QDir::rootPath() + QStringLiteral("Helix/")},
        {QStringLiteral("args"), QJsonObject{{QStringLiteral("command"), QStringLiteral("INSTALL_HELIX")}}}};
}

QJsonObject messageFrame(int code, const QJsonObject &args)
{
    QJsonObject frame{{QStringLiteral("message"), code}};
    if (!args.isEmpty())
        frame.insert(QStringLiteral("args"), args);
    return frame;
}

QJsonObject errorFrame(int code)
{
    return QJsonObject{{QStringLiteral("error"), code}};
}

QList<QJsonObject> withoutSteps(const QList<QJsonObject> &frames)
{
    QList<QJsonObject> result;
    for (int i = 0; i < frames.size(); ++i)
        if (!isStep(frames, i))
            result.append(frames.at(i));
    return result;
}

QList<int> steps(const QList<QJsonObject> &frames)
{
    QList<int> result;
    for (int i = 0; i < frames.size(); ++i)
        if (isStep(frames, i))
            result.append(
                frames.at(i).value(QLatin1String("args")).toObject().value(QLatin1String("percent")).toInt(-1));
    return result;
}

} // namespace InstallationFixture

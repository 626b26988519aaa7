// A stand-in polysomnography installation in its own temporary folder, for the tests.
#include "somnoinstallation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QTest>

SomnoInstallation::SomnoInstallation(const QString &folderName) : root(dir.filePath(folderName))
{
    QDir().mkpath(root);
}

QString SomnoInstallation::standInExecutable()
{
    return QStringLiteral(SOMNOPANEL_EXE);
}

bool SomnoInstallation::addExecutable()
{
    return QDir().mkpath(QFileInfo(executablePath()).absolutePath()) &&
           QFile::copy(standInExecutable(), executablePath());
}

bool SomnoInstallation::createDatabase(const QStringList &statements)
{
    QString error;
    const bool ok = SomnoDb::create(databasePath(), &error, statements);
    if (!ok)
        qWarning("%s", qPrintable(error));
    return ok;
}

bool SomnoInstallation::addPatient(int patientId, const QString &code, const QString &name, const QString &vorname)
{
    QString error;
    const bool ok =
        SomnoDb::addPatient(databasePath(), patientId, code, name, vorname, QStringLiteral("1960-01-01"), &error);
    if (!ok)
        qWarning("%s", qPrintable(error));
    return ok;
}

bool SomnoInstallation::writeDatabaseBytes(const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(databasePath()).absolutePath());
    QFile file(databasePath());
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

bool SomnoInstallation::addLockFile()
{
    QDir().mkpath(QFileInfo(lockPath()).absolutePath());
    QFile file(lockPath());
    return file.open(QIODevice::WriteOnly);
}

bool SomnoInstallation::addMeasurementEntry(const QString &relativePath)
{
    const QString path = measurementPath() + QLatin1Char('/') + relativePath;
    if (relativePath.endsWith(QLatin1Char('/')))
        return QDir().mkpath(path);
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).absolutePath()) && file.open(QIODevice::WriteOnly) && file.write("x") == 1;
}

QList<QVariantMap> SomnoInstallation::patients() const
{
    QString error;
    const auto rows = SomnoDb::patients(databasePath(), &error);
    if (!rows)
        QTest::qFail(qPrintable(QStringLiteral("cannot read the patients: ") + error), __FILE__, __LINE__);
    return rows.value_or(QList<QVariantMap>());
}

QList<QJsonObject> SomnoInstallation::starts() const
{
    QFile record(QFileInfo(executablePath()).absolutePath() + QStringLiteral("/SomnoPanel.starts"));
    QList<QJsonObject> result;
    if (!record.open(QIODevice::ReadOnly))
        return result;
    const QList<QByteArray> lines = record.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (!line.isEmpty())
            result.append(QJsonDocument::fromJson(line).object());
    }
    return result;
}

QJsonObject completePatient(const QString &code)
{
    return QJsonObject{
        {QStringLiteral("first_name"), QStringLiteral("Schmidt")},
        {QStringLiteral("last_name"), QStringLiteral("Anna")},
        {QStringLiteral("birth_date"), QStringLiteral("1975-04-23")},
        {QStringLiteral("code"), code},
        {QStringLiteral("gender"), QStringLiteral("F")},
        {QStringLiteral("height"), 168},
        {QStringLiteral("weight"), 61},
    };
}

QStringList &debugLines()
{
    static QStringList lines;
    return lines;
}

void captureDebugLines()
{
    qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext &, const QString &line) { debugLines().append(line); });
}

bool sqlConnectionReleased()
{
    return !QSqlDatabase::contains(QLatin1String(QSqlDatabase::defaultConnection)) &&
           debugLines().filter(QStringLiteral("QSqlDatabasePrivate")).isEmpty();
}

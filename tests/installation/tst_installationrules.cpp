// The rules of an installation that need no connector: the download address, where 7-Zip is looked for, and
// that an installer which cannot run is reported as not started.
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "audiometry/helixinstallation.h"
#include "platform/programlauncher.h"
#include "platform/unpacker.h"

class TestInstallationRules : public QObject
{
    Q_OBJECT

private slots:
    void downloadUrl_data();
    void downloadUrl();
    void unpackerLocation_data();
    void unpackerLocation();
    void failedStartIsReported();
    void downloadPercent_data();
    void downloadPercent();
};

void TestInstallationRules::downloadUrl_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("expected");

    const QString path = QStringLiteral("/audiometry/helix/version_1.0.zip");
    QTest::addRow("https host") << QStringLiteral("https://mirror.example.org")
                                << QStringLiteral("https://mirror.example.org") + path;
    QTest::addRow("https host with port") << QStringLiteral("https://mirror.example.org:8443")
                                          << QStringLiteral("https://mirror.example.org:8443") + path;
    QTest::addRow("https host with trailing slash")
        << QStringLiteral("https://mirror.example.org/") << QStringLiteral("https://mirror.example.org") + path;
    QTest::addRow("http on 127.0.0.1") << QStringLiteral("http://127.0.0.1:8080")
                                       << QStringLiteral("http://127.0.0.1:8080") + path;
    QTest::addRow("http on ::1") << QStringLiteral("http://[::1]:8080") << QStringLiteral("http://[::1]:8080") + path;
    QTest::addRow("http on localhost") << QStringLiteral("http://localhost:9000")
                                       << QStringLiteral("http://localhost:9000") + path;
}

void TestInstallationRules::downloadUrl()
{
    QFETCH(QString, server);
    QFETCH(QString, expected);
    const QUrl url = HelixInstallation::downloadUrl(QUrl(server, QUrl::StrictMode));
    QCOMPARE(url.toString(), expected);
}

void TestInstallationRules::unpackerLocation_data()
{
    QTest::addColumn<bool>("beside");        // a "7-Zip/7z" beside the connector
    QTest::addColumn<bool>("besideRuns");    // ... that may be run
    QTest::addColumn<QStringList>("onPath"); // programs on the PATH
    QTest::addColumn<QString>("expected");   // "beside", "path:<name>"

    QTest::addRow("beside the executable wins")
        << true << true << QStringList{QStringLiteral("7zz")} << QStringLiteral("beside");
    QTest::addRow("beside but not executable: the path")
        << true << false << QStringList{QStringLiteral("7zz")} << QStringLiteral("path:7zz");
    QTest::addRow("7zz on the path") << false << false << QStringList{QStringLiteral("7zz"), QStringLiteral("7z")}
                                     << QStringLiteral("path:7zz");
    QTest::addRow("only 7z on the path") << false << false << QStringList{QStringLiteral("7z")}
                                         << QStringLiteral("path:7z");
    QTest::addRow("none: the place it should be") << false << false << QStringList() << QStringLiteral("beside");
}

void TestInstallationRules::unpackerLocation()
{
#ifdef Q_OS_WIN
    QSKIP("Windows uses only the 7-Zip beside the connector");
#else
    QFETCH(bool, beside);
    QFETCH(bool, besideRuns);
    QFETCH(QStringList, onPath);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    const QString application = dir.filePath(QStringLiteral("app"));
    const QString bin = dir.filePath(QStringLiteral("bin"));
    QVERIFY(QDir().mkpath(application + QStringLiteral("/7-Zip")) && QDir().mkpath(bin));
    const auto makeProgram = [](const QString &path, bool runs = true) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n");
        file.close();
        const QFileDevice::Permissions readable = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
        QVERIFY(file.setPermissions(runs ? readable | QFileDevice::ExeOwner : readable));
    };
    if (beside)
        makeProgram(application + QStringLiteral("/7-Zip/7z"), besideRuns);
    for (const QString &name : onPath)
        makeProgram(bin + QLatin1Char('/') + name);

    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", bin.toLocal8Bit());
    const QString program = unpackerProgramIn(application);
    qputenv("PATH", savedPath);

    if (expected == QLatin1String("beside"))
        QCOMPARE(program, application + QStringLiteral("/7-Zip/7z"));
    else
        QCOMPARE(program, bin + QLatin1Char('/') + expected.mid(5));
#endif
}

void TestInstallationRules::failedStartIsReported()
{
    // The installation answers 1010 on this report: an installer that is no program, or is gone.
    QTemporaryDir dir;
    const QString notProgram = dir.filePath(QStringLiteral("HelixSetup.exe"));
    QFile file(notProgram);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("not a program") > 0);
    file.close();
    ProgramLauncher launcher;
    QVERIFY(!launcher.startDetached(notProgram, {}, dir.path()));
    QVERIFY(!launcher.startDetached(dir.filePath(QStringLiteral("missing.exe")), {}, dir.path()));
}

void TestInstallationRules::downloadPercent_data()
{
    QTest::addColumn<qint64>("received");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<int>("percent"); // -1: no step is reported
    QTest::addRow("50 of 200") << qint64(50) << qint64(200) << 25;
    QTest::addRow("1 of 3 truncated") << qint64(1) << qint64(3) << 33;
    QTest::addRow("2 of 3 truncated, not rounded") << qint64(2) << qint64(3) << 66;
    QTest::addRow("beyond 32 bits") << qint64(3000000000) << qint64(6000000000) << 50;
    QTest::addRow("unknown total") << qint64(4096) << qint64(-1) << -1;
    QTest::addRow("zero total") << qint64(0) << qint64(0) << -1;
}

void TestInstallationRules::downloadPercent()
{
    QFETCH(qint64, received);
    QFETCH(qint64, total);
    QFETCH(int, percent);
    const std::optional<qint64> reported = HelixInstallation::progressPercent(received, total);
    QCOMPARE(reported.has_value(), percent >= 0);
    if (reported)
        QCOMPARE(*reported, qint64(percent));
}

QTEST_GUILESS_MAIN(TestInstallationRules)
#include "tst_installationrules.moc"

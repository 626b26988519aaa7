// The whole road of an installation through the real connector: a page on port 1024 asks, the archive comes
// from a local download server, the real 7-Zip unpacks it and the stand-in installer really starts.
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "archiveserver.h"
#include "connectorprocess.h"
#include "installationfixture.h"

using namespace InstallationFixture;

class TestHelixInstallRoad : public QObject
{
    Q_OBJECT

private slots:
    void installs();
};

void TestHelixInstallRoad::installs()
{
    if (sevenZip().isEmpty())
        QSKIP("7-Zip (7zz or 7z) is not installed");
    QTemporaryDir dir;
    QString error;
    const QString served = dir.filePath(QStringLiteral("served.zip"));
    QVERIFY2(makeArchive(served, {installerEntry()}, &error), qPrintable(error));
    ArchiveServer server;
    server.setFile(served);
    QVERIFY(server.listen());

    // A fresh profile: the desktop folder does not exist yet, and its path holds a blank.
    const QString home = dir.filePath(QStringLiteral("clinic operator"));
    const QString desktop = home + QStringLiteral("/Desktop/");
    ConnectorProcess connector;
    QJsonObject configuration = ConnectorProcess::defaultConfiguration();
    configuration.insert(QStringLiteral("download_server"), server.baseUrl().toString());
    QVERIFY(connector.start(configuration, connectorEnvironment(home)));
    PageClient page;
    QVERIFY(page.open());

    page.sendJson(installCommand());
    // The installer runs in its own folder, without arguments.
    const auto record = [&] {
        QFile file(installerRecord(home));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QByteArray ranInItsFolder = (desktop + QStringLiteral("HelixSetup|0\n")).toUtf8();
    QTRY_COMPARE_WITH_TIMEOUT(record(), ranInItsFolder, 20000);

    // Nothing follows the start but the answer to an unusable envelope.
    page.send(QStringLiteral("not an envelope"));
    QTRY_VERIFY(page.codes().endsWith(2));
    QList<QJsonObject> frames;
    for (int i = 0; i < page.frames.size(); ++i)
        frames.append(page.frame(i));
    const QJsonObject folder{{QStringLiteral("folder"), desktop}};
    QCOMPARE(withoutSteps(frames),
             (QList<QJsonObject>{
                 messageFrame(1002, QJsonObject{{QStringLiteral("percent"), 0}}), messageFrame(1003, folder),
                 messageFrame(1004), messageFrame(1004, folder),
                 messageFrame(1009, {{QStringLiteral("path"), desktop + QStringLiteral("HelixSetup/HelixSetup.exe")}}),
                 errorFrame(2)}));
}

QTEST_GUILESS_MAIN(TestHelixInstallRoad)
#include "tst_helixinstallroad.moc"

// One whole exam with the real connector and the simulated application: launch, request file, result.
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "connectorprocess.h"
#include "helixfolder.h"

class TestExamRoad : public QObject
{
    Q_OBJECT

private slots:
    void wholeExam_data();
    void wholeExam();
    void replacedWhileExamining();
};

void TestExamRoad::wholeExam_data()
{
    QTest::addColumn<QString>("folderName");
    QTest::addRow("plain application path") << QStringLiteral("Helix");
    QTest::addRow("application path with blanks") << QStringLiteral("Program Files/Helix Audio");
}

void TestExamRoad::wholeExam()
{
    QFETCH(QString, folderName);
    QTemporaryDir dir;
    QVERIFY2(foreignHelixProcesses(dir.path()).isEmpty(), "another Helix.exe runs on this machine");
    HelixFolder helix(dir.path() + QLatin1Char('/') + folderName);
    QVERIFY(helix.installSimulator(QJsonObject{{QStringLiteral("delay_ms"), 300}}));
    ConnectorProcess connector;
    QVERIFY2(connector.start(), qPrintable(connector.log()));
    PageClient page;
    QVERIFY(page.open());

    page.sendJson(startEnvelope(helix.appPath(), examplePatient()));
    QVERIFY(page.waitForFrames(2, 10000));
    QCOMPARE(page.codes(), (QList<int>{1008, 1005}));
    const QJsonObject examined{{QStringLiteral("code"), QStringLiteral("P0042")},
                               {QStringLiteral("first_name"), QStringLiteral("Sample")},
                               {QStringLiteral("last_name"), QStringLiteral("Patient")}};
    QCOMPARE(page.frame(0).value(QLatin1String("args")).toObject(), examined);

    QJsonObject result = page.frame(1).value(QLatin1String("args")).toObject();
    const QString results = result.take(QLatin1String("results")).toString();
    QCOMPARE(result, examined);
    QFile written(helix.lastResultCopy());
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(results, QString::fromUtf8(written.readAll()));
    QVERIFY(results.contains(QLatin1String("P0042;Sample;Patient;07031985")));
    QVERIFY(results.contains(QLatin1String("\r\n")));
    QTRY_VERIFY(!QFile::exists(helix.resultFile()));

    QFile request(helix.requestFile());
    QVERIFY(request.open(QIODevice::ReadOnly));
    QCOMPARE(request.readAll(), exampleRequest());

    // The simulator still runs, in its own folder.
    const QList<qint64> running = helix.processes();
    QCOMPARE(running.size(), 1);
    QCOMPARE(QFileInfo(QStringLiteral("/proc/%1/cwd").arg(running.first())).symLinkTarget(), helix.folder());
    helix.killProcesses();
}

// B's request replaces A's while the application examines A: each result reaches its own patient.
void TestExamRoad::replacedWhileExamining()
{
    QTemporaryDir dir;
    QVERIFY2(foreignHelixProcesses(dir.path()).isEmpty(), "another Helix.exe runs on this machine");
    HelixFolder helix(dir.path() + QStringLiteral("/Helix"));
    QVERIFY(helix.installSimulator(QJsonObject{{QStringLiteral("delay_ms"), 2000}}));
    ConnectorProcess connector;
    QVERIFY2(connector.start(), qPrintable(connector.log()));
    PageClient page;
    QVERIFY(page.open());
    const auto patient = [](const QString &code) {
        QJsonObject record = examplePatient();
        record.insert(QStringLiteral("code"), code);
        return record;
    };

    page.sendJson(startEnvelope(helix.appPath(), patient(QStringLiteral("PAT-A"))));
    QVERIFY(page.waitForFrames(1, 10000));
    // Sent once the application has read A's request, so it examines A while B's request replaces it.
    const auto requestsRead = [&] {
        QFile requests(helix.requestsRead());
        return requests.open(QIODevice::ReadOnly) ? requests.readAll() : QByteArray();
    };
    QTRY_COMPARE_WITH_TIMEOUT(requestsRead(), QByteArray("PAT-A\n"), 10000);
    page.sendJson(startEnvelope(helix.appPath(), patient(QStringLiteral("PAT-B"))));

    QVERIFY(page.waitForFrames(4, 20000));
    QCOMPARE(page.codes(), (QList<int>{1008, 1008, 1005, 1005}));
    for (const int index : {2, 3}) {
        const QJsonObject args = page.frame(index).value(QLatin1String("args")).toObject();
        const QString code = index == 2 ? QStringLiteral("PAT-A") : QStringLiteral("PAT-B");
        QCOMPARE(args.value(QLatin1String("code")).toString(), code);
        QVERIFY(args.value(QLatin1String("results")).toString().contains(code + QStringLiteral(";Sample;Patient")));
    }
    helix.killProcesses();
}

QTEST_GUILESS_MAIN(TestExamRoad)
#include "tst_examroad.moc"

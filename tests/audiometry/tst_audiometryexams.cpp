// Whole audiometry exams against the real connector and the simulated application: launch, result
// pickup, and no result lost or cut.
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "connectorprocess.h"
#include "helixfolder.h"

namespace {

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString resultsOf(const QJsonObject &frame)
{
    return frame.value(QLatin1String("args")).toObject().value(QLatin1String("results")).toString();
}

} // namespace

class TestAudiometryExams : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void wholeExam_data();
    void wholeExam();
    void runningApplicationIsNotStartedAgain();
    void slowlyWrittenResultArrivesWhole();
    void resultWaitingBeforeTheExam();
    void resultText_data();
    void resultText();
    void resultWhileNoPageArrivesLater();
    void twoExamsOneResultEach();

private:
    /// The running check looks at the whole machine: tests of the launch need no other Helix.exe.
    bool noOtherHelixRuns() const { return foreignHelixProcesses(dir->path()).isEmpty(); }
    int countOf(int code) const { return page->codes().count(code); }
    /// The log written since the test began.
    QString logSinceStart() { return connector.log().mid(logStart); }

    ConnectorProcess connector;
    std::unique_ptr<PageClient> page;
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<HelixFolder> helix;
    int logStart = 0;
};

void TestAudiometryExams::initTestCase()
{
    QVERIFY2(connector.start(), qPrintable(connector.log()));
}

void TestAudiometryExams::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    helix = std::make_unique<HelixFolder>(dir->path() + QStringLiteral("/Helix"));
    page = std::make_unique<PageClient>();
    QVERIFY(page->open());
    logStart = connector.log().size();
}

void TestAudiometryExams::cleanup()
{
    page.reset();
    helix->killProcesses();
    QTRY_VERIFY(helix->processes().isEmpty());
    helix.reset();
    dir.reset();
}

void TestAudiometryExams::wholeExam_data()
{
    QTest::addColumn<QString>("folderName");

    QTest::addRow("plain application path") << QStringLiteral("Helix");
    QTest::addRow("application path with blanks") << QStringLiteral("Program Files/Helix Audio");
}

void TestAudiometryExams::wholeExam()
{
    QVERIFY2(noOtherHelixRuns(), "another Helix.exe runs on this machine");
    QFETCH(QString, folderName);
    helix = std::make_unique<HelixFolder>(dir->path() + QLatin1Char('/') + folderName);
    QVERIFY(helix->installSimulator(QJsonObject{{QStringLiteral("delay_ms"), 300}}));

    page->sendJson(startEnvelope(helix->appPath(), examplePatient()));
    QVERIFY(page->waitForFrames(1));
    QCOMPARE(page->frame(0), (QJsonObject{{QStringLiteral("message"), 1008},
                                          {QStringLiteral("args"),
                                           QJsonObject{{QStringLiteral("first_name"), QStringLiteral("Sample")},
                                                       {QStringLiteral("last_name"), QStringLiteral("Patient")}}}}));
    QVERIFY(logSinceStart().contains(QLatin1String("Helix not started.")));
    QTRY_COMPARE(helix->processes().size(), 1);

    QVERIFY(page->waitForFrames(2, 10000));
    QCOMPARE(page->codes(), (QList<int>{1008, 1005}));
    const QString results = resultsOf(page->frame(1));
    QCOMPARE(results, readText(helix->lastResultCopy()));
    QVERIFY(results.contains(QLatin1String("P0042;Sample;Patient;07031985")));
    QVERIFY(results.contains(QLatin1String("\r\n")));
    QTRY_VERIFY(!QFile::exists(helix->resultFile()));

    QFile request(helix->requestFile());
    QVERIFY(request.open(QIODevice::ReadOnly));
    QCOMPARE(request.readAll(), exampleRequest());
}

void TestAudiometryExams::runningApplicationIsNotStartedAgain()
{
    QVERIFY2(noOtherHelixRuns(), "another Helix.exe runs on this machine");
    QVERIFY(helix->installSimulator(QJsonObject{{QStringLiteral("delay_ms"), 200}}));
    QVERIFY(QDir().mkpath(helix->exchange()));
    QVERIFY(QProcess::startDetached(helix->folder() + QStringLiteral("/Helix.exe"), QStringList()));
    QTRY_COMPARE(helix->processes().size(), 1);

    page->sendJson(startEnvelope(helix->appPath(), examplePatient()));
    QVERIFY(page->waitForFrames(2, 10000));
    QCOMPARE(page->codes(), (QList<int>{1008, 1005}));
    QVERIFY(!logSinceStart().contains(QLatin1String("Helix not started.")));
    QCOMPARE(helix->processes().size(), 1);
}

// Written in pieces with pauses, as a slow application would; only the whole file may be sent.
void TestAudiometryExams::slowlyWrittenResultArrivesWhole()
{
    QVERIFY2(noOtherHelixRuns(), "another Helix.exe runs on this machine");
    QVERIFY(helix->installSimulator(QJsonObject{
        {QStringLiteral("delay_ms"), 0}, {QStringLiteral("chunks"), 5}, {QStringLiteral("chunk_delay_ms"), 250}}));

    page->sendJson(startEnvelope(helix->appPath(), examplePatient()));
    QVERIFY(page->waitForFrames(2, 15000));
    QCOMPARE(page->codes(), (QList<int>{1008, 1005}));
    QTRY_VERIFY(QFile::exists(helix->lastResultCopy()));
    const QString whole = readText(helix->lastResultCopy());
    QVERIFY(whole.endsWith(QLatin1String("\r\n")));
    QCOMPARE(resultsOf(page->frame(1)), whole);
}

void TestAudiometryExams::resultWaitingBeforeTheExam()
{
    QVERIFY(helix->installDummy());
    QVERIFY(helix->writeResult("left over\r\n", 60000));

    page->sendJson(startEnvelope(helix->appPath(), examplePatient()));
    QVERIFY(page->waitForFrames(2));
    QCOMPARE(page->codes(), (QList<int>{1008, 1005}));
    QCOMPARE(resultsOf(page->frame(1)), QStringLiteral("left over\r\n"));
}

void TestAudiometryExams::resultText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    QTest::addRow("CR LF line ends kept") << QByteArray("a;b\r\nc;d\r\n") << QStringLiteral("a;b\r\nc;d\r\n");
    QTest::addRow("cut at the first zero byte") << QByteArray("kept\r\n\0lost\0", 13) << QStringLiteral("kept\r\n");
    QTest::addRow("empty file") << QByteArray() << QString();
    QTest::addRow("UTF-8 letters") << QByteArray("Mu\xc3\xb1oz") << QString::fromUtf8("Mu\xc3\xb1oz");
    QTest::addRow("invalid UTF-8 replaced") << QByteArray("a\xff"
                                                          "b")
                                            << QString::fromUtf8("a\xef\xbf\xbd"
                                                                 "b");
}

void TestAudiometryExams::resultText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);

    QVERIFY(helix->installDummy());
    page->sendJson(startEnvelope(helix->appPath(), examplePatient()));
    QVERIFY(page->waitForFrames(1));
    QVERIFY(helix->writeResult(bytes));
    QVERIFY(page->waitForFrames(2));
    QCOMPARE(page->frame(1), (QJsonObject{{QStringLiteral("message"), 1005},
                                          {QStringLiteral("args"), QJsonObject{{QStringLiteral("results"), text}}}}));
    QTRY_VERIFY(!QFile::exists(helix->resultFile()));
}

// The page may reload while the exam runs; the result then waits for the next page.
void TestAudiometryExams::resultWhileNoPageArrivesLater()
{
    QVERIFY(helix->installDummy());
    page->sendJson(startEnvelope(helix->appPath(), examplePatient()));
    QVERIFY(page->waitForFrames(1));

    page.reset();
    QVERIFY(connector.waitForLog(QStringLiteral("socketDisconnected:")));
    QVERIFY(helix->writeResult("while away\r\n"));
    // Several polls pass without a page; the file stays.
    QVERIFY(!QTest::qWaitFor([&] { return !QFile::exists(helix->resultFile()); }, 1600));

    page = std::make_unique<PageClient>();
    QVERIFY(page->open());
    QVERIFY(page->waitForFrames(1));
    QCOMPARE(page->codes(), QList<int>{1005});
    QCOMPARE(resultsOf(page->frame(0)), QStringLiteral("while away\r\n"));
    QTRY_VERIFY(!QFile::exists(helix->resultFile()));
}

// Two exams poll the same folder; each result file is reported once.
void TestAudiometryExams::twoExamsOneResultEach()
{
    QVERIFY(helix->installDummy());
    page->sendJson(startEnvelope(helix->appPath(), examplePatient()));
    page->sendJson(startEnvelope(helix->appPath(), examplePatient()));
    QVERIFY(page->waitForFrames(2));
    QCOMPARE(page->codes(), (QList<int>{1008, 1008}));

    QVERIFY(helix->writeResult("first\r\n"));
    QTRY_COMPARE(countOf(1005), 1);
    QTRY_VERIFY(!QFile::exists(helix->resultFile()));
    QVERIFY(helix->writeResult("second\r\n"));
    QTRY_COMPARE(countOf(1005), 2);
    QTRY_VERIFY(!QFile::exists(helix->resultFile()));
    QCOMPARE(resultsOf(page->frame(2)), QStringLiteral("first\r\n"));
    QCOMPARE(resultsOf(page->frame(3)), QStringLiteral("second\r\n"));

    // Both exams are done: a third file is left for a later exam.
    QVERIFY(helix->writeResult("third\r\n"));
    QVERIFY(!QTest::qWaitFor([&] { return !QFile::exists(helix->resultFile()); }, 1200));
    QCOMPARE(countOf(1005), 2);
}

QTEST_GUILESS_MAIN(TestAudiometryExams)
#include "tst_audiometryexams.moc"

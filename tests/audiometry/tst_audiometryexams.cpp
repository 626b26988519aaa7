// Exams over a real WebSocket to the connector in this process: what the page receives, and that every
// result reaches the patient it belongs to.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#include "audiometry/helixexam.h"
#include "connectorprocess.h"
#include "helixfolder.h"
#include "inprocessconnector.h"

namespace {

QJsonObject patientCoded(const QString &code)
{
    QJsonObject patient = examplePatient();
    patient.insert(QStringLiteral("code"), code);
    return patient;
}

QString argOf(const QJsonObject &frame, const char *key)
{
    return frame.value(QLatin1String("args")).toObject().value(QLatin1String(key)).toString();
}

} // namespace

class TestAudiometryExams : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void resultText_data();
    void resultText();
    void heldResultReachesTheNextPageWithItsPatient();
    void resultLeftFromBeforeIsSetAside();
    void replacedExamsLeaveOnePoller();
    void runningApplicationIsNotStartedAgain_data();
    void runningApplicationIsNotStartedAgain();
    void replacedWhileExamining_data();
    void replacedWhileExamining();
    void failedRequestWriteKeepsTheWaitingExam();
    void waitingExamSurvivesARestart_data();
    void waitingExamSurvivesARestart();

private:
    /// A connector remembering its waiting exams in the test's state file, with a clock that finds results
    /// settled and a page connected.
    void startConnector();
    /// Sends START_AUDIOMETRY for the example patient with this code and waits for its 1008.
    void startExam(const QString &code);
    bool examAwaitsEarlierResults() const;
    QStringList unclaimed() const;
    /// A result written after the current request, and a clock that finds it settled.
    bool writeAnswer(const QByteArray &bytes);
    int waitingExams() const;

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<HelixFolder> helix;
    std::unique_ptr<InProcessConnector> connector;
    std::unique_ptr<PageClient> page;
};

void TestAudiometryExams::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    helix = std::make_unique<HelixFolder>(dir->path() + QStringLiteral("/Helix"));
    QVERIFY(helix->installDummy());
    startConnector();
}

void TestAudiometryExams::startConnector()
{
    InProcessConnector::Options options;
    options.waitingExamsFile = dir->filePath(QStringLiteral("data/waiting-exams.json"));
    connector = std::make_unique<InProcessConnector>(options);
    connector->clock.offsetMs = 5000;
    page = std::make_unique<PageClient>();
    QVERIFY(page->open(connector->url()));
}

void TestAudiometryExams::startExam(const QString &code)
{
    const int before = page->frames.size();
    page->sendJson(startEnvelope(helix->appPath(), patientCoded(code)));
    QVERIFY(page->waitForFrames(before + 1));
    QCOMPARE(page->codes().constLast(), 1008);
}

bool TestAudiometryExams::examAwaitsEarlierResults() const
{
    const QList<HelixExam *> exams = connector->router->findChildren<HelixExam *>();
    return std::any_of(exams.begin(), exams.end(), [](const HelixExam *exam) { return exam->awaitsEarlierResults(); });
}

QStringList TestAudiometryExams::unclaimed() const
{
    return QDir(helix->exchange() + QStringLiteral("/unclaimed")).entryList(QDir::Files);
}

void TestAudiometryExams::cleanup()
{
    page.reset();
    connector.reset();
    helix.reset();
    dir.reset();
}

bool TestAudiometryExams::writeAnswer(const QByteArray &bytes)
{
    QFile file(helix->resultFile());
    const QDateTime requested = QFileInfo(helix->requestFile()).fileTime(QFileDevice::FileModificationTime);
    return requested.isValid() && file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() &&
           file.flush() && file.setFileTime(requested.addSecs(1), QFileDevice::FileModificationTime);
}

int TestAudiometryExams::waitingExams() const
{
    int waiting = 0;
    for (const HelixExam *exam : connector->router->findChildren<HelixExam *>())
        waiting += exam->isWaiting() ? 1 : 0;
    return waiting;
}

void TestAudiometryExams::resultText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    QTest::addRow("CR LF line ends kept") << QByteArray("a;b\r\nc;d\r\n") << QStringLiteral("a;b\r\nc;d\r\n");
    QTest::addRow("cut at the first zero byte") << QByteArray("kept\r\n\0lost\0", 13) << QStringLiteral("kept\r\n");
    QTest::addRow("empty file") << QByteArray() << QString();
    QTest::addRow("UTF-8 letters") << QByteArray("Mu\xc3\xb1oz") << QString::fromUtf8("Mu\xc3\xb1oz");
    QTest::addRow("UTF-8 holding a replacement character")
        << QByteArray("a\xef\xbf\xbd") << QString::fromUtf8("a\xef\xbf\xbd");
    // Written in the Windows code page: read as ISO 8859-1, the request file's encoding.
    QTest::addRow("not UTF-8") << QByteArray("M\xfcller\r\n") << QStringLiteral("Müller\r\n");
    QTest::addRow("not UTF-8, ending in a lead byte") << QByteArray("Jos\xe9") << QStringLiteral("José");
}

void TestAudiometryExams::resultText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);

    page->sendJson(startEnvelope(helix->appPath(), examplePatient()));
    QVERIFY(page->waitForFrames(1));
    QVERIFY(writeAnswer(bytes));
    QVERIFY(page->waitForFrames(2));
    QCOMPARE(page->frame(1),
             (QJsonObject{{QStringLiteral("message"), 1005},
                          {QStringLiteral("args"), QJsonObject{{QStringLiteral("code"), QStringLiteral("P0042")},
                                                               {QStringLiteral("first_name"), QStringLiteral("Sample")},
                                                               {QStringLiteral("last_name"), QStringLiteral("Patient")},
                                                               {QStringLiteral("results"), text}}}}));
    QTRY_VERIFY(!QFile::exists(helix->resultFile()));
    QTRY_COMPARE(waitingExams(), 0);
}

// The page reloads while patient A's exam runs; the next page, showing another patient, must be able
// to tell whose result arrives.
void TestAudiometryExams::heldResultReachesTheNextPageWithItsPatient()
{
    page->sendJson(startEnvelope(helix->appPath(), patientCoded(QStringLiteral("A-1"))));
    QVERIFY(page->waitForFrames(1));
    page.reset();
    QTRY_VERIFY(!connector->channel.hasPage());
    QVERIFY(writeAnswer("while away\r\n"));

    page = std::make_unique<PageClient>();
    QVERIFY(page->open(connector->url()));
    QVERIFY(page->waitForFrames(1));
    QCOMPARE(page->codes(), QList<int>{1005});
    QCOMPARE(argOf(page->frame(0), "code"), QStringLiteral("A-1"));
    QCOMPARE(argOf(page->frame(0), "results"), QStringLiteral("while away\r\n"));
}

void TestAudiometryExams::resultLeftFromBeforeIsSetAside()
{
    QVERIFY(helix->writeResult("left over\r\n", 60000));
    page->sendJson(startEnvelope(helix->appPath(), examplePatient()));
    QVERIFY(page->waitForFrames(1));
    QTRY_VERIFY(!QFile::exists(helix->resultFile()));
    const QStringList unclaimed = QDir(helix->exchange() + QStringLiteral("/unclaimed")).entryList(QDir::Files);
    QCOMPARE(unclaimed.size(), 1);
    QCOMPARE(page->codes(), QList<int>{1008});

    // The exam still waits for its own result.
    QVERIFY(writeAnswer("own\r\n"));
    QVERIFY(page->waitForFrames(2));
    QCOMPARE(argOf(page->frame(1), "results"), QStringLiteral("own\r\n"));
}

// However many exams never get a result, one folder has one waiting exam.
void TestAudiometryExams::replacedExamsLeaveOnePoller()
{
    for (int i = 0; i < 20; ++i)
        page->sendJson(startEnvelope(helix->appPath(), patientCoded(QString::number(i))));
    QVERIFY(page->waitForFrames(20));
    QCOMPARE(page->codes().count(1008), 20);
    QTRY_COMPARE(connector->router->findChildren<HelixExam *>().size(), 1);
    QCOMPARE(waitingExams(), 1);

    QVERIFY(writeAnswer("last\r\n"));
    QVERIFY(page->waitForFrames(21));
    QCOMPARE(argOf(page->frame(20), "code"), QStringLiteral("19"));
}

void TestAudiometryExams::runningApplicationIsNotStartedAgain_data()
{
    QTest::addColumn<QString>("name"); // a process listed beside explorer.exe
    QTest::addColumn<bool>("ownSession");
    QTest::addColumn<bool>("started");
    QTest::addRow("not running") << QStringLiteral("notepad.exe") << true << true;
    QTest::addRow("running") << QStringLiteral("Helix.exe") << true << false;
    QTest::addRow("name in other letter case") << QStringLiteral("HELIX.EXE") << true << false;
    QTest::addRow("another session's") << QStringLiteral("Helix.exe") << false << true;
    QTest::addRow("name ending in it") << QStringLiteral("OldHelix.exe") << true << true;
    QTest::addRow("name beginning with it") << QStringLiteral("Helix.exe.bak") << true << true;
}

void TestAudiometryExams::runningApplicationIsNotStartedAgain()
{
    QFETCH(QString, name);
    QFETCH(bool, ownSession);
    QFETCH(bool, started);
    connector->programs.listed = {{QStringLiteral("explorer.exe"), true}, {name, ownSession}};
    page->sendJson(startEnvelope(helix->appPath(), examplePatient()));
    QVERIFY(page->waitForFrames(1));
    QCOMPARE(connector->launcher.starts.size(), started ? 1 : 0);

    // With only explorer.exe left the next exam starts it: by its absolute path, with no arguments, in its
    // own folder.
    connector->programs.listed.removeLast();
    page->sendJson(startEnvelope(helix->appPath(), examplePatient()));
    QVERIFY(page->waitForFrames(2));
    QCOMPARE(page->codes(), (QList<int>{1008, 1008}));
    QCOMPARE(connector->launcher.starts.size(), started ? 2 : 1);
    const RecordingLauncher::Start &start = connector->launcher.starts.constLast();
    QCOMPARE(start.program, helix->folder() + QStringLiteral("/Helix.exe"));
    QCOMPARE(start.arguments, QStringList());
    QCOMPARE(start.workingDirectory, helix->folder());
}

void TestAudiometryExams::replacedWhileExamining_data()
{
    QTest::addColumn<QString>("applicationStopped"); // "before B": B's start starts it again; "after B"; "after
                                                     // the result": it ended once the result was written
    QTest::addColumn<QByteArray>("result");
    QTest::addColumn<QString>("reportedAs"); // empty: nobody, error 1012
    const QByteArray neither("PAT-C;Other\r\n");
    QTest::addRow("the result names A") << QString() << QByteArray("PAT-A;Sample;Patient\r\n") << "PAT-A";
    QTest::addRow("the result names neither") << QString() << neither << QString();
    QTest::addRow("the application closed, the result names neither") << "after B" << neither << "PAT-B";
    QTest::addRow("the application started for B, the result names neither") << "before B" << neither << "PAT-B";
    QTest::addRow("the application ended after the result for A")
        << "after the result" << QByteArray("PAT-A;Sample;Patient\r\n") << "PAT-A";
}

// The application examines A when B's request replaces A's; the next result may be either's.
void TestAudiometryExams::replacedWhileExamining()
{
    QFETCH(QString, applicationStopped);
    QFETCH(QByteArray, result);
    QFETCH(QString, reportedAs);
    const QList<RunningPrograms::Process> running{{QStringLiteral("Helix.exe"), true}};
    connector->programs.listed = running;
    startExam(QStringLiteral("PAT-A"));
    if (applicationStopped == QLatin1String("before B"))
        connector->programs.listed.clear();
    startExam(QStringLiteral("PAT-B"));
    if (applicationStopped == QLatin1String("before B")) {
        QCOMPARE(connector->launcher.starts.size(), 1);
        connector->programs.listed = running;
    }
    if (applicationStopped == QLatin1String("after B")) {
        connector->programs.listed.clear();
        QTRY_VERIFY(!examAwaitsEarlierResults());
    }

    QVERIFY(writeAnswer(result));
    if (applicationStopped == QLatin1String("after the result"))
        connector->programs.listed.clear();
    QVERIFY(page->waitForFrames(3));
    QTRY_VERIFY(!QFile::exists(helix->resultFile()));
    if (reportedAs.isEmpty()) {
        QCOMPARE(page->frame(2), (QJsonObject{{QStringLiteral("error"), 1012}}));
        QCOMPARE(unclaimed().size(), 1);
        return;
    }
    QCOMPARE(page->codes(), (QList<int>{1008, 1008, 1005}));
    QCOMPARE(argOf(page->frame(2), "code"), reportedAs);
    QCOMPARE(argOf(page->frame(2), "results"), QString::fromLatin1(result));
    if (reportedAs == QLatin1String("PAT-B"))
        return;
    // B still waits for its own result.
    QVERIFY(writeAnswer("PAT-B;Sample;Patient\r\n"));
    QVERIFY(page->waitForFrames(4));
    QCOMPARE(argOf(page->frame(3), "code"), QStringLiteral("PAT-B"));
}

// A request that cannot be written leaves the waiting exam and its request file as they were.
void TestAudiometryExams::failedRequestWriteKeepsTheWaitingExam()
{
    startExam(QStringLiteral("PAT-A"));
    QFile request(helix->requestFile());
    QVERIFY(request.open(QIODevice::ReadOnly));
    const QByteArray requestA = request.readAll();
    request.close();

    connector->files.failReplace = true;
    page->sendJson(startEnvelope(helix->appPath(), patientCoded(QStringLiteral("PAT-B"))));
    QVERIFY(page->waitForFrames(2));
    QCOMPARE(page->frame(1), (QJsonObject{{QStringLiteral("error"), 1007}}));
    QVERIFY(request.open(QIODevice::ReadOnly));
    QCOMPARE(request.readAll(), requestA);
    QCOMPARE(waitingExams(), 1);

    connector->files.failReplace = false;
    QVERIFY(writeAnswer("A's result\r\n"));
    QVERIFY(page->waitForFrames(3));
    QCOMPARE(argOf(page->frame(2), "code"), QStringLiteral("PAT-A"));
}

void TestAudiometryExams::waitingExamSurvivesARestart_data()
{
    QTest::addColumn<QStringList>("codes");   // the exams started before the restart
    QTest::addColumn<bool>("answered");       // the last one had its result before the restart
    QTest::addColumn<bool>("requestRemoved"); // the request file is gone at the restart
    QTest::addColumn<QByteArray>("result");   // written after the restart
    QTest::addColumn<QString>("reportedAs");  // empty: nothing waits; "1012": nobody's to guess
    const QByteArray neutral("Ear;Hz;dB\r\n");
    QTest::addRow("an exam waited") << QStringList{QStringLiteral("PAT-A")} << false << false << neutral << "PAT-A";
    QTest::addRow("its request file is gone")
        << QStringList{QStringLiteral("PAT-A")} << false << true << neutral << QString();
    QTest::addRow("it had its result") << QStringList{QStringLiteral("PAT-A")} << true << false << neutral << QString();
    QTest::addRow("a replaced exam waited too, the result names the request's patient")
        << QStringList{QStringLiteral("PAT-A"), QStringLiteral("PAT-B")} << false << false
        << QByteArray("PAT-B;Sample\r\n") << "PAT-B";
    QTest::addRow("a replaced exam waited too, the result names another")
        << QStringList{QStringLiteral("PAT-A"), QStringLiteral("PAT-B")} << false << false
        << QByteArray("PAT-A;Sample\r\n") << "1012";
}

// The connector ends while exams wait (an update, a log-off, a crash) and is started again.
void TestAudiometryExams::waitingExamSurvivesARestart()
{
    QFETCH(QStringList, codes);
    QFETCH(bool, answered);
    QFETCH(bool, requestRemoved);
    QFETCH(QByteArray, result);
    QFETCH(QString, reportedAs);
    connector->programs.listed = {{QStringLiteral("Helix.exe"), true}};
    for (const QString &code : codes)
        startExam(code);
    if (answered) {
        QVERIFY(writeAnswer("before the restart\r\n"));
        QVERIFY(page->waitForFrames(codes.size() + 1));
    }
    // Folder paths only: no patient value is kept.
    QFile state(dir->filePath(QStringLiteral("data/waiting-exams.json")));
    QVERIFY(state.open(QIODevice::ReadOnly));
    const QByteArray remembered = state.readAll();
    QVERIFY(!remembered.contains("PAT-") && !remembered.contains("Sample"));

    page.reset();
    connector.reset();
    if (requestRemoved)
        QVERIFY(QFile::remove(helix->requestFile()));
    const QDateTime requested = QFileInfo(helix->requestFile()).fileTime(QFileDevice::FileModificationTime);
    startConnector();
    connector->programs.listed = {{QStringLiteral("Helix.exe"), true}};
    QCOMPARE(waitingExams(), reportedAs.isEmpty() ? 0 : 1);
    if (reportedAs.isEmpty())
        return;

    QVERIFY(helix->writeResult(result, requested.msecsTo(QDateTime::currentDateTime()) - 1000));
    QVERIFY(page->waitForFrames(1));
    if (reportedAs == QLatin1String("1012")) {
        QCOMPARE(page->frame(0), (QJsonObject{{QStringLiteral("error"), 1012}}));
        return;
    }
    QCOMPARE(page->frame(0).value(QLatin1String("message")).toInt(), 1005);
    QCOMPARE(page->frame(0).value(QLatin1String("args")).toObject(),
             (QJsonObject{{QStringLiteral("code"), reportedAs},
                          {QStringLiteral("first_name"), QStringLiteral("Sample")},
                          {QStringLiteral("last_name"), QStringLiteral("Patient")},
                          {QStringLiteral("results"), QString::fromLatin1(result)}}));
    // Replaced exams of unknown patients may still get a result until the application ends.
    connector->programs.listed.clear();
    QTRY_COMPARE(waitingExams(), 0);
}

QTEST_GUILESS_MAIN(TestAudiometryExams)
#include "tst_audiometryexams.moc"

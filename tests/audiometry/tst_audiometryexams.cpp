// Exams over a real WebSocket to the connector in this process: what the page receives, and that every
// result reaches the patient it belongs to.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

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

private:
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
    connector = std::make_unique<InProcessConnector>();
    connector->clock.offsetMs = 5000;
    page = std::make_unique<PageClient>();
    QVERIFY(page->open(connector->url()));
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

QTEST_GUILESS_MAIN(TestAudiometryExams)
#include "tst_audiometryexams.moc"

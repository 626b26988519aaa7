// The audiometry bridge's own rules, driven directly: download percentages, when a result file is
// taken, and the process list it asks.
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

#include "audiometry/helixaudiometry.h"
#include "audiometry/helixinstallation.h"
#include "inprocessconnector.h"
#include "platform/processlist.h"

namespace {

bool processListed(const std::string &name)
{
    const std::vector<std::string> names = runningProcessNames();
    return std::find(names.begin(), names.end(), name) != names.end();
}

char processState(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return '?';
    const QByteArray text = stat.readAll();
    const int end = text.lastIndexOf(')');
    return end >= 0 && end + 2 < text.size() ? text.at(end + 2) : '?';
}

QJsonObject patient()
{
    return QJsonObject{{QStringLiteral("first_name"), QStringLiteral("Sample")},
                       {QStringLiteral("last_name"), QStringLiteral("Patient")},
                       {QStringLiteral("birth_date"), QStringLiteral("07/03/1985")},
                       {QStringLiteral("code"), QStringLiteral("P0042")},
                       {QStringLiteral("gender"), 1},
                       {QStringLiteral("height"), 170},
                       {QStringLiteral("weight"), 65}};
}

} // namespace

class TestHelixBridge : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void downloadPercent_data();
    void downloadPercent();
    void resultTakenOnlyWhenSettled_data();
    void resultTakenOnlyWhenSettled();
    void resultWithTimeAheadOfTheClock();
    void unreadableResultIsKept();
    void requestFileFailure();
    void scriptNamedLikeTheApplicationCounts();
    void endedProcessIsNotListed();
    void listingWhileProcessesComeAndGo();

private:
    /// A bridge whose exam has started in the folder, with a dummy application that cannot start.
    bool startExam();
    bool writeResult(const QByteArray &bytes, qint64 ageMs);
    QString resultFile() const { return dir->filePath(QStringLiteral("XCHG/TEST_DATA.csv")); }

    std::unique_ptr<QTemporaryDir> dir;
    RecordingLauncher launcher;
    OffsetClock clock;
    InstallationSlot installations;
    std::unique_ptr<HelixAudiometry> bridge;
    std::unique_ptr<QSignalSpy> messages;
    std::unique_ptr<QSignalSpy> errors;
    std::unique_ptr<QSignalSpy> finished;
};

void TestHelixBridge::initTestCase()
{
    qRegisterMetaType<SocketMessage>("SocketMessage");
}

void TestHelixBridge::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    AudiometrySettings settings;
    settings.desktopFolder = dir->path();
    settings.launcher = &launcher;
    settings.clock = &clock;
    settings.installations = &installations;
    bridge = std::make_unique<HelixAudiometry>(AppFolder(dir->path() + QLatin1Char('/')), settings);
    messages = std::make_unique<QSignalSpy>(bridge.get(), &HelixAudiometry::sendMessage);
    errors = std::make_unique<QSignalSpy>(bridge.get(), &HelixAudiometry::sendErrorMessage);
    finished = std::make_unique<QSignalSpy>(bridge.get(), &HelixAudiometry::finished);
}

void TestHelixBridge::cleanup()
{
    finished.reset();
    errors.reset();
    messages.reset();
    bridge.reset();
    dir.reset();
}

bool TestHelixBridge::startExam()
{
    QFile exe(dir->filePath(QStringLiteral("Helix.exe")));
    if (!exe.open(QIODevice::WriteOnly))
        return false;
    exe.close();
    bridge->processCommand(QJsonObject{{QStringLiteral("command"), QStringLiteral("START_AUDIOMETRY")},
                                       {QStringLiteral("patient"), patient()}});
    return messages->size() == 1 && messages->at(0).at(0).value<SocketMessage>() == HELIX_EXAM_STARTED;
}

bool TestHelixBridge::writeResult(const QByteArray &bytes, qint64 ageMs)
{
    QFile file(resultFile());
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return false;
    // Flushed first: a later flush would date the file now.
    return file.flush() &&
           file.setFileTime(QDateTime::currentDateTime().addMSecs(-ageMs), QFileDevice::FileModificationTime);
}

void TestHelixBridge::downloadPercent_data()
{
    QTest::addColumn<qint64>("received");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<int>("percent"); // -1: no frame

    QTest::addRow("50 of 200") << qint64(50) << qint64(200) << 25;
    QTest::addRow("1 of 3 truncated") << qint64(1) << qint64(3) << 33;
    QTest::addRow("2 of 3 truncated, not rounded") << qint64(2) << qint64(3) << 66;
    QTest::addRow("nothing yet") << qint64(0) << qint64(1000) << 0;
    QTest::addRow("all") << qint64(1000) << qint64(1000) << 100;
    QTest::addRow("beyond 32 bits") << qint64(3000000000) << qint64(6000000000) << 50;
    QTest::addRow("unknown total") << qint64(4096) << qint64(-1) << -1;
    QTest::addRow("zero total") << qint64(0) << qint64(0) << -1;
}

void TestHelixBridge::downloadPercent()
{
    QFETCH(qint64, received);
    QFETCH(qint64, total);
    QFETCH(int, percent);

    const std::optional<qint64> reported = HelixInstallation::progressPercent(received, total);
    QCOMPARE(reported.has_value(), percent >= 0);
    if (reported)
        QCOMPARE(*reported, qint64(percent));
}

void TestHelixBridge::resultTakenOnlyWhenSettled_data()
{
    QTest::addColumn<qint64>("ageMs");
    QTest::addColumn<bool>("taken");

    QTest::addRow("just written") << qint64(0) << false;
    QTest::addRow("written 300 ms ago") << qint64(300) << false;
    QTest::addRow("written 600 ms ago") << qint64(600) << true;
    QTest::addRow("waiting since long before") << qint64(3600000) << true;
}

// A file still being written must not be read and deleted half-way.
void TestHelixBridge::resultTakenOnlyWhenSettled()
{
    QFETCH(qint64, ageMs);
    QFETCH(bool, taken);

    QVERIFY(startExam());
    QVERIFY(writeResult("Ear;Hz;dB\r\nRight;1000;20\r\n", ageMs));
    bridge->watchHelixFolder();

    QCOMPARE(messages->size(), taken ? 2 : 1);
    QCOMPARE(QFile::exists(resultFile()), !taken);
    QCOMPARE(finished->size(), taken ? 1 : 0);
    if (taken)
        QCOMPARE(messages->at(1).at(1).value<QJsonObject>().value(QLatin1String("results")).toString(),
                 QStringLiteral("Ear;Hz;dB\r\nRight;1000;20\r\n"));
}

void TestHelixBridge::resultWithTimeAheadOfTheClock()
{
    QVERIFY(startExam());
    QVERIFY(writeResult("from the future", -60000));
    bridge->watchHelixFolder();
    QCOMPARE(messages->size(), 1);
    // Unchanged over a whole poll: the writer is done even though the stamp never ages.
    bridge->watchHelixFolder();
    QCOMPARE(messages->size(), 2);
}

void TestHelixBridge::unreadableResultIsKept()
{
    QVERIFY(startExam());
    // A folder where the file should be cannot be opened as a file.
    QVERIFY(QDir().mkdir(resultFile()));
    bridge->watchHelixFolder();
    QCOMPARE(messages->size(), 1);
    QCOMPARE(finished->size(), 0);

    QVERIFY(QDir().rmdir(resultFile()));
    QVERIFY(writeResult("second try", 1000));
    bridge->watchHelixFolder();
    QCOMPARE(messages->size(), 2);
    QCOMPARE(messages->at(1).at(1).value<QJsonObject>().value(QLatin1String("results")).toString(),
             QStringLiteral("second try"));
}

void TestHelixBridge::requestFileFailure()
{
    QFile exe(dir->filePath(QStringLiteral("Helix.exe")));
    QVERIFY(exe.open(QIODevice::WriteOnly));
    exe.close();
    QVERIFY(QDir().mkdir(dir->filePath(QStringLiteral("XCHG"))));
    // A folder in the way of the request file: it cannot be written.
    QVERIFY(QDir().mkdir(dir->filePath(QStringLiteral("XCHG/hedeprax.gdt"))));
    bridge->processCommand(QJsonObject{{QStringLiteral("command"), QStringLiteral("START_AUDIOMETRY")},
                                       {QStringLiteral("patient"), patient()}});
    QCOMPARE(errors->size(), 1);
    QCOMPARE(errors->at(0).at(0).value<SocketMessage>(), HELIX_REQUEST_FILE_FAILED);
    QCOMPARE(messages->size(), 0);
    QCOMPARE(finished->size(), 1);
    // No stray temporary file is left in the exchange folder.
    QCOMPARE(QDir(dir->filePath(QStringLiteral("XCHG"))).entryList(QDir::Files).size(), 0);
}

void TestHelixBridge::scriptNamedLikeTheApplicationCounts()
{
    const QString script = dir->filePath(QStringLiteral("HelixProbe.exe"));
    QFile file(script);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\nread line\n");
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    QProcess process;
    process.start(script, QStringList());
    QVERIFY(process.waitForStarted());
    QTRY_VERIFY(processListed("HelixProbe.exe"));
    process.closeWriteChannel();
    QVERIFY(process.waitForFinished());
    QTRY_VERIFY(!processListed("HelixProbe.exe"));
}

// Where nothing reaps orphans, an ended application stays in the process table as a zombie; it must
// not count as running, or the application would never be started again.
void TestHelixBridge::endedProcessIsNotListed()
{
    int ready[2];
    QCOMPARE(::pipe(ready), 0);
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        ::prctl(PR_SET_NAME, "ZombieProbe");
        char byte = 0;
        if (::read(ready[0], &byte, 1) < 0)
            ::_exit(1);
        ::_exit(0);
    }
    QTRY_VERIFY(processListed("ZombieProbe"));
    QCOMPARE(::write(ready[1], "x", 1), ssize_t(1));
    QTRY_COMPARE(processState(child), 'Z');
    QVERIFY(!processListed("ZombieProbe"));
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
}

// The list is read while processes end and are reaped; a file of a process that vanished half-way
// through must end that read quietly. A long-running connector sees this sooner or later.
void TestHelixBridge::listingWhileProcessesComeAndGo()
{
    std::atomic<bool> stop{false};
    std::atomic<int> children{0};
    // Batches of short-lived children that end at staggered moments and are reaped at once.
    auto churn = [&] {
        while (!stop) {
            pid_t batch[16];
            for (int i = 0; i < 16; ++i) {
                batch[i] = ::fork();
                if (batch[i] == 0) {
                    ::usleep(useconds_t(200 * (i % 8)));
                    ::_exit(0);
                }
            }
            for (const pid_t child : batch) {
                if (child > 0) {
                    ::waitpid(child, nullptr, 0);
                    ++children;
                }
            }
        }
    };
    std::thread first(churn);
    std::thread second(churn);
    std::thread third(churn);
    QElapsedTimer timer;
    timer.start();
    int lists = 0;
    bool alwaysListed = true;
    while (timer.elapsed() < 1500) {
        alwaysListed = alwaysListed && !runningProcessNames().empty();
        ++lists;
    }
    stop = true;
    first.join();
    second.join();
    third.join();
    QVERIFY(alwaysListed);
    QVERIFY(lists > 0);
    QVERIFY(children > 0);
}

QTEST_GUILESS_MAIN(TestHelixBridge)
#include "tst_helixbridge.moc"

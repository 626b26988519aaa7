// The list of running programs the audiometry bridge asks before it starts the application.
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

#include "platform/processlist.h"

namespace {

/// Whether a process of that name is listed, as the operator's own or as another user's.
bool processListed(const std::string &name, bool ownSession = true)
{
    const std::vector<ProcessEntry> entries = runningProcesses();
    return std::any_of(entries.begin(), entries.end(),
                       [&](const ProcessEntry &entry) { return entry.name == name && entry.ownSession == ownSession; });
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

} // namespace

class TestProcessList : public QObject
{
    Q_OBJECT

private slots:
    void scriptNamedLikeTheApplicationCounts();
    void endedProcessIsNotListed_data();
    void endedProcessIsNotListed();
    void listingWhileProcessesComeAndGo();

private:
    std::unique_ptr<QTemporaryDir> dir = std::make_unique<QTemporaryDir>();
};

void TestProcessList::scriptNamedLikeTheApplicationCounts()
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

void TestProcessList::endedProcessIsNotListed_data()
{
    QTest::addColumn<bool>("ownUser");
    QTest::addRow("the operator's") << true;
    // Another user's process is listed as not the operator's.
    QTest::addRow("another user's") << false;
}

// Where nothing reaps orphans, an ended application stays in the process table as a zombie; it must
// not count as running, or the application would never be started again.
void TestProcessList::endedProcessIsNotListed()
{
    // A name of this run's own: another run of this test on the machine has a zombie of its own.
    const std::string zombieName = "Zombie" + std::to_string(::getpid() % 1000000);
    QFETCH(bool, ownUser);
    if (!ownUser && ::getuid() != 0)
        QSKIP("only root can start a process of another user");
    int ready[2];
    QCOMPARE(::pipe(ready), 0);
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        if (!ownUser && ::setuid(65534) != 0) // nobody
            ::_exit(1);
        ::prctl(PR_SET_NAME, zombieName.c_str());
        ::close(ready[1]); // ends with the test, should the test fail before it writes
        char byte = 0;
        if (::read(ready[0], &byte, 1) < 0)
            ::_exit(1);
        ::_exit(0);
    }
    QTRY_VERIFY(processListed(zombieName, ownUser));
    QVERIFY(!processListed(zombieName, !ownUser));
    QCOMPARE(::write(ready[1], "x", 1), ssize_t(1));
    QTRY_COMPARE(processState(child), 'Z');
    QVERIFY(!processListed(zombieName, ownUser));
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
}

// The list is read while processes end and are reaped; a file of a process that vanished half-way
// through must end that read quietly. A long-running connector sees this sooner or later.
void TestProcessList::listingWhileProcessesComeAndGo()
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
        alwaysListed = alwaysListed && !runningProcesses().empty();
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

QTEST_GUILESS_MAIN(TestProcessList)
#include "tst_processlist.moc"

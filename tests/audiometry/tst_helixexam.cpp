// Whose result a result file is, and that it is taken exactly once: HelixExam driven poll by poll.
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

#include "audiometry/examregistry.h"
#include "audiometry/helixexam.h"
#include "audiometry/rememberedfolders.h"
#include "inprocessconnector.h"
#include "platform/fileoperations.h"

namespace {

Patient patientCoded(const QString &code)
{
    Patient patient;
    patient.code = code;
    patient.firstName = QStringLiteral("Name ") + code;
    patient.lastName = QStringLiteral("Given");
    return patient;
}

/// The application's open handle on its result file: on Windows with the sharing the test names (reading and
/// writing, and deletion too if asked), elsewhere an open file.
class OpenResultFile
{
public:
    OpenResultFile(const QString &path, bool sharesDeletion)
    {
#ifdef Q_OS_WIN
        const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | (sharesDeletion ? FILE_SHARE_DELETE : 0);
        handle =
            CreateFileW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()),
                        GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
#else
        Q_UNUSED(sharesDeletion)
        file.setFileName(path);
        file.open(QIODevice::ReadWrite);
#endif
    }
    ~OpenResultFile()
    {
        close();
    }
    OpenResultFile(const OpenResultFile &) = delete;
    OpenResultFile &operator=(const OpenResultFile &) = delete;

#ifdef Q_OS_WIN
    bool isOpen() const
    {
        return handle != INVALID_HANDLE_VALUE;
    }
    void close()
    {
        if (isOpen())
            CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle = INVALID_HANDLE_VALUE;
#else
    bool isOpen() const
    {
        return file.isOpen();
    }
    void close()
    {
        file.close();
    }

private:
    QFile file;
#endif
};

} // namespace

class TestHelixExam : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void wholeField_data();
    void wholeField();
    void rememberedFolders_data();
    void rememberedFolders();
    void owner_data();
    void owner();
    void takenOnlyWhenSettled_data();
    void takenOnlyWhenSettled();
    void timeAheadOfTheClock();
    void heldOpenIsTakenLater();
    void writerStillHoldsTheResult_data();
    void writerStillHoldsTheResult();
    void undeletableResultIsReportedOnce();
    void resultWaitsForAPage();
    void replacedExamStopsAndHandsOver();
    void replacedExamsWaitBeyondTheOwnResult_data();
    void replacedExamsWaitBeyondTheOwnResult();
    void unreadResultIsHandedOverOrLogged();

private:
    /// An exam coded "NEW" whose request was written at requestTime, optionally replacing an exam coded
    /// replacedCode whose request was written at replacedTime.
    std::unique_ptr<HelixExam> makeExam(const QDateTime &requestTime, const QDateTime &replacedTime = {},
                                        const QString &replacedCode = QStringLiteral("OLD"));
    bool writeResult(const QByteArray &bytes, const QDateTime &modified);
    QStringList filesIn(const QString &subFolder) const;
    QString resultsAt(int index) const;
    QString codeAt(int index) const;

    std::unique_ptr<QTemporaryDir> dir;
    OffsetClock clock;
    SwitchableFiles files;
    ListedPrograms programs;
    bool pageConnected = true;
    AudiometrySettings settings;
    std::unique_ptr<QSignalSpy> reports;
    std::unique_ptr<QSignalSpy> finished;
    const QDateTime requested = QDateTime::currentDateTimeUtc().addSecs(-60);
};

void TestHelixExam::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    clock.offsetMs = 0;
    files.failRename = files.failRemove = files.failRead = false;
    programs.listed = {{helixExecutableName(), true}};
    pageConnected = true;
    settings.clock = &clock;
    settings.files = &files;
    settings.programs = &programs;
    settings.pageConnected = [this] { return pageConnected; };
}

void TestHelixExam::cleanup()
{
    reports.reset();
    finished.reset();
    dir.reset();
}

std::unique_ptr<HelixExam> TestHelixExam::makeExam(const QDateTime &requestTime, const QDateTime &replacedTime,
                                                   const QString &replacedCode)
{
    auto exam = std::make_unique<HelixExam>(dir->path(), ExamRequest{patientCoded(QStringLiteral("NEW")), requestTime},
                                            settings);
    if (replacedTime.isValid()) {
        HelixExam replaced(dir->path(), ExamRequest{patientCoded(replacedCode), replacedTime}, settings);
        exam->replace(replaced);
    }
    reports = std::make_unique<QSignalSpy>(exam.get(), &HelixExam::sendMessage);
    finished = std::make_unique<QSignalSpy>(exam.get(), &HelixExam::finished);
    exam->start();
    return exam;
}

bool TestHelixExam::writeResult(const QByteArray &bytes, const QDateTime &modified)
{
    QFile file(dir->filePath(QStringLiteral("TEST_DATA.csv")));
    // Flushed first: a later flush would date the file now.
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush() &&
           file.setFileTime(modified, QFileDevice::FileModificationTime);
}

QStringList TestHelixExam::filesIn(const QString &subFolder) const
{
    return QDir(dir->filePath(subFolder)).entryList(QDir::Files);
}

QString TestHelixExam::resultsAt(int index) const
{
    return reports->at(index).at(1).value<QJsonObject>().value(QLatin1String("results")).toString();
}

QString TestHelixExam::codeAt(int index) const
{
    return reports->at(index).at(1).value<QJsonObject>().value(QLatin1String("code")).toString();
}

void TestHelixExam::wholeField_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("found"); // "P1"
    QTest::addRow("first field") << QStringLiteral("P1;Name") << true;
    QTest::addRow("a line of its own") << QStringLiteral("Head\r\nP1\r\nTail") << true;
    QTest::addRow("between commas") << QStringLiteral("a,P1,b") << true;
    QTest::addRow("between tabs") << QStringLiteral("a\tP1\tb") << true;
    QTest::addRow("in double quotes") << QStringLiteral("\"P1\";\"Name\"") << true;
    QTest::addRow("start of a longer field") << QStringLiteral("P12;Name") << false;
    QTest::addRow("after a blank") << QStringLiteral("Name; P1") << false;
    QTest::addRow("whole after a longer field") << QStringLiteral("P12;P1") << true;
}

void TestHelixExam::wholeField()
{
    QFETCH(QString, text);
    QFETCH(bool, found);
    QCOMPARE(containsField(text, QStringLiteral("P1")), found);
}

void TestHelixExam::rememberedFolders_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QStringList>("folders"); // each as "path request earlier", the flags 0 or 1
    const QString root = QDir::rootPath();    // "/" or "C:/"
    const QByteArray written = rememberedFoldersJson({{root + QStringLiteral("clinic/Helix/XCHG"), true, false},
                                                      {root + QStringLiteral("clinic/Helix 2/XCHG"), false, true}});
    QTest::addRow("as written") << written
                                << QStringList{root + QStringLiteral("clinic/Helix/XCHG 1 0"),
                                               root + QStringLiteral("clinic/Helix 2/XCHG 0 1")};
    QTest::addRow("relative folder, folder no text, entry no object")
        << QStringLiteral("{\"waiting_exams\": [{\"exchange_folder\": \"XCHG\"}, {\"exchange_folder\": 1}, \"%1x\"]}")
               .arg(root)
               .toUtf8()
        << QStringList();
    QTest::addRow("not JSON") << QByteArray("\x00garbage{") << QStringList();
}

// A damaged state file costs the remembered exams, nothing else.
void TestHelixExam::rememberedFolders()
{
    QFETCH(QByteArray, json);
    QFETCH(QStringList, folders);
    QStringList read;
    for (const RememberedFolder &folder : parseRememberedFolders(json))
        read.append(QStringLiteral("%1 %2 %3")
                        .arg(folder.exchangeFolder)
                        .arg(int(folder.requestAwaited))
                        .arg(int(folder.earlierExamsAwaited)));
    QCOMPARE(read, folders);
}

void TestHelixExam::owner_data()
{
    QTest::addColumn<qint64>("resultAfterRequestMs"); // the result file's time against this exam's request
    QTest::addColumn<QString>("replacedCode");        // an exam requested 20 s before this one was replaced
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("outcome"); // the code reported, "nobody" or "unattributed"

    const QString none, old = QStringLiteral("OLD"), nobody = QStringLiteral("nobody");
    const QString unattributed = QStringLiteral("unattributed");
    const QByteArray plain("Ear;Hz;dB\r\nRight;1000;20\r\n");
    QTest::addRow("written after the request: this exam's") << qint64(5000) << none << plain << "NEW";
    QTest::addRow("written before the request: nobody's") << qint64(-5000) << none << plain << nobody;
    QTest::addRow("as old as the request: nobody's") << qint64(0) << none << plain << nobody;
    QTest::addRow("between the replaced exam and this one: the replaced exam's")
        << qint64(-5000) << old << plain << old;
    QTest::addRow("before both requests: nobody's") << qint64(-30000) << old << plain << nobody;
    QTest::addRow("after both, naming neither") << qint64(5000) << old << plain << unattributed;
    QTest::addRow("after both, naming the replaced patient")
        << qint64(5000) << old << QByteArray("OLD;Name OLD;Given\r\n") << old;
    QTest::addRow("after both, naming this patient")
        << qint64(5000) << old << QByteArray("NEW;Name NEW;Given\r\n") << "NEW";
    QTest::addRow("after both, naming both") << qint64(5000) << old << QByteArray("NEW;OLD\r\n") << unattributed;
    QTest::addRow("after both, a code inside a longer field")
        << qint64(5000) << old << QByteArray("OLDER;NEWS\r\n") << unattributed;
    QTest::addRow("the same patient requested again") << qint64(5000) << QStringLiteral("NEW") << plain << "NEW";
}

void TestHelixExam::owner()
{
    QFETCH(qint64, resultAfterRequestMs);
    QFETCH(QString, replacedCode);
    QFETCH(QByteArray, content);
    QFETCH(QString, outcome);

    const auto exam = makeExam(requested, replacedCode.isEmpty() ? QDateTime() : requested.addSecs(-20), replacedCode);
    QSignalSpy errors(exam.get(), &HelixExam::sendErrorMessage);
    QVERIFY(writeResult(content, requested.addMSecs(resultAfterRequestMs)));
    exam->watchHelixFolder();

    QVERIFY(!QFile::exists(dir->filePath(QStringLiteral("TEST_DATA.csv"))));
    QCOMPARE(filesIn(QStringLiteral("claimed")), QStringList());
    if (outcome == QLatin1String("nobody") || outcome == QLatin1String("unattributed")) {
        // Never reported, never deleted: kept whole under a name that still says what it is.
        QCOMPARE(reports->size(), 0);
        const QStringList unclaimed = filesIn(QStringLiteral("unclaimed"));
        QCOMPARE(unclaimed.size(), 1);
        QVERIFY(unclaimed.first().startsWith(QLatin1String("TEST_DATA-")));
        QVERIFY(unclaimed.first().endsWith(QLatin1String(".csv")));
        QFile kept(dir->filePath(QStringLiteral("unclaimed/") + unclaimed.first()));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), content);
        // Only a result that might be a waiting patient's is worth the operator's attention.
        QCOMPARE(errors.size(), outcome == QLatin1String("unattributed") ? 1 : 0);
        if (!errors.isEmpty())
            QCOMPARE(errors.at(0).at(0).value<SocketMessage>(), HELIX_RESULT_UNATTRIBUTED);
        QVERIFY(exam->awaitsOwnResult());
        return;
    }
    QCOMPARE(errors.size(), 0);
    QCOMPARE(reports->size(), 1);
    QCOMPARE(reports->at(0).at(0).value<SocketMessage>(), HELIX_RESULTS);
    QCOMPARE(reports->at(0).at(1).value<QJsonObject>(),
             (QJsonObject{{QStringLiteral("code"), outcome},
                          {QStringLiteral("first_name"), QStringLiteral("Name ") + outcome},
                          {QStringLiteral("last_name"), QStringLiteral("Given")},
                          {QStringLiteral("results"), QString::fromLatin1(content)}}));
    // This exam's own result is given to it, even when the replaced exam was the same patient's.
    QCOMPARE(exam->awaitsOwnResult(), outcome != QLatin1String("NEW"));
}

void TestHelixExam::takenOnlyWhenSettled_data()
{
    QTest::addColumn<qint64>("ageMs");
    QTest::addColumn<bool>("taken");
    QTest::addRow("just written") << qint64(0) << false;
    QTest::addRow("written moments ago") << qint64(HelixExam::resultSettleMs - 100) << false;
    QTest::addRow("left alone long enough") << qint64(HelixExam::resultSettleMs + 100) << true;
}

// A file still being written must not be taken half-way.
void TestHelixExam::takenOnlyWhenSettled()
{
    QFETCH(qint64, ageMs);
    QFETCH(bool, taken);
    const QDateTime written = QDateTime::currentDateTimeUtc();
    const auto exam = makeExam(written.addSecs(-10));
    QVERIFY(writeResult("result", written));
    clock.offsetMs = ageMs;
    exam->watchHelixFolder();
    QCOMPARE(reports->size(), taken ? 1 : 0);
    QCOMPARE(QFile::exists(dir->filePath(QStringLiteral("TEST_DATA.csv"))), !taken);
}

void TestHelixExam::timeAheadOfTheClock()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const auto exam = makeExam(now.addSecs(-10));
    QVERIFY(writeResult("from the future", now.addSecs(60)));
    exam->watchHelixFolder();
    QCOMPARE(reports->size(), 0);
    // Unchanged over a whole poll: the writer is done even though the stamp never ages.
    exam->watchHelixFolder();
    QCOMPARE(reports->size(), 1);
}

// On Windows the application may still hold the file: it cannot be taken, and is tried again; the log says so once
// it lasts.
void TestHelixExam::heldOpenIsTakenLater()
{
    const auto exam = makeExam(requested);
    QVERIFY(writeResult("held", requested.addSecs(5)));
    files.failRename = true;
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("cannot be taken yet, tried 5 times: held by the test$")));
    for (int poll = 0; poll < HelixExam::failedTakesBeforeLog; ++poll)
        exam->watchHelixFolder();
    QCOMPARE(reports->size(), 0);
    QVERIFY(QFile::exists(dir->filePath(QStringLiteral("TEST_DATA.csv"))));
    files.failRename = false;
    exam->watchHelixFolder();
    QCOMPARE(reports->size(), 1);
    QCOMPARE(resultsAt(0), QStringLiteral("held"));
}

void TestHelixExam::writerStillHoldsTheResult_data()
{
    QTest::addColumn<bool>("sharesDeletion");
    QTest::addRow("writer shares reading and writing") << false;
    QTest::addRow("writer shares deletion too") << true;
}

// The application has written its result and still holds it open. On Windows it is not taken, whatever the writer
// shares, until the writer has closed it; elsewhere a rename works on an open file, and the settle time guards it.
void TestHelixExam::writerStillHoldsTheResult()
{
    QFETCH(bool, sharesDeletion);
    FileOperations platformFiles;
    settings.files = &platformFiles;
    const auto exam = makeExam(requested);
    QVERIFY(writeResult("NEW;whole", requested.addSecs(5)));
    OpenResultFile writer(dir->filePath(QStringLiteral("TEST_DATA.csv")), sharesDeletion);
    QVERIFY(writer.isOpen());
#ifdef Q_OS_WIN
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("cannot be taken yet, tried 5 times: Windows error 32 ")));
    for (int poll = 0; poll < HelixExam::failedTakesBeforeLog; ++poll)
        exam->watchHelixFolder();
    QCOMPARE(reports->size(), 0);
    QVERIFY(QFile::exists(dir->filePath(QStringLiteral("TEST_DATA.csv"))));
    QCOMPARE(filesIn(QStringLiteral("claimed")), QStringList());
    writer.close();
#endif
    exam->watchHelixFolder();
    QCOMPARE(reports->size(), 1);
    QCOMPARE(resultsAt(0), QStringLiteral("NEW;whole"));
    QCOMPARE(filesIn(QStringLiteral("claimed")), QStringList());
    QVERIFY(!QFile::exists(dir->filePath(QStringLiteral("TEST_DATA.csv"))));
}

// A reported result that cannot be deleted stays where nothing takes it again.
void TestHelixExam::undeletableResultIsReportedOnce()
{
    const auto exam = makeExam(requested, requested.addSecs(-20));
    files.failRemove = true;
    QVERIFY(writeResult("old exam's", requested.addSecs(-5)));
    exam->watchHelixFolder();
    QVERIFY(writeResult("own", requested.addSecs(5)));
    exam->watchHelixFolder();
    exam->watchHelixFolder();
    QCOMPARE(reports->size(), 2);
    QCOMPARE(codeAt(0), QStringLiteral("OLD"));
    QCOMPARE(codeAt(1), QStringLiteral("NEW"));
    QCOMPARE(resultsAt(1), QStringLiteral("own"));
    QCOMPARE(filesIn(QStringLiteral("claimed")).size(), 2);
}

// Read into a frame that no page receives, a result would be lost.
void TestHelixExam::resultWaitsForAPage()
{
    const auto exam = makeExam(requested);
    QVERIFY(writeResult("while away", requested.addSecs(5)));
    pageConnected = false;
    exam->watchHelixFolder();
    QCOMPARE(reports->size(), 0);
    QVERIFY(QFile::exists(dir->filePath(QStringLiteral("TEST_DATA.csv"))));
    pageConnected = true;
    exam->watchHelixFolder();
    QCOMPARE(reports->size(), 1);
    QCOMPARE(codeAt(0), QStringLiteral("NEW"));
}

void TestHelixExam::replacedExamStopsAndHandsOver()
{
    ExamRegistry registry;
    auto first =
        std::make_unique<HelixExam>(dir->path(), ExamRequest{patientCoded(QStringLiteral("A")), requested}, settings);
    QSignalSpy firstFinished(first.get(), &HelixExam::finished);
    first->start();
    registry.replace(dir->path(), first.get());
    QCOMPARE(registry.waiting(), 1);

    // The same folder spelled another way is still the same folder.
    const auto second = makeExam(requested.addSecs(30));
    registry.replace(dir->path() + QStringLiteral("/."), second.get());
    QCOMPARE(firstFinished.size(), 1);
    QVERIFY(!first->isWaiting());
    QCOMPARE(registry.waiting(), 1);

    // The first exam's result, written before the second request, still reaches the first patient.
    QVERIFY(writeResult("A's", requested.addSecs(10)));
    second->watchHelixFolder();
    QCOMPARE(reports->size(), 1);
    QCOMPARE(codeAt(0), QStringLiteral("A"));
}

void TestHelixExam::replacedExamsWaitBeyondTheOwnResult_data()
{
    QTest::addColumn<bool>("applicationEnds");
    QTest::addRow("the application runs on") << false;
    QTest::addRow("the application ends") << true;
}

// This exam's result does not end the waiting for the exam it replaced; only that exam's result or the
// application's end does.
void TestHelixExam::replacedExamsWaitBeyondTheOwnResult()
{
    QFETCH(bool, applicationEnds);
    const auto exam = makeExam(requested, requested.addSecs(-20));
    QVERIFY(writeResult("NEW;own", requested.addSecs(5)));
    exam->watchHelixFolder();
    QCOMPARE(codeAt(0), QStringLiteral("NEW"));
    QVERIFY(exam->isWaiting());
    QCOMPARE(finished->size(), 0);

    if (applicationEnds) {
        programs.listed.clear();
        exam->watchHelixFolder();
        QVERIFY(!exam->isWaiting());
    } else {
        // With only the replaced exam left, its time gives it the next result.
        QVERIFY(writeResult("late", requested.addSecs(10)));
        exam->watchHelixFolder();
        QCOMPARE(reports->size(), 2);
        QCOMPARE(codeAt(1), QStringLiteral("OLD"));
    }
    QCOMPARE(finished->size(), 1);
}

// A result taken but not yet readable is not lost with the exam that took it.
void TestHelixExam::unreadResultIsHandedOverOrLogged()
{
    const auto exam = makeExam(requested);
    QVERIFY(writeResult("NEW;x", requested.addSecs(5)));
    files.failRead = true;
    exam->watchHelixFolder();
    QCOMPARE(reports->size(), 0);
    QCOMPARE(filesIn(QStringLiteral("claimed")).size(), 1);

    // A newer exam in the folder takes it over, and reports it to its exam once it can be read.
    auto newer = std::make_unique<HelixExam>(
        dir->path(), ExamRequest{patientCoded(QStringLiteral("NEWER")), requested.addSecs(30)}, settings);
    reports = std::make_unique<QSignalSpy>(newer.get(), &HelixExam::sendMessage);
    newer->replace(*exam);
    files.failRead = false;
    newer->watchHelixFolder();
    QCOMPARE(reports->size(), 1);
    QCOMPARE(codeAt(0), QStringLiteral("NEW"));

    // One that is never read is logged, with where it stays, when its exam ends.
    QVERIFY(writeResult("NEWER;y", requested.addSecs(40)));
    files.failRead = true;
    newer->watchHelixFolder();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("never read.*/claimed/TEST_DATA-")));
    newer.reset();
    QCOMPARE(filesIn(QStringLiteral("claimed")).size(), 1);
}

QTEST_GUILESS_MAIN(TestHelixExam)
#include "tst_helixexam.moc"

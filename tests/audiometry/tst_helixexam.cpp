// Whose result a result file is, and that it is taken exactly once: HelixExam driven poll by poll.
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "audiometry/helixexam.h"
#include "inprocessconnector.h"

namespace {

Patient patientCoded(const QString &code)
{
    Patient patient;
    patient.code = code;
    patient.firstName = QStringLiteral("Name ") + code;
    patient.lastName = QStringLiteral("Given");
    return patient;
}

} // namespace

class TestHelixExam : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void owner_data();
    void owner();
    void takenOnlyWhenSettled_data();
    void takenOnlyWhenSettled();
    void timeAheadOfTheClock();
    void heldOpenIsTakenLater();
    void undeletableResultIsReportedOnce();
    void resultWaitsForAPage();
    void replacedExamStopsAndHandsOver();

private:
    /// An exam whose request was written at requestTime, optionally replacing one written at replacedTime.
    std::unique_ptr<HelixExam> makeExam(const QDateTime &requestTime, const QDateTime &replacedTime = {});
    bool writeResult(const QByteArray &bytes, const QDateTime &modified);
    QStringList filesIn(const QString &subFolder) const;
    QString resultsAt(int index) const;
    QString codeAt(int index) const;

    std::unique_ptr<QTemporaryDir> dir;
    OffsetClock clock;
    SwitchableFiles files;
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
    files.failRename = files.failRemove = false;
    pageConnected = true;
    settings.clock = &clock;
    settings.files = &files;
    settings.pageConnected = [this] { return pageConnected; };
}

void TestHelixExam::cleanup()
{
    reports.reset();
    finished.reset();
    dir.reset();
}

std::unique_ptr<HelixExam> TestHelixExam::makeExam(const QDateTime &requestTime, const QDateTime &replacedTime)
{
    auto exam = std::make_unique<HelixExam>(dir->path(), ExamRequest{patientCoded(QStringLiteral("NEW")), requestTime},
                                            settings);
    if (replacedTime.isValid())
        exam->setReplaced(ExamRequest{patientCoded(QStringLiteral("OLD")), replacedTime});
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

void TestHelixExam::owner_data()
{
    QTest::addColumn<qint64>("resultAfterRequestMs"); // the result file's time against this exam's request
    QTest::addColumn<bool>("replacedAnExam");         // an exam requested 20 s before this one was replaced
    QTest::addColumn<QString>("reportedAs");          // empty: set aside, nobody's result

    QTest::addRow("written after the request: this exam's") << qint64(5000) << false << QStringLiteral("NEW");
    QTest::addRow("written before the request: nobody's") << qint64(-5000) << false << QString();
    QTest::addRow("as old as the request: nobody's") << qint64(0) << false << QString();
    QTest::addRow("between the replaced exam and this one: the replaced exam's")
        << qint64(-5000) << true << QStringLiteral("OLD");
    QTest::addRow("before both requests: nobody's") << qint64(-30000) << true << QString();
    QTest::addRow("after both: this exam's") << qint64(5000) << true << QStringLiteral("NEW");
}

void TestHelixExam::owner()
{
    QFETCH(qint64, resultAfterRequestMs);
    QFETCH(bool, replacedAnExam);
    QFETCH(QString, reportedAs);

    const auto exam = makeExam(requested, replacedAnExam ? requested.addSecs(-20) : QDateTime());
    const QByteArray content("Ear;Hz;dB\r\nRight;1000;20\r\n");
    QVERIFY(writeResult(content, requested.addMSecs(resultAfterRequestMs)));
    exam->watchHelixFolder();

    QVERIFY(!QFile::exists(dir->filePath(QStringLiteral("TEST_DATA.csv"))));
    if (reportedAs.isEmpty()) {
        // Never reported, never deleted: kept whole under a name that still says what it is.
        QCOMPARE(reports->size(), 0);
        const QStringList unclaimed = filesIn(QStringLiteral("unclaimed"));
        QCOMPARE(unclaimed.size(), 1);
        QVERIFY(unclaimed.first().startsWith(QLatin1String("TEST_DATA-")));
        QVERIFY(unclaimed.first().endsWith(QLatin1String(".csv")));
        QFile kept(dir->filePath(QStringLiteral("unclaimed/") + unclaimed.first()));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), content);
        QCOMPARE(finished->size(), 0);
        return;
    }
    QCOMPARE(reports->size(), 1);
    QCOMPARE(reports->at(0).at(0).value<SocketMessage>(), HELIX_RESULTS);
    QCOMPARE(reports->at(0).at(1).value<QJsonObject>(),
             (QJsonObject{{QStringLiteral("code"), reportedAs},
                          {QStringLiteral("first_name"), QStringLiteral("Name ") + reportedAs},
                          {QStringLiteral("last_name"), QStringLiteral("Given")},
                          {QStringLiteral("results"), QString::fromLatin1(content)}}));
    QCOMPARE(filesIn(QStringLiteral("claimed")), QStringList());
    // Only its own result ends the exam; after the replaced exam's it goes on waiting.
    QCOMPARE(finished->size(), reportedAs == QLatin1String("NEW") ? 1 : 0);
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

// On Windows the application may still hold the file: it cannot be taken, and is tried again.
void TestHelixExam::heldOpenIsTakenLater()
{
    const auto exam = makeExam(requested);
    QVERIFY(writeResult("held", requested.addSecs(5)));
    files.failRename = true;
    exam->watchHelixFolder();
    exam->watchHelixFolder();
    QCOMPARE(reports->size(), 0);
    QVERIFY(QFile::exists(dir->filePath(QStringLiteral("TEST_DATA.csv"))));
    files.failRename = false;
    exam->watchHelixFolder();
    QCOMPARE(reports->size(), 1);
    QCOMPARE(resultsAt(0), QStringLiteral("held"));
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

QTEST_GUILESS_MAIN(TestHelixExam)
#include "tst_helixexam.moc"

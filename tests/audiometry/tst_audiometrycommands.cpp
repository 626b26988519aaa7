// Audiometry commands over a real WebSocket to the connector in this process: checks and their frames.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <utility>

#include "audiometry/helixaudiometry.h"
#include "audiometry/helixexam.h"
#include "connectorprocess.h"
#include "helixfolder.h"
#include "inprocessconnector.h"

namespace {

enum class Folder
{
    Empty,           // no Helix.exe
    Installed,       // Helix.exe (a dummy that cannot start) and XCHG
    NoExchange,      // Helix.exe, no XCHG yet
    ExchangeBlocked, // Helix.exe and a file named XCHG in the way
    RequestBlocked   // Helix.exe, XCHG and a folder in the way of the request file
};

QJsonObject audiometry(const QString &appPath, const QJsonObject &args)
{
    return QJsonObject{{QStringLiteral("type"), QStringLiteral("AUDIOMETRY")},
                       {QStringLiteral("appPath"), appPath},
                       {QStringLiteral("args"), args}};
}

QJsonObject start(const QJsonValue &patient)
{
    QJsonObject args{{QStringLiteral("command"), QStringLiteral("START_AUDIOMETRY")}};
    if (!patient.isUndefined())
        args.insert(QStringLiteral("patient"), patient);
    return args;
}

QJsonObject patientWithout(const QString &key)
{
    QJsonObject patient = examplePatient();
    patient.remove(key);
    return patient;
}

QJsonObject patientWith(const QString &key, const QJsonValue &value)
{
    QJsonObject patient = examplePatient();
    patient.insert(key, value);
    return patient;
}

QJsonObject nullPatientWithCode()
{
    QJsonObject patient;
    for (const char *key : {"first_name", "last_name", "birth_date", "gender", "height", "weight"})
        patient.insert(QLatin1String(key), QJsonValue::Null);
    patient.insert(QStringLiteral("code"), QStringLiteral("P0042"));
    return patient;
}

QJsonObject examStarted(const QString &firstName, const QString &lastName,
                        const QString &code = QStringLiteral("P0042"))
{
    return QJsonObject{{QStringLiteral("message"), 1008},
                       {QStringLiteral("args"), QJsonObject{{QStringLiteral("code"), code},
                                                            {QStringLiteral("first_name"), firstName},
                                                            {QStringLiteral("last_name"), lastName}}}};
}

QJsonObject error(int code)
{
    return QJsonObject{{QStringLiteral("error"), code}};
}

} // namespace

class TestAudiometryCommands : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void replies_data();
    void replies();
    void silentCommands_data();
    void silentCommands();
    void missingExchangeFolderIsCreated();
    void numericCodeIsWrittenAsText();
    void applicationThatCannotStart();
    void refusedFolderCreatesNothing();

private:
    QString prepare(Folder kind);

    std::unique_ptr<InProcessConnector> connector;
    std::unique_ptr<PageClient> page;
    std::unique_ptr<QTemporaryDir> dir;
};

void TestAudiometryCommands::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    connector = std::make_unique<InProcessConnector>();
    QVERIFY(connector->listening);
    page = std::make_unique<PageClient>();
    QVERIFY(page->open(connector->url()));
}

void TestAudiometryCommands::cleanup()
{
    page.reset();
    connector.reset();
    dir.reset();
}

QString TestAudiometryCommands::prepare(Folder kind)
{
    HelixFolder folder(dir->path() + QStringLiteral("/Helix"));
    if (kind != Folder::Empty)
        folder.installDummy();
    if (kind == Folder::Installed)
        QDir().mkpath(folder.exchange());
    if (kind == Folder::RequestBlocked)
        QDir().mkpath(folder.requestFile());
    if (kind == Folder::ExchangeBlocked) {
        QFile blocker(folder.exchange());
        blocker.open(QIODevice::WriteOnly);
    }
    return folder.appPath();
}

void TestAudiometryCommands::replies_data()
{
    QTest::addColumn<int>("folder");
    QTest::addColumn<QJsonObject>("args");
    QTest::addColumn<QJsonObject>("reply");

    const int empty = int(Folder::Empty);
    const int installed = int(Folder::Installed);
    const QJsonValue none(QJsonValue::Undefined);

    QTest::addRow("no command") << installed << QJsonObject{{QStringLiteral("patient"), examplePatient()}} << error(1);
    QTest::addRow("only another key") << installed << QJsonObject{{QStringLiteral("x"), 1}} << error(1);
    QTest::addRow("not installed, before the patient is looked at") << empty << start(none) << error(1001);
    QTest::addRow("not installed, full patient") << empty << start(examplePatient()) << error(1001);
    QTest::addRow("exchange folder cannot be created")
        << int(Folder::ExchangeBlocked) << start(examplePatient()) << error(1000);
    QTest::addRow("request file cannot be written")
        << int(Folder::RequestBlocked) << start(examplePatient()) << error(1007);
    QTest::addRow("patient missing") << installed << start(none) << error(2);
    QTest::addRow("patient an array") << installed << start(QJsonArray()) << error(2);
    QTest::addRow("patient empty") << installed << start(QJsonObject()) << error(2);
    QTest::addRow("patient a string") << installed << start(QStringLiteral("Sample")) << error(2);
    QTest::addRow("patient without weight")
        << installed << start(patientWithout(QStringLiteral("weight"))) << error(100);
    QTest::addRow("patient without first name")
        << installed << start(patientWithout(QStringLiteral("first_name"))) << error(100);
    QTest::addRow("patient without code") << installed << start(patientWithout(QStringLiteral("code"))) << error(100);
    // Without a usable code the application could not tell this patient from another.
    QTest::addRow("code null") << installed << start(patientWith(QStringLiteral("code"), QJsonValue::Null))
                               << error(100);
    QTest::addRow("code empty") << installed << start(patientWith(QStringLiteral("code"), QString())) << error(100);
    QTest::addRow("code a fraction") << installed << start(patientWith(QStringLiteral("code"), 12.5)) << error(100);
    QTest::addRow("code a boolean") << installed << start(patientWith(QStringLiteral("code"), true)) << error(100);
    QTest::addRow("code an object") << installed << start(patientWith(QStringLiteral("code"), QJsonObject()))
                                    << error(100);
    // A code that could add a line to the request, or look like another patient's, is refused before anything is
    // written or started.
    for (const auto &bad :
         {std::make_pair("line feed", QStringLiteral("P1\n0143000P2")), std::make_pair("CR", QStringLiteral("P1\r")),
          std::make_pair("tab", QStringLiteral("P\t1")), std::make_pair("NUL", QStringLiteral("P1").append(QChar(0))),
          std::make_pair("leading blank", QStringLiteral(" P1")),
          std::make_pair("trailing blank", QStringLiteral("P1 "))})
        QTest::addRow("code with a %s", bad.first)
            << installed << start(patientWith(QStringLiteral("code"), bad.second)) << error(100);
    QTest::addRow("name line of 1000 bytes")
        << installed << start(patientWith(QStringLiteral("first_name"), QString(991, QLatin1Char('a')))) << error(100);
    QTest::addRow("address line of 1000 bytes")
        << installed << start(patientWith(QStringLiteral("address"), QString(991, QLatin1Char('a')))) << error(100);
    QTest::addRow("name line of 999 bytes")
        << installed << start(patientWith(QStringLiteral("first_name"), QString(990, QLatin1Char('a'))))
        << examStarted(QString(990, QLatin1Char('a')), QStringLiteral("Patient"));
    // The frames carry the name as sent; the request file has a blank for the line feed.
    QTest::addRow("name with a line feed")
        << installed << start(patientWith(QStringLiteral("first_name"), QStringLiteral("Ana\nMaria")))
        << examStarted(QStringLiteral("Ana\nMaria"), QStringLiteral("Patient"));
    QTest::addRow("code a whole number") << installed << start(patientWith(QStringLiteral("code"), 12345))
                                         << examStarted(QStringLiteral("Sample"), QStringLiteral("Patient"),
                                                        QStringLiteral("12345"));
    QTest::addRow("city and address are optional") << installed << start(patientWithout(QStringLiteral("address")))
                                                   << examStarted(QStringLiteral("Sample"), QStringLiteral("Patient"));
    QTest::addRow("other keys null pass")
        << installed << start(nullPatientWithCode()) << examStarted(QString(), QString());
    QTest::addRow("first name a number is its text") << installed << start(patientWith(QStringLiteral("first_name"), 7))
                                                     << examStarted(QStringLiteral("7"), QStringLiteral("Patient"));
    QTest::addRow("first name a fraction is sent empty")
        << installed << start(patientWith(QStringLiteral("first_name"), 7.5))
        << examStarted(QString(), QStringLiteral("Patient"));
    QJsonObject accented = examplePatient();
    accented.insert(QStringLiteral("last_name"), QString::fromUtf8("N\xc3\xba\xc3\xb1"
                                                                   "ez"));
    QTest::addRow("accented name comes back unchanged")
        << installed << start(accented)
        << examStarted(QStringLiteral("Sample"), QString::fromUtf8("N\xc3\xba\xc3\xb1"
                                                                   "ez"));
}

void TestAudiometryCommands::replies()
{
    QFETCH(int, folder);
    QFETCH(QJsonObject, args);
    QFETCH(QJsonObject, reply);

    page->sendJson(audiometry(prepare(Folder(folder)), args));
    QVERIFY(page->waitForFrames(1));
    QCOMPARE(page->frame(0), reply);
    // Only an exam that started wrote its request; a refusal writes and starts nothing.
    const bool started = reply.value(QLatin1String("message")).toInt() == 1008;
    QCOMPARE(QFileInfo(HelixFolder(dir->path() + QStringLiteral("/Helix")).requestFile()).isFile(), started);
    QCOMPARE(connector->launcher.starts.size(), started ? 1 : 0);
    if (!started) // not even a temporary file is left behind
        QCOMPARE(QDir(HelixFolder(dir->path() + QStringLiteral("/Helix")).exchange()).entryList(QDir::Files),
                 QStringList());

    // Nothing else follows at once: the next command's reply is the next frame.
    page->sendJson(audiometry(QDir::rootPath(), QJsonObject{{QStringLiteral("probe"), true}}));
    QVERIFY(page->waitForFrames(2));
    QCOMPARE(page->frame(1), error(1));
}

void TestAudiometryCommands::silentCommands_data()
{
    QTest::addColumn<QJsonValue>("command");

    QTest::addRow("lower case") << QJsonValue(QStringLiteral("start_audiometry"));
    QTest::addRow("trailing blank") << QJsonValue(QStringLiteral("START_AUDIOMETRY "));
    QTest::addRow("a number") << QJsonValue(1);
    QTest::addRow("null") << QJsonValue(QJsonValue::Null);
    QTest::addRow("unknown") << QJsonValue(QStringLiteral("STOP_AUDIOMETRY"));
}

// An unknown command gets no reply: the first frame the page sees is the reply to what follows.
void TestAudiometryCommands::silentCommands()
{
    QFETCH(QJsonValue, command);

    const QString appPath = prepare(Folder::Installed);
    page->sendJson(audiometry(
        appPath, QJsonObject{{QStringLiteral("command"), command}, {QStringLiteral("patient"), examplePatient()}}));
    page->sendJson(audiometry(appPath, QJsonObject{{QStringLiteral("probe"), true}}));
    QVERIFY(page->waitForFrames(1));
    QCOMPARE(page->frame(0), error(1));
    QVERIFY(!QFile::exists(HelixFolder(dir->path() + QStringLiteral("/Helix")).requestFile()));
}

void TestAudiometryCommands::missingExchangeFolderIsCreated()
{
    const QString appPath = prepare(Folder::NoExchange);
    page->sendJson(audiometry(appPath, start(examplePatient())));
    QVERIFY(page->waitForFrames(1));
    QCOMPARE(page->frame(0), examStarted(QStringLiteral("Sample"), QStringLiteral("Patient")));
    QFile request(HelixFolder(dir->path() + QStringLiteral("/Helix")).requestFile());
    QVERIFY(request.open(QIODevice::ReadOnly));
    QCOMPARE(request.readAll(), exampleRequest());
}

void TestAudiometryCommands::numericCodeIsWrittenAsText()
{
    page->sendJson(audiometry(prepare(Folder::Installed), start(patientWith(QStringLiteral("code"), 12345))));
    QVERIFY(page->waitForFrames(1));
    QFile request(HelixFolder(dir->path() + QStringLiteral("/Helix")).requestFile());
    QVERIFY(request.open(QIODevice::ReadOnly));
    QVERIFY(request.readAll().contains("\r\n014300012345\r\n"));
}

// An application that cannot be started gives no result: the page learns it at once.
void TestAudiometryCommands::applicationThatCannotStart()
{
    connector->launcher.result = false;
    page->sendJson(audiometry(prepare(Folder::Installed), start(examplePatient())));
    QVERIFY(page->waitForFrames(1));
    QCOMPARE(page->frame(0), error(1011));
    // Nor is its request: an application started later must not take it for a waiting exam.
    QVERIFY(!QFileInfo::exists(HelixFolder(dir->path() + QStringLiteral("/Helix")).requestFile()));
    // No exam is left waiting for a result.
    QTRY_VERIFY(connector->router->findChildren<HelixExam *>().isEmpty());
    QTRY_COMPARE(connector->router->findChildren<HelixAudiometry *>().size(), 0);
}

// A page must not make the connector write or start anything outside an absolute local folder.
void TestAudiometryCommands::refusedFolderCreatesNothing()
{
    const QString appPath = prepare(Folder::NoExchange);
    const QString current = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir->path()));
    page->sendJson(audiometry(QStringLiteral("Helix/"), start(examplePatient())));
    const bool answered = page->waitForFrames(1);
    QDir::setCurrent(current);
    QVERIFY(answered);
    QCOMPARE(page->frame(0), error(2));
    QVERIFY(!QFileInfo::exists(HelixFolder(dir->path() + QStringLiteral("/Helix")).exchange()));
    QVERIFY(connector->launcher.starts.isEmpty());
    Q_UNUSED(appPath)
}

QTEST_GUILESS_MAIN(TestAudiometryCommands)
#include "tst_audiometrycommands.moc"

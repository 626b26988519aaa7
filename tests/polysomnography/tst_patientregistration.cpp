// Patient registration on real SQLite files: the bridge driven directly with a recording launcher, and the
// checks a command passes first, seen by a real page through the in-process connector.
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QTest>

#include "connectorprocess.h"
#include "inprocessconnector.h"
#include "polysomnography/patientdatabase.h"
#include "polysomnography/polysomno.h"
#include "polysomnography/sqlitepatientdatabase.h"
#include "somnoinstallation.h"

#include <functional>
#include <memory>
#include <utility>

namespace {

/// What one command did, as seen from outside the bridge.
struct Outcome
{
    QList<int> errors;
    QList<int> messages;
    QJsonObject reply;
    int finished = 0;
    bool databaseOpenAtReply = true;
    bool startedAtReply = true;
    QList<RecordingLauncher::Start> starts;
    QStringList log;
};

/// The SQLite stand-in with one statement that fails as it runs (an integer overflow), with its parameters.
class FailingDatabase : public SqlitePatientDatabase
{
public:
    explicit FailingDatabase(const QString &failing) : failing(failing) {}
    QString driverStatement(const QString &statement) const override
    {
        if (statement != failing)
            return SqlitePatientDatabase::driverStatement(statement);
        const QString overflow = QStringLiteral("SELECT abs(-9223372036854775807 - 1)");
        if (statement.contains(QLatin1String(":code")))
            return overflow + QStringLiteral(" = :code");
        return statement.contains(QLatin1Char('?')) ? overflow + QStringLiteral(" = ?") : overflow;
    }

private:
    QString failing;
};

using LockFileAnswers = std::function<LockFileCheck(const std::string &path)>;

Outcome runCommand(const SomnoInstallation &installation, const QJsonObject &patient, bool startable = true,
                   const QString &failingStatement = QString(), const LockFileAnswers &lockFiles = nullptr)
{
    Outcome outcome;
    debugLines().clear();
    RecordingLauncher launcher;
    launcher.result = startable;
    PolysomnoSettings settings{DatabaseBackend::Sqlite, &launcher};
    if (!failingStatement.isEmpty())
        settings.makeDatabase = [&] { return std::make_unique<FailingDatabase>(failingStatement); };
    if (lockFiles)
        settings.checkLockFile = lockFiles;
    Polysomno bridge(AppFolder(installation.appPath()), settings);
    QObject::connect(&bridge, &Polysomno::sendErrorMessage, [&](SocketMessage code) { outcome.errors.append(code); });
    QObject::connect(&bridge, &Polysomno::sendMessage, [&](SocketMessage code, const QJsonObject &args) {
        outcome.messages.append(code);
        outcome.reply = args;
        outcome.databaseOpenAtReply =
            QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false).isOpen();
        outcome.startedAtReply = !launcher.starts.isEmpty();
    });
    QObject::connect(&bridge, &Polysomno::finished, [&] { ++outcome.finished; });
    bridge.processCommand(QJsonObject{{QStringLiteral("command"), QStringLiteral("START_POLYSOMNO")},
                                      {QStringLiteral("patient"), patient}});
    outcome.starts = launcher.starts;
    outcome.log = debugLines();
    return outcome;
}

/// A row as "Column=value" lines and SQL NULL as "Column NULL", so that NULL and empty text differ.
QStringList rendered(const QVariantMap &row)
{
    QStringList lines;
    for (auto it = row.cbegin(); it != row.cend(); ++it)
        lines.append(it.key() +
                     (it.value().isNull() ? QStringLiteral(" NULL") : QLatin1Char('=') + it.value().toString()));
    return lines;
}

QJsonObject commandArgs(const QJsonValue &command, const QJsonValue &patient)
{
    QJsonObject args{{QStringLiteral("command"), command}};
    if (!patient.isUndefined())
        args.insert(QStringLiteral("patient"), patient);
    return args;
}

QJsonObject without(QJsonObject object, const QString &key)
{
    object.remove(key);
    return object;
}

} // namespace

class TestPatientRegistration : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { captureDebugLines(); }
    // Whatever the outcome, the connection is released and Qt never warned about one still in use.
    void cleanup() { QVERIFY2(sqlConnectionReleased(), qPrintable(debugLines().join(QLatin1Char('\n')))); }

    void registeredRow_data();
    void registeredRow();
    void storedCode_data();
    void storedCode();
    void failedQuery_data();
    void failedQuery();
    void refusedRegistration_data();
    void refusedRegistration();
    void replyThenStart();
    void applicationThatCannotStart();
    void lockFiles_data();
    void lockFiles();
    void pageAnswers_data();
    void pageAnswers();

private:
    std::unique_ptr<InProcessConnector> connector;
    PageClient page;
};

void TestPatientRegistration::registeredRow_data()
{
    QTest::addColumn<QList<int>>("storedKeys"); // rows already there, every column but the key NULL
    QTest::addColumn<QJsonObject>("changes");   // to the complete patient
    QTest::addColumn<QVariantMap>("expected");  // the new row's key and where it differs from the usual row
    const QVariant null;
    QTest::addRow("empty table") << QList<int>() << QJsonObject() << QVariantMap{{QStringLiteral("PatientID"), 1}};
    QTest::addRow("highest key 41") << QList<int>{3, 41, 17} << QJsonObject()
                                    << QVariantMap{{QStringLiteral("PatientID"), 42}};
    QTest::addRow("measures null") << QList<int>()
                                   << QJsonObject{{QStringLiteral("gender"), QJsonValue()},
                                                  {QStringLiteral("height"), QJsonValue()},
                                                  {QStringLiteral("weight"), QJsonValue()}}
                                   << QVariantMap{{QStringLiteral("PatientID"), 1}};
    QTest::addRow("empty text stays text")
        << QList<int>() << QJsonObject{{QStringLiteral("first_name"), QString()}}
        << QVariantMap{{QStringLiteral("PatientID"), 1}, {QStringLiteral("Name"), QStringLiteral("")}};
    // Page back ends that send numeric codes: the code is kept as its text.
    QTest::addRow("code a whole number") << QList<int>{5} << QJsonObject{{QStringLiteral("code"), 12345}}
                                         << QVariantMap{{QStringLiteral("PatientID"), 6},
                                                        {QStringLiteral("IDKrankenhaus"), QStringLiteral("12345")}};
    QTest::addRow("first name a whole number")
        << QList<int>() << QJsonObject{{QStringLiteral("first_name"), 7}}
        << QVariantMap{{QStringLiteral("PatientID"), 1}, {QStringLiteral("Name"), QStringLiteral("7")}};
    QTest::addRow("first name a fraction")
        << QList<int>() << QJsonObject{{QStringLiteral("first_name"), 7.5}}
        << QVariantMap{{QStringLiteral("PatientID"), 1}, {QStringLiteral("Name"), null}};
    QTest::addRow("last name an array")
        << QList<int>() << QJsonObject{{QStringLiteral("last_name"), QJsonArray{QStringLiteral("Anna")}}}
        << QVariantMap{{QStringLiteral("PatientID"), 1}, {QStringLiteral("Vorname"), null}};
    QTest::addRow("birth date true") << QList<int>() << QJsonObject{{QStringLiteral("birth_date"), true}}
                                     << QVariantMap{{QStringLiteral("PatientID"), 1},
                                                    {QStringLiteral("Geburtsdatum"), null}};
}

void TestPatientRegistration::registeredRow()
{
    QFETCH(QList<int>, storedKeys);
    QFETCH(QJsonObject, changes);
    QFETCH(QVariantMap, expected);
    SomnoInstallation installation;
    QVERIFY(installation.addComplete());
    for (int key : std::as_const(storedKeys)) {
        QString error;
        QVERIFY2(SomnoDb::execute(installation.databasePath(),
                                  QStringLiteral("INSERT INTO Patient (PatientID) VALUES (?)"), {key}, &error),
                 qPrintable(error));
    }
    QJsonObject patient = completePatient();
    for (auto it = changes.constBegin(); it != changes.constEnd(); ++it)
        patient.insert(it.key(), it.value());

    const Outcome outcome = runCommand(installation, patient);
    QCOMPARE(outcome.errors, QList<int>());
    QCOMPARE(outcome.messages, QList<int>{POLYSOMNO_STARTED});
    QCOMPARE(outcome.finished, 1);
    QCOMPARE(outcome.starts.size(), 1);

    // "first_name" goes to Name, "last_name" to Vorname; sex, height and weight are always 1, 180 and 80.
    QVariantMap row{{QStringLiteral("IDKrankenhaus"), QStringLiteral("PSG-1001")},
                    {QStringLiteral("Name"), QStringLiteral("Schmidt")},
                    {QStringLiteral("Vorname"), QStringLiteral("Anna")},
                    {QStringLiteral("Geburtsdatum"), QStringLiteral("1975-04-23")},
                    {QStringLiteral("Geschlecht"), 1},
                    {QStringLiteral("Groesse"), 180},
                    {QStringLiteral("Gewicht"), 80}};
    row.insert(expected);
    const QList<QVariantMap> rows = installation.patients();
    QCOMPARE(rows.size(), storedKeys.size() + 1);
    QCOMPARE(rendered(rows.constLast()), rendered(row));

    // The reply carries exactly the names as stored, a name that is no text as "", and the measurements.
    QCOMPARE(outcome.reply.keys(),
             (QStringList{QStringLiteral("first_name"), QStringLiteral("last_name"), QStringLiteral("statistics")}));
    QCOMPARE(outcome.reply.value(QLatin1String("first_name")),
             QJsonValue(row.value(QStringLiteral("Name")).toString()));
    QCOMPARE(outcome.reply.value(QLatin1String("last_name")),
             QJsonValue(row.value(QStringLiteral("Vorname")).toString()));
}

void TestPatientRegistration::storedCode_data()
{
    QTest::addColumn<QStringList>("schema");  // of the stand-in file
    QTest::addColumn<QVariantList>("stored"); // code, Name, Vorname of the row there
    QTest::addColumn<QJsonObject>("sent");    // changes to the complete patient
    QTest::addColumn<int>("expected");

    const QStringList schema{SomnoDb::patientTableStatement()};
    // As the stand-in made its files before it compared codes without regard to case.
    const QStringList olderSchema{QStringLiteral("CREATE TABLE Patient (PatientID INTEGER NOT NULL PRIMARY KEY, "
                                                 "IDKrankenhaus TEXT, Name TEXT, Vorname TEXT, Geburtsdatum TEXT, "
                                                 "Geschlecht INTEGER, Groesse INTEGER, Gewicht INTEGER)")};
    const QVariantList schmidt{QStringLiteral("PSG-1001"), QStringLiteral("Schmidt"), QStringLiteral("Anna")};
    const auto sending = [](const char *key, const QJsonValue &value) {
        return QJsonObject{{QLatin1String(key), value}};
    };
    QTest::addRow("same names") << schema << schmidt << QJsonObject() << 2010;
    QTest::addRow("names in other letter case, with blanks")
        << schema << schmidt
        << QJsonObject{{QStringLiteral("first_name"), QStringLiteral(" SCHMIDT ")},
                       {QStringLiteral("last_name"), QStringLiteral("anna")}}
        << 2010;
    QTest::addRow("stored names NULL") << schema << QVariantList{schmidt.first(), QVariant(), QVariant()}
                                       << sending("first_name", QStringLiteral("Lopez")) << 2010;
    QTest::addRow("no name sent") << schema << schmidt << sending("first_name", QJsonValue()) << 2010;
    QTest::addRow("other family name") << schema << schmidt << sending("first_name", QStringLiteral("Lopez")) << 2012;
    QTest::addRow("numeric code sent as a number")
        << schema << QVariantList{QStringLiteral("12345"), QStringLiteral("Schmidt"), QStringLiteral("Anna")}
        << sending("code", 12345) << 2010;
    QTest::addRow("code in other letter case")
        << schema << schmidt << sending("code", QStringLiteral("psg-1001")) << 2010;
    QTest::addRow("code in other letter case, older stand-in file")
        << olderSchema << schmidt << sending("code", QStringLiteral("psg-1001")) << 2010;
    QTest::addRow("code in other letter case, other names")
        << schema << schmidt
        << QJsonObject{{QStringLiteral("code"), QStringLiteral("psg-1001")},
                       {QStringLiteral("first_name"), QStringLiteral("Lopez")}}
        << 2012;
}

// A stored code is never registered again: the application opens the stored patient, so the page may only hear
// that this patient is registered when the names agree.
void TestPatientRegistration::storedCode()
{
    QFETCH(QStringList, schema);
    QFETCH(QVariantList, stored);
    QFETCH(QJsonObject, sent);
    QFETCH(int, expected);
    SomnoInstallation installation;
    QVERIFY(installation.addExecutable());
    QVERIFY(installation.createDatabase(schema));
    QString error;
    QVERIFY2(SomnoDb::execute(installation.databasePath(),
                              QStringLiteral("INSERT INTO Patient (PatientID, IDKrankenhaus, Name, Vorname) "
                                             "VALUES (3, ?, ?, ?)"),
                              stored, &error),
             qPrintable(error));
    QVERIFY(installation.addPatient(8, QStringLiteral("PSG-8")));
    const QList<QVariantMap> before = installation.patients();

    QJsonObject patient = completePatient();
    for (auto it = sent.constBegin(); it != sent.constEnd(); ++it)
        patient.insert(it.key(), it.value());
    const Outcome outcome = runCommand(installation, patient);
    QCOMPARE(installation.patients(), before);
    QCOMPARE(outcome.finished, 1);
    if (expected == POLYSOMNO_STARTED) {
        QCOMPARE(outcome.errors, QList<int>());
        QCOMPARE(outcome.messages, QList<int>{POLYSOMNO_STARTED});
        QCOMPARE(outcome.reply.value(QLatin1String("first_name")), patient.value(QLatin1String("first_name")).isString()
                                                                       ? patient.value(QLatin1String("first_name"))
                                                                       : QJsonValue(QString()));
        QCOMPARE(outcome.starts.size(), 1);
        return;
    }
    QCOMPARE(outcome.errors, QList<int>{expected});
    QCOMPARE(outcome.messages, QList<int>());
    QCOMPARE(outcome.starts.size(), 0);
    // Logged, without the names of either patient.
    QVERIFY2(!outcome.log.filter(QStringLiteral("other names")).isEmpty(),
             qPrintable(outcome.log.join(QLatin1Char('\n'))));
    QCOMPARE(outcome.log.filter(QRegularExpression(QStringLiteral("Schmidt|Lopez|Anna"))), QStringList());
}

void TestPatientRegistration::failedQuery_data()
{
    QTest::addColumn<QString>("statement"); // the one the driver cannot run
    QTest::addColumn<bool>("codeStored");
    QTest::addRow("lookup") << PatientDatabase::lookupStatement() << false;
    QTest::addRow("stored names") << PatientDatabase::namesStatement() << true;
    QTest::addRow("highest key") << PatientDatabase::highestKeyStatement() << false;
}

// A query that fails is no answer: taken for "no row" it would register the patient a second time, or under a
// key that is taken.
void TestPatientRegistration::failedQuery()
{
    QFETCH(QString, statement);
    QFETCH(bool, codeStored);
    SomnoInstallation installation;
    QVERIFY(installation.addComplete());
    if (codeStored)
        QVERIFY(
            installation.addPatient(5, QStringLiteral("PSG-1001"), QStringLiteral("Schmidt"), QStringLiteral("Anna")));
    const QList<QVariantMap> before = installation.patients();

    const Outcome outcome = runCommand(installation, completePatient(), true, statement);
    QCOMPARE(outcome.errors, QList<int>{POLYSOMNO_INSERT_FAILED});
    QCOMPARE(outcome.messages, QList<int>());
    QCOMPARE(outcome.starts.size(), 0);
    QCOMPARE(installation.patients(), before);
    // The driver's reason reaches the log.
    QVERIFY2(!outcome.log.filter(QStringLiteral("integer overflow")).isEmpty(),
             qPrintable(outcome.log.join(QLatin1Char('\n'))));
}

void TestPatientRegistration::refusedRegistration_data()
{
    QTest::addColumn<QByteArray>("bytes"); // the database file, when no schema is given
    QTest::addColumn<QStringList>("schema");
    QTest::addColumn<int>("expected");
    QTest::addColumn<QString>("logLine");
    QTest::addRow("database file of garbage") << QByteArray("\x00\x01Standard Jet DB\x00garbage", 24).repeated(100)
                                              << QStringList() << 2007 << QStringLiteral("Failed to open db ");
    // As root a read-only file is still writable, so the database itself refuses the row.
    QTest::addRow("row refused by the database")
        << QByteArray()
        << QStringList{SomnoDb::patientTableStatement(),
                       QStringLiteral("CREATE TRIGGER readonly BEFORE INSERT ON Patient "
                                      "BEGIN SELECT RAISE(ABORT, 'attempt to write a readonly database'); END")}
        << 2008 << QLatin1Char('"') + PatientDatabase::insertStatement() + QLatin1Char('"');
    QTest::addRow("table without a Geschlecht column")
        << QByteArray()
        << QStringList{QStringLiteral("CREATE TABLE Patient (PatientID INTEGER, IDKrankenhaus TEXT, Name TEXT, "
                                      "Vorname TEXT, Geburtsdatum TEXT, Groesse INTEGER, Gewicht INTEGER)")}
        << 2008 << QLatin1Char('"') + PatientDatabase::insertStatement() + QLatin1Char('"');
}

void TestPatientRegistration::refusedRegistration()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, schema);
    QFETCH(int, expected);
    QFETCH(QString, logLine);
    SomnoInstallation installation;
    QVERIFY(installation.addExecutable());
    QVERIFY(schema.isEmpty() ? installation.writeDatabaseBytes(bytes) : installation.createDatabase(schema));

    const Outcome outcome = runCommand(installation, completePatient());
    QCOMPARE(outcome.errors, QList<int>{expected});
    QCOMPARE(outcome.messages, QList<int>());
    QCOMPARE(outcome.finished, 1);
    QCOMPARE(outcome.starts.size(), 0);
    // Logged with the driver's reason; only a refused row comes after the database was opened.
    QVERIFY2(!outcome.log.filter(logLine).isEmpty() && !outcome.log.contains(QStringLiteral("Failed to open db ")),
             qPrintable(outcome.log.join(QLatin1Char('\n'))));
    QCOMPARE(outcome.log.contains(QStringLiteral("Database opened")), expected == 2008);
    if (!schema.isEmpty())
        QCOMPARE(installation.patients(), QList<QVariantMap>());
}

void TestPatientRegistration::replyThenStart()
{
    SomnoInstallation installation(QStringLiteral("Somno Panel (x86)"));
    QVERIFY(installation.addComplete());
    const Outcome outcome = runCommand(installation, completePatient());
    QCOMPARE(outcome.messages, QList<int>{POLYSOMNO_STARTED});

    // The debug lines in their order: patient checked, database path, database opened.
    const int complete = outcome.log.indexOf(QStringLiteral("Patient complete"));
    // The path as the bridge joins it (with this system's separators), written as the debug stream writes it.
    QString pathLine;
    QDebug(&pathLine) << AppFolder(installation.appPath()).join(QStringLiteral("SomnoDB\\SomnoDB.mdb"));
    const int path = outcome.log.indexOf(pathLine.trimmed());
    const int opened = outcome.log.indexOf(QStringLiteral("Database opened"));
    QVERIFY2(complete >= 0 && complete < path && path < opened, qPrintable(outcome.log.join(QLatin1Char('\n'))));
    // The reply goes out with the database closed, before the application is started.
    QVERIFY(!outcome.databaseOpenAtReply);
    QVERIFY(!outcome.startedAtReply);
    // Started then: the absolute path as one program, blanks and brackets kept, no arguments, in its "bin" folder.
    QCOMPARE(outcome.starts.size(), 1);
    QCOMPARE(outcome.starts.constFirst().program,
             AppFolder(installation.appPath()).join(QStringLiteral("bin\\SomnoPanel.exe")));
    QCOMPARE(outcome.starts.constFirst().arguments, QStringList());
    QCOMPARE(outcome.starts.constFirst().workingDirectory, installation.appPath() + QStringLiteral("bin"));
}

// The patient stays registered; the page learns that the application did not open.
void TestPatientRegistration::applicationThatCannotStart()
{
    SomnoInstallation installation;
    QVERIFY(installation.addComplete());
    const Outcome outcome = runCommand(installation, completePatient(), false);
    QCOMPARE(outcome.messages, QList<int>{POLYSOMNO_STARTED});
    QCOMPARE(outcome.errors, QList<int>{POLYSOMNO_START_FAILED});
    QCOMPARE(outcome.finished, 1);
    QCOMPARE(installation.patients().size(), 1);
}

void TestPatientRegistration::lockFiles_data()
{
    // What the system says of the application's lock file "SomnoDB.mdb.ldb" and of the engine's "SomnoDB.ldb".
    QTest::addColumn<int>("application");
    QTest::addColumn<int>("engine");
    QTest::addColumn<QList<int>>("errors");
    const int missing = LockFileCheck::Missing, stale = LockFileCheck::Stale, held = LockFileCheck::Held,
              unknown = LockFileCheck::Unknown;
    QTest::addRow("no lock files") << missing << missing << QList<int>();
    QTest::addRow("both left behind by a crash") << stale << stale << QList<int>();
    QTest::addRow("the application's held") << held << missing << QList<int>{POLYSOMNO_DB_IN_USE};
    QTest::addRow("the engine's held") << missing << held << QList<int>{POLYSOMNO_DB_IN_USE};
    QTest::addRow("one left behind, the other held") << stale << held << QList<int>{POLYSOMNO_DB_IN_USE};
    // A path too long, no right to look: not known to be free, so not opened.
    QTest::addRow("the application's cannot be judged") << unknown << missing << QList<int>{POLYSOMNO_DB_OPEN_FAILED};
    QTest::addRow("the engine's cannot be judged") << stale << unknown << QList<int>{POLYSOMNO_DB_OPEN_FAILED};
}

// The two lock files and nothing else (an .accdb database's ".laccdb" is none of this application's) decide, as the
// platform judges them.
void TestPatientRegistration::lockFiles()
{
    QFETCH(int, application);
    QFETCH(int, engine);
    QFETCH(QList<int>, errors);
    SomnoInstallation installation;
    QVERIFY(installation.addComplete());
    QStringList asked;
    const LockFileAnswers answers = [&](const std::string &path) {
        asked.append(QDir::fromNativeSeparators(QString::fromStdString(path)));
        const auto state =
            LockFileCheck::State(asked.last().endsWith(QLatin1String(".mdb.ldb")) ? application : engine);
        return LockFileCheck{state, state == LockFileCheck::Unknown ? "name too long" : ""};
    };
    const Outcome outcome = runCommand(installation, completePatient(), true, QString(), answers);
    QCOMPARE(outcome.errors, errors);
    // The log file says why the database was not opened.
    const QRegularExpression why(
        QStringLiteral("^Cannot tell whether the database is in use: .*SomnoDB.* name too long$"));
    QCOMPARE(outcome.log.indexOf(why) >= 0, errors == QList<int>{POLYSOMNO_DB_OPEN_FAILED});
    QCOMPARE(installation.patients().size(), errors.isEmpty() ? 1 : 0);
    QCOMPARE(outcome.starts.size(), errors.isEmpty() ? 1 : 0);
    const QString folder = QDir::fromNativeSeparators(installation.appPath()) + QStringLiteral("SomnoDB/");
    const QStringList both{folder + QStringLiteral("SomnoDB.mdb.ldb"), folder + QStringLiteral("SomnoDB.ldb")};
    const bool applicationFree = application == LockFileCheck::Missing || application == LockFileCheck::Stale;
    QCOMPARE(asked, applicationFree ? both : QStringList(both.first()));
}

void TestPatientRegistration::pageAnswers_data()
{
    // e: executable, d: database, l: its lock file
    QTest::addColumn<QString>("installed");
    QTest::addColumn<QJsonObject>("args");
    QTest::addColumn<int>("expected"); // 0: no answer at all

    const QString complete = QStringLiteral("ed"), locked = QStringLiteral("edl");
    const QJsonObject patient = completePatient();
    const auto start = [](const QJsonValue &record) { return commandArgs(QStringLiteral("START_POLYSOMNO"), record); };
    QTest::addRow("command absent, nothing installed")
        << QString() << QJsonObject{{QStringLiteral("patient"), patient}} << 1;
    QTest::addRow("nothing installed") << QString() << start(patient) << 2001;
    QTest::addRow("executable missing, database locked") << QStringLiteral("dl") << start(patient) << 2001;
    QTest::addRow("database missing") << QStringLiteral("e") << start(patient) << 2000;
    QTest::addRow("database missing, lock file present") << QStringLiteral("el") << start(patient) << 2000;
    QTest::addRow("database locked") << locked << start(patient) << 2009;
    QTest::addRow("database locked, patient absent") << locked << start(QJsonValue::Undefined) << 2009;
    QTest::addRow("database locked, patient incomplete")
        << locked << start(without(patient, QStringLiteral("code"))) << 2009;
    QTest::addRow("patient absent") << complete << start(QJsonValue::Undefined) << 2;
    QTest::addRow("patient an empty object") << complete << start(QJsonObject()) << 2;
    QTest::addRow("patient a text") << complete << start(QStringLiteral("text")) << 2;
    QTest::addRow("weight absent") << complete << start(without(patient, QStringLiteral("weight"))) << 100;
    QTest::addRow("first name absent") << complete << start(without(patient, QStringLiteral("first_name"))) << 100;
    // Without a usable code every registration would add another row: nothing is inserted.
    const auto withCode = [&](const QJsonValue &code) {
        QJsonObject changed = patient;
        changed.insert(QStringLiteral("code"), code);
        return start(changed);
    };
    QTest::addRow("code null") << complete << withCode(QJsonValue()) << 100;
    QTest::addRow("code empty") << complete << withCode(QString()) << 100;
    QTest::addRow("code a fraction") << complete << withCode(1.5) << 100;
    QTest::addRow("code an array") << complete << withCode(QJsonArray{1}) << 100;
    // Codes that only look like a stored one must not register another patient.
    QTest::addRow("code with a line feed") << complete << withCode(QStringLiteral("PSG-1\n")) << 100;
    QTest::addRow("code with a NUL") << complete << withCode(QStringLiteral("PSG-1").append(QChar(0))) << 100;
    QTest::addRow("code with a trailing blank") << complete << withCode(QStringLiteral("PSG-1 ")) << 100;
    QTest::addRow("command in lower case") << complete << commandArgs(QStringLiteral("start_polysomno"), patient) << 0;
    QTest::addRow("command null") << complete << commandArgs(QJsonValue(), patient) << 0;
    QTest::addRow("command a number") << complete << commandArgs(7, patient) << 0;
    QTest::addRow("the audiometry command")
        << complete << commandArgs(QStringLiteral("START_AUDIOMETRY"), patient) << 0;
}

void TestPatientRegistration::pageAnswers()
{
    QFETCH(QString, installed);
    QFETCH(QJsonObject, args);
    QFETCH(int, expected);
    SomnoInstallation installation;
    if (installed.contains(QLatin1Char('e')))
        QVERIFY(installation.addExecutable());
    if (installed.contains(QLatin1Char('d')))
        QVERIFY(installation.createDatabase());
    if (installed.contains(QLatin1Char('l')))
        QVERIFY(installation.addLockFile());
    const QString appPath = installation.appPath();
    const auto envelope = [&](const QJsonObject &commandArgs) {
        return QJsonObject{{QStringLiteral("type"), QStringLiteral("POLYSOMNO")},
                           {QStringLiteral("appPath"), appPath},
                           {QStringLiteral("args"), commandArgs}};
    };

    // One connector and page for every row; waiting on the socket's signal spares QTest::qWaitFor's 10 ms polls.
    if (!connector) {
        connector = std::make_unique<InProcessConnector>();
        QVERIFY(page.open(connector->url()));
    }
    QSignalSpy received(&page.socket, &QWebSocket::textMessageReceived);
    const int before = page.frames.size();
    connector->launcher.starts.clear();
    page.sendJson(envelope(args));
    // Answered at once with 1: whatever the command answers came before it.
    page.sendJson(envelope(QJsonObject{{QStringLiteral("marker"), true}}));
    const QList<int> answers = expected ? QList<int>{expected, 1} : QList<int>{1};
    while (received.count() < answers.size() && received.wait(5000)) {
    }
    QCOMPARE(page.codes().mid(before), answers);

    // Nothing was registered and the application never started.
    QCOMPARE(connector->launcher.starts.size(), 0);
    if (installed.contains(QLatin1Char('d')))
        QCOMPARE(installation.patients(), QList<QVariantMap>());
}

QTEST_GUILESS_MAIN(TestPatientRegistration)
#include "tst_patientregistration.moc"

// The polysomnography road through the real connector: a real page, a real database file, the real stand-in.
#include <QDir>
#include <QJsonArray>
#include <QTest>

#include "connectorprocess.h"
#include "somnoinstallation.h"

namespace {

QJsonObject envelope(const SomnoInstallation &installation, const QJsonObject &patient)
{
    return QJsonObject{
        {QStringLiteral("type"), QStringLiteral("POLYSOMNO")},
        {QStringLiteral("appPath"), installation.appPath()},
        {QStringLiteral("args"), QJsonObject{{QStringLiteral("command"), QStringLiteral("START_POLYSOMNO")},
                                             {QStringLiteral("patient"), patient}}}};
}

} // namespace

class TestPolysomnoEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void registration();
    void configuredBackend();
};

void TestPolysomnoEndToEnd::registration()
{
    SomnoInstallation installation(QStringLiteral("Somno Panel Clínica"));
    QVERIFY(installation.addComplete());
    QVERIFY(installation.addPatient(41, QStringLiteral("PSG-0041")));
    QVERIFY(installation.addMeasurementEntry(QStringLiteral("PSG-0041/2024-02-01/")));
    ConnectorProcess connector;
    QVERIFY(connector.start());
    PageClient page;
    QVERIFY(page.open());

    QJsonObject patient = completePatient(QStringLiteral("PSG-0099"));
    patient.insert(QStringLiteral("first_name"), QStringLiteral("Ibáñez Núñez"));
    patient.insert(QStringLiteral("last_name"), QStringLiteral("María José"));
    page.sendJson(envelope(installation, patient));
    QVERIFY(page.waitForFrames(1));
    const QJsonArray statistics{QJsonObject{{QStringLiteral("name"), QStringLiteral("PSG-0041")},
                                            {QStringLiteral("dates"), QJsonArray{QStringLiteral("2024-02-01")}}}};
    QCOMPARE(page.frame(0), (QJsonObject{{QStringLiteral("message"), 2010},
                                         {QStringLiteral("args"),
                                          QJsonObject{{QStringLiteral("first_name"), QStringLiteral("Ibáñez Núñez")},
                                                      {QStringLiteral("last_name"), QStringLiteral("María José")},
                                                      {QStringLiteral("statistics"), statistics}}}}));

    // The row with the next key, names in their columns, accents intact.
    const QList<QVariantMap> rows = installation.patients();
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.constLast().value(QStringLiteral("PatientID")), QVariant(42));
    QCOMPARE(rows.constLast().value(QStringLiteral("IDKrankenhaus")), QVariant(QStringLiteral("PSG-0099")));
    QCOMPARE(rows.constLast().value(QStringLiteral("Name")), QVariant(QStringLiteral("Ibáñez Núñez")));
    QCOMPARE(rows.constLast().value(QStringLiteral("Vorname")), QVariant(QStringLiteral("María José")));

    // The stand-in started from the path with blanks, with no arguments, in its own folder.
    QTRY_COMPARE(installation.starts().size(), 1);
    const QJsonObject start = installation.starts().constFirst();
    QCOMPARE(start.value(QLatin1String("arguments")).toArray(), QJsonArray());
    QCOMPARE(QDir(start.value(QLatin1String("cwd")).toString()).canonicalPath(),
             QDir(installation.appPath() + QStringLiteral("bin")).canonicalPath());
    QVERIFY(connector.stop());
}

void TestPolysomnoEndToEnd::configuredBackend()
{
    // Only the window carries the configuration to the bridges, and here the default is already SQLite: a
    // configured ODBC backend shows that the key arrives. This machine has no Access driver to open the file.
    SomnoInstallation installation;
    QVERIFY(installation.addComplete());
    QJsonObject configuration = ConnectorProcess::defaultConfiguration();
    configuration.insert(QStringLiteral("polysomno_database"), QStringLiteral("odbc"));
    ConnectorProcess connector;
    QVERIFY(connector.start(configuration));
    PageClient page;
    QVERIFY(page.open());

    page.sendJson(envelope(installation, completePatient()));
    QVERIFY(page.waitForFrames(1));
    QCOMPARE(page.frame(0), (QJsonObject{{QStringLiteral("error"), 2007}}));
    QCOMPARE(installation.patients(), QList<QVariantMap>());
}

QTEST_GUILESS_MAIN(TestPolysomnoEndToEnd)
#include "tst_polysomnoendtoend.moc"

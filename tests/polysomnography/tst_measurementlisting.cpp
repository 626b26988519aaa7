// The measurement listing sent with every registration: one level of entries, each with the names inside it.
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QTest>

#include <algorithm>

#include "polysomnography/polysomno.h"
#include "somnoinstallation.h"

namespace {

using Listing = QMap<QString, QStringList>;

/// The listing as entry name to sorted names inside; fails on a duplicate or a malformed element.
Listing normalised(const QJsonArray &statistics)
{
    Listing listing;
    for (const QJsonValue &value : statistics) {
        const QJsonObject element = value.toObject();
        if (element.keys() != QStringList{QStringLiteral("dates"), QStringLiteral("name")} ||
            !element.value(QLatin1String("name")).isString() || !element.value(QLatin1String("dates")).isArray() ||
            listing.contains(element.value(QLatin1String("name")).toString()))
            return {{QStringLiteral("<malformed>"), {}}};
        QStringList dates;
        const QJsonArray array = element.value(QLatin1String("dates")).toArray();
        for (const QJsonValue &date : array)
            dates.append(date.isString() ? date.toString() : QStringLiteral("<not a string>"));
        std::sort(dates.begin(), dates.end());
        listing.insert(element.value(QLatin1String("name")).toString(), dates);
    }
    return listing;
}

} // namespace

class TestMeasurementListing : public QObject
{
    Q_OBJECT

private slots:
    void listing_data();
    void listing();
    void followsTheDisk();
    void measurementFolderIsAFile();
};

void TestMeasurementListing::listing_data()
{
    QTest::addColumn<QStringList>("entries"); // created under the measurement folder; trailing '/' = folder
    QTest::addColumn<bool>("createFolder");
    QTest::addColumn<Listing>("expected");

    QTest::addRow("missing folder") << QStringList() << false << Listing();
    QTest::addRow("empty folder") << QStringList() << true << Listing();
    QTest::addRow("file at top level") << QStringList{QStringLiteral("night.edf")} << true
                                       << Listing{{QStringLiteral("night.edf"), {}}};
    QTest::addRow("files and folders inside an entry")
        << QStringList{QStringLiteral("P-17/2024-01-05/"), QStringLiteral("P-17/2024-02-11/"),
                       QStringLiteral("P-17/summary.pdf")}
        << true
        << Listing{{QStringLiteral("P-17"),
                    {QStringLiteral("2024-01-05"), QStringLiteral("2024-02-11"), QStringLiteral("summary.pdf")}}};
    QTest::addRow("deeper levels not visited")
        << QStringList{QStringLiteral("P-17/2024-01-05/channels/eeg.edf"), QStringLiteral("P-18/2024-03-01/")} << true
        << Listing{{QStringLiteral("P-17"), {QStringLiteral("2024-01-05")}},
                   {QStringLiteral("P-18"), {QStringLiteral("2024-03-01")}}};
    QTest::addRow("empty entry folder") << QStringList{QStringLiteral("P-20/")} << true
                                        << Listing{{QStringLiteral("P-20"), {}}};
    QTest::addRow("hidden entries left out at both levels")
        << QStringList{QStringLiteral(".index"), QStringLiteral(".trash/old/"), QStringLiteral("P-17/.lock"),
                       QStringLiteral("P-17/.thumbs/"), QStringLiteral("P-17/2024-01-05/")}
        << true << Listing{{QStringLiteral("P-17"), {QStringLiteral("2024-01-05")}}};
    QTest::addRow("names with blanks and accents")
        << QStringList{QStringLiteral("Núñez Peña/noche 1/")} << true
        << Listing{{QStringLiteral("Núñez Peña"), {QStringLiteral("noche 1")}}};
}

void TestMeasurementListing::listing()
{
    QFETCH(QStringList, entries);
    QFETCH(bool, createFolder);
    QFETCH(Listing, expected);

    SomnoInstallation installation;
    if (createFolder)
        QVERIFY(QDir().mkpath(installation.measurementPath()));
    for (const QString &entry : qAsConst(entries))
        QVERIFY(installation.addMeasurementEntry(entry));

    Polysomno bridge(AppFolder(installation.appPath()), {});
    const QJsonArray statistics = bridge.listMeasurements();
    QCOMPARE(statistics.size(), expected.size());
    QCOMPARE(normalised(statistics), expected);
}

void TestMeasurementListing::followsTheDisk()
{
    SomnoInstallation installation;
    QVERIFY(installation.addMeasurementEntry(QStringLiteral("P-1/2024-01-01/")));
    Polysomno bridge(AppFolder(installation.appPath()), {});
    QCOMPARE(normalised(bridge.listMeasurements()), (Listing{{QStringLiteral("P-1"), {QStringLiteral("2024-01-01")}}}));

    // A night recorded meanwhile shows in the next listing of the same bridge.
    QVERIFY(installation.addMeasurementEntry(QStringLiteral("P-1/2024-01-02/")));
    QVERIFY(installation.addMeasurementEntry(QStringLiteral("P-2/")));
    QCOMPARE(normalised(bridge.listMeasurements()),
             (Listing{{QStringLiteral("P-1"), {QStringLiteral("2024-01-01"), QStringLiteral("2024-01-02")}},
                      {QStringLiteral("P-2"), {}}}));
}

void TestMeasurementListing::measurementFolderIsAFile()
{
    SomnoInstallation installation;
    QFile file(installation.measurementPath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QCOMPARE(Polysomno(AppFolder(installation.appPath()), {}).listMeasurements(), QJsonArray());
}

QTEST_GUILESS_MAIN(TestMeasurementListing)
#include "tst_measurementlisting.moc"

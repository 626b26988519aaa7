// The application folder rule: only absolute local folders, in both systems' spellings; which are listed.
#include <QTest>

#include "protocol/appfolder.h"
#include "protocol/applicationfolders.h"

class TestAppFolder : public QObject
{
    Q_OBJECT

private slots:
    void acceptable_data();
    void acceptable();
    void trailingSeparatorIsAdded_data();
    void trailingSeparatorIsAdded();
    void listedFolders_data();
    void listedFolders();
};

void TestAppFolder::acceptable_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("onWindows");
    QTest::addColumn<bool>("elsewhere");

    QTest::addRow("drive, backslashes") << QStringLiteral("C:\\Clinic\\Helix Audio\\") << true << false;
    QTest::addRow("drive, slashes") << QStringLiteral("c:/Clinic/Helix/") << true << false;
    QTest::addRow("absolute path") << QStringLiteral("/opt/clinic/helix/") << false << true;
    QTest::addRow("drive without separator") << QStringLiteral("C:Helix\\") << false << false;
    QTest::addRow("drive alone") << QStringLiteral("C:") << false << false;
    QTest::addRow("relative") << QStringLiteral("Helix\\") << false << false;
    QTest::addRow("relative with dot") << QStringLiteral("./helix/") << false << false;
    QTest::addRow("empty") << QString() << false << false;
    QTest::addRow("share, backslashes") << QStringLiteral("\\\\server\\share\\") << false << false;
    QTest::addRow("share, slashes") << QStringLiteral("//server/share/") << false << false;
    QTest::addRow("share, mixed") << QStringLiteral("\\/server/share/") << false << false;
    QTest::addRow("long UNC") << QStringLiteral("\\\\?\\UNC\\server\\share\\") << false << false;
    QTest::addRow("long local form") << QStringLiteral("\\\\?\\C:\\Helix\\") << false << false;
    QTest::addRow("NT UNC") << QStringLiteral("\\??\\UNC\\server\\share\\") << false << false;
    QTest::addRow("device") << QStringLiteral("\\\\.\\C:\\Helix\\") << false << false;
    QTest::addRow("file address") << QStringLiteral("file:///C:/Helix/") << false << false;
    QTest::addRow("dot-dot, Windows") << QStringLiteral("C:\\Clinic\\..\\Users\\op\\Downloads\\") << false << false;
    QTest::addRow("dot-dot, slashes") << QStringLiteral("/opt/../home/op/Downloads/") << false << false;
    QTest::addRow("dot-dot at the end") << QStringLiteral("/opt/helix/..") << false << false;
    QTest::addRow("dots in a name are fine") << QStringLiteral("/opt/helix..v2/") << false << true;
}

void TestAppFolder::acceptable()
{
    QFETCH(QString, path);
    QFETCH(bool, onWindows);
    QFETCH(bool, elsewhere);
#ifdef Q_OS_WIN
    Q_UNUSED(elsewhere)
    QCOMPARE(AppFolder(path).isAcceptable(), onWindows);
#else
    Q_UNUSED(onWindows)
    QCOMPARE(AppFolder(path).isAcceptable(), elsewhere);
#endif
}

void TestAppFolder::trailingSeparatorIsAdded_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("joined"); // with "XCHG" appended, in this system's form
#ifdef Q_OS_WIN
    QTest::addRow("without separator") << QStringLiteral("C:\\Helix") << QStringLiteral("C:\\Helix\\XCHG");
    QTest::addRow("with backslash") << QStringLiteral("C:\\Helix\\") << QStringLiteral("C:\\Helix\\XCHG");
    QTest::addRow("with slash") << QStringLiteral("C:/Helix/") << QStringLiteral("C:/Helix/XCHG");
#else
    QTest::addRow("without separator") << QStringLiteral("/opt/helix") << QStringLiteral("/opt/helix/XCHG");
    QTest::addRow("with separator") << QStringLiteral("/opt/helix/") << QStringLiteral("/opt/helix/XCHG");
#endif
}

void TestAppFolder::trailingSeparatorIsAdded()
{
    QFETCH(QString, path);
    QFETCH(QString, joined);
    QCOMPARE(AppFolder(path).join(QStringLiteral("XCHG")), joined);
}

void TestAppFolder::listedFolders_data()
{
    QTest::addColumn<QString>("listed");
    QTest::addColumn<QString>("named"); // by the page
    QTest::addColumn<bool>("onWindows");
    QTest::addColumn<bool>("elsewhere");
    QTest::addRow("same") << QStringLiteral("C:/Helix") << QStringLiteral("C:/Helix") << true << true;
    QTest::addRow("trailing separator") << QStringLiteral("C:/Helix") << QStringLiteral("C:/Helix/") << true << true;
    QTest::addRow("doubled separators and a dot")
        << QStringLiteral("/opt//helix/") << QStringLiteral("/opt/./helix") << true << true;
    QTest::addRow("backslashes") << QStringLiteral("C:\\Helix\\") << QStringLiteral("C:/Helix") << true << false;
    // Windows compares names without regard to case; elsewhere they are other folders.
    QTest::addRow("letter case") << QStringLiteral("C:\\Program Files\\Helix")
                                 << QStringLiteral("c:\\PROGRAM FILES\\helix\\") << true << false;
    QTest::addRow("a sub-folder") << QStringLiteral("/opt/helix") << QStringLiteral("/opt/helix/bin") << false << false;
    QTest::addRow("a parent") << QStringLiteral("/opt/helix") << QStringLiteral("/opt") << false << false;
    QTest::addRow("a longer name") << QStringLiteral("/opt/helix") << QStringLiteral("/opt/helix2") << false << false;
    QTest::addRow("root") << QStringLiteral("/") << QStringLiteral("//") << true << true;
    QTest::addRow("nothing named") << QStringLiteral("/") << QString() << false << false;
}

void TestAppFolder::listedFolders()
{
    QFETCH(QString, listed);
    QFETCH(QString, named);
    QFETCH(bool, onWindows);
    QFETCH(bool, elsewhere);
#ifdef Q_OS_WIN
    Q_UNUSED(elsewhere)
    QCOMPARE(ApplicationFolders({listed}).lists(named), onWindows);
#else
    Q_UNUSED(onWindows)
    QCOMPARE(ApplicationFolders({listed}).lists(named), elsewhere);
#endif
}

QTEST_GUILESS_MAIN(TestAppFolder)
#include "tst_appfolder.moc"

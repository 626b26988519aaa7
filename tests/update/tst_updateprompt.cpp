// The update prompt in the test process: the manifest from a local server, the box the operator declines and
// the page served meanwhile. Going ahead ends the process, so tst_updateendtoend tests that road.
#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include "app/updateprompt.h"
#include "connectorprocess.h"
#include "inprocessconnector.h"
#include "manifestserver.h"
#include "update/updatecheck.h"

namespace {

const QString errorFrame2 = QStringLiteral("{\n    \"error\": 2\n}\n");

/// Takes the addresses the desktop is asked to open, instead of a browser.
class RecordingDesktop : public QObject
{
    Q_OBJECT

public:
    RecordingDesktop() { QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open"); }
    ~RecordingDesktop() override { QDesktopServices::unsetUrlHandler(QStringLiteral("http")); }
    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened.append(url); }
};

} // namespace

class TestUpdatePrompt : public QObject
{
    Q_OBJECT

private slots:
    void declined_data();
    void declined();
};

void TestUpdatePrompt::declined_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("manifest");
    QTest::addColumn<int>("key"); // what the operator presses in the box; 0 where no box may come up

    const QByteArray optional = R"({"version": 3, "mandatory": "true"})";
    QTest::addRow("optional, answered No") << 200 << optional << int(Qt::Key_N);
    QTest::addRow("optional, closed without a choice") << 200 << optional << int(Qt::Key_Escape);
    QTest::addRow("same version") << 200 << QByteArray(R"({"version": 2, "mandatory": true})") << 0;
    QTest::addRow("version as text") << 200 << QByteArray(R"({"version": "3", "mandatory": true})") << 0;
    QTest::addRow("manifest not found") << 404 << QByteArray("<html><body>Not Found</body></html>") << 0;
}

void TestUpdatePrompt::declined()
{
    QFETCH(int, status);
    QFETCH(QByteArray, manifest);
    QFETCH(int, key);

    ManifestServer server;
    QVERIFY(server.listen());
    server.setResponse(status, manifest);
    InProcessConnector connector;
    PageClient page;
    QVERIFY(page.open(connector.url()));
    RecordingDesktop desktop;
    QWidget window;
    // Wired as the window wires them, with our version 2.
    UpdateCheck check(server.url(), 2);
    QPointer<QMessageBox> box;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
    // Connected before the prompt, so the single shot runs inside the box's own event loop: it reads the box
    // and has the page send a message, and the box is answered once the page got its answer.
    connect(&check, &UpdateCheck::updateAvailable, &window, [&] {
        QTimer::singleShot(0, &window, [&] {
            box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(box);
            title = box->windowTitle();
            text = box->text();
            buttons = box->standardButtons();
            page.send(QStringLiteral("{}"));
        });
    });
    connect(&page.socket, &QWebSocket::textMessageReceived, &window, [&] {
        if (box)
            QTest::keyClick(box, Qt::Key(key));
    });
    connect(&check, &UpdateCheck::updateAvailable, new UpdatePrompt(UpdateCheck::setupAddress(server.url()), &window),
            &UpdatePrompt::promptOperator);
    check.checkNetworkVersion();

    // The connection ends once the check has handled the manifest and released its network manager.
    QTRY_COMPARE_WITH_TIMEOUT(server.connectionsClosed, 1, 10000);
    QCOMPARE(server.requestedPaths.size(), 1);
    if (key) {
        QCOMPARE(title, UpdatePrompt::promptTitle());
        QCOMPARE(text, UpdatePrompt::promptText(UpdateDecision::Optional));
        QCOMPARE(buttons, QMessageBox::Yes | QMessageBox::No);
        // The box is modal, yet the page was served while it was open.
        QCOMPARE(page.frames, QStringList{errorFrame2});
    } else {
        QCOMPARE(title, QString());
    }
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(desktop.opened, QList<QUrl>());
    page.send(QStringLiteral("{}"));
    QVERIFY(page.waitForFrames(key ? 2 : 1));
    QVERIFY(!page.closed);
}

QTEST_MAIN(TestUpdatePrompt)
#include "tst_updateprompt.moc"

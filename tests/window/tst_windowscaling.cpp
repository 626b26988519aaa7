// The window's form at the font DPI of QT_FONT_DPI, on a private Xvfb display: every widget gets at least the
// room its text needs, and at 96 DPI the window keeps the 380 x 120 operators know.
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include "app/mainwindowform.h"
#include "xvfbdisplay.h"

class TestWindowScaling : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void textsFit_data();
    void textsFit();
};

void TestWindowScaling::initTestCase()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs Xvfb and Qt's xcb platform");
}

void TestWindowScaling::textsFit_data()
{
    QTest::addColumn<bool>("listening");
    QTest::addRow("listening") << true;
    QTest::addRow("port taken") << false;
}

void TestWindowScaling::textsFit()
{
    QFETCH(bool, listening);
    QMainWindow window;
    Ui::MainWindow ui;
    ui.setupUi(&window);
    ui.showServerStatus(&window, listening);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QCOMPARE(window.minimumSize(), window.maximumSize());
    QCOMPARE(window.size(), window.minimumSize());
    const QRect inside(QPoint(), window.size());
    for (QWidget *widget : QList<QWidget *>{ui.lSocketStatus, ui.lPort, ui.sbPort, ui.pbValidate}) {
        const QSize needed = widget->sizeHint().boundedTo(widget->maximumSize());
        QVERIFY2(widget->width() >= needed.width() && widget->height() >= needed.height() &&
                     inside.contains(QRect(widget->mapTo(&window, QPoint()), widget->size())),
                 qPrintable(widget->objectName()));
    }
    if (window.logicalDpiY() == 96 && listening)
        QCOMPARE(window.size(), QSize(380, 120));
}

int main(int argc, char *argv[])
{
    // The display must serve before the application connects to it; without Xvfb the test skips.
    XvfbDisplay display;
    {
        QCoreApplication starter(argc, argv);
        if (XvfbDisplay::missingTools().isEmpty() && display.start()) {
            qputenv("DISPLAY", display.name().toLocal8Bit());
            qputenv("QT_QPA_PLATFORM", "xcb");
        }
    }
    QApplication application(argc, argv);
    TestWindowScaling test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_windowscaling.moc"

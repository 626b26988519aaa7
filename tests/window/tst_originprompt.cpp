// The operator's boxes in the test process, offscreen: no input before the delay, only Alt+A or a click allows,
// names shown whole, one box at a time, and the review of the decisions.
#include <QApplication>
#include <QDir>
#include <QJsonObject>
#include <QKeySequence>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "app/decisionsdialog.h"
#include "app/originprompt.h"
#include "connector/folderconsent.h"
#include "connectorprocess.h"
#include "inprocessconnector.h"
#include "protocol/applicationfolders.h"

namespace {

const QString origin = QStringLiteral("https://unknown.example");
// Absolute local folders on this system, where nothing is installed, as the connector remembers them.
const QString helix = ApplicationFolders::normalised(QDir::rootPath() + QStringLiteral("opt/helix"));
const QString somno = ApplicationFolders::normalised(QDir::rootPath() + QStringLiteral("opt/somno"));
constexpr int never = 24 * 3600 * 1000; // a delay that does not end during a test

QList<ConsentBox *> visibleBoxes()
{
    QList<ConsentBox *> boxes;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *box = qobject_cast<ConsentBox *>(widget); box && box->isVisible())
            boxes.append(box);
    }
    return boxes;
}

/// Types one key, such as "a", "Alt+A", "Tab" or "Return", as the keyboard would, to the focused widget.
void press(QWidget *box, const QString &key)
{
    const QKeySequence sequence(key);
    QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : box;
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QTest::keyClick(target, sequence[0].key(), sequence[0].keyboardModifiers());
#else
    QTest::keyClick(target, Qt::Key(sequence[0] & ~Qt::KeyboardModifierMask),
                    Qt::KeyboardModifiers(sequence[0] & Qt::KeyboardModifierMask));
#endif
}

QJsonObject installCommand(const QString &folder)
{
    return {{QStringLiteral("type"), QStringLiteral("AUDIOMETRY")},
            {QStringLiteral("appPath"), folder + QLatin1Char('/')},
            {QStringLiteral("args"), QJsonObject{{QStringLiteral("command"), QStringLiteral("INSTALL_HELIX")}}}};
}

/// The names a box shows, without the line breaks it put in.
QStringList shownNames(ConsentBox *box)
{
    QStringList names;
    for (QLabel *label : box->nameLabels())
        names.append(label->text().remove(QLatin1Char('\n')));
    return names;
}

} // namespace

class TestOriginPrompt : public QObject
{
    Q_OBJECT

private slots:
    void input_data();
    void input();
    void namesShownWhole_data();
    void namesShownWhole();
    void oneBoxAtATime();
    void forgetADecision();
};

void TestOriginPrompt::input_data()
{
    QTest::addColumn<bool>("armed");       // the delay since the box appeared has passed
    QTest::addColumn<QStringList>("keys"); // typed in turn; "click Allow" and "click Block" click
    QTest::addColumn<QString>("outcome");  // "allowed", "blocked", "blocked for now", or "open"
    const QString allowed = QStringLiteral("allowed"), blocked = QStringLiteral("blocked"),
                  forNow = QStringLiteral("blocked for now"), open = QStringLiteral("open");
    const auto keys = [](const char *list) { return QString::fromLatin1(list).split(QLatin1Char(',')); };
    // Within the first second nothing a page could time takes effect.
    for (const char *list : {"click Allow", "click Block", "Tab,space", "Left,space", "Return", "Alt+A", "Alt+B"})
        QTest::addRow("before the delay: %s", list) << false << keys(list) << open;
    QTest::addRow("Escape before the delay") << false << keys("Escape") << forNow;
    // Keyboard navigation reaches Block only.
    for (const char *list : {"space", "Return", "Tab,space", "Tab,Tab,Return", "Left,space", "Right,space", "Up,Return",
                             "Down,space", "Alt+B"})
        QTest::addRow("%s", list) << true << keys(list) << blocked;
    QTest::addRow("click Block") << true << keys("click Block") << blocked;
    QTest::addRow("Alt+A") << true << keys("Alt+A") << allowed;
    QTest::addRow("click Allow") << true << keys("click Allow") << allowed;
    QTest::addRow("Escape") << true << keys("Escape") << forNow;
    // A letter typed for another window presses no button.
    QTest::addRow("a plain a") << true << keys("A") << open;
    QTest::addRow("a plain b") << true << keys("B") << open;
}

void TestOriginPrompt::input()
{
    QFETCH(bool, armed);
    QFETCH(QStringList, keys);
    QFETCH(QString, outcome);
    QObject owner;
    auto *prompt = new OriginPrompt(&owner, armed ? 0 : never);
    QSignalSpy decided(prompt, &OriginPrompt::decided);
    prompt->ask(origin);
    prompt->ask(origin); // asked again while open: still one box
    const QPointer<ConsentBox> box = prompt->shownBox();
    QVERIFY(box);
    QCOMPARE(visibleBoxes(), QList<ConsentBox *>{box});
    QCOMPARE(box->windowTitle(), ConsentBox::title());
    QCOMPARE(shownNames(box), QStringList{origin});
    box->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(box));
    QTRY_COMPARE(box->blockButton()->isEnabled(), armed);
    QVERIFY(QApplication::focusWidget() != box->allowButton());

    for (const QString &key : std::as_const(keys)) {
        if (key.startsWith(QLatin1String("click ")))
            QTest::mouseClick(key.endsWith(QLatin1String("Allow")) ? box->allowButton() : box->blockButton(),
                              Qt::LeftButton);
        else
            press(box, key);
        QVERIFY(QApplication::focusWidget() != box->allowButton());
    }

    if (outcome == QLatin1String("open")) {
        QTest::qWait(0); // a button's animated click would land now
        QCOMPARE(decided.count(), 0);
        QVERIFY(box->isVisible() && !box->allowButton()->isDown());
        return;
    }
    QTRY_COMPARE(decided.count(), 1);
    QCOMPARE(decided.first().at(0).toString(), origin);
    QCOMPARE(decided.first().at(1).toBool(), outcome == QLatin1String("allowed"));
    QCOMPARE(decided.first().at(2).toBool(), outcome != QLatin1String("blocked for now"));
    QTRY_VERIFY(!box);
}

void TestOriginPrompt::namesShownWhole_data()
{
    QTest::addColumn<QString>("folder"); // empty: a question about the origin
    QTest::addColumn<QString>("pageOrigin");
    QTest::addColumn<QStringList>("shown");
    // 253 characters: the end, which names the real host, must be seen too.
    const QString longOrigin =
        QStringLiteral("https://care.example.org.") + QString(215, QLatin1Char('x')) + QStringLiteral(".evil.example");
    QCOMPARE(longOrigin.size(), 253);
    QTest::addRow("a 253-character origin") << QString() << longOrigin << QStringList{longOrigin};
    const QString longFolder = QStringLiteral("C:/Users/op/") + QString(200, QLatin1Char('d')) + QStringLiteral("/");
    QTest::addRow("a folder and its page") << longFolder << longOrigin << QStringList{longOrigin, longFolder};
    QTest::addRow("a local program's folder")
        << QStringLiteral("/opt/helix") << QString()
        << QStringList{QStringLiteral("(a local program, no origin)"), QStringLiteral("/opt/helix")};
    // A line break or a direction override would make the folder read as another.
    QTest::addRow("control characters shown as such")
        << QStringLiteral("C:/Helix\n\nC:/Trusted/\u202Eexe.") << origin
        << QStringList{origin, QStringLiteral("C:/Helix\\u000a\\u000aC:/Trusted/\\u202eexe.")};
}

void TestOriginPrompt::namesShownWhole()
{
    QFETCH(QString, folder);
    QFETCH(QString, pageOrigin);
    QFETCH(QStringList, shown);
    QObject owner;
    auto *prompt = new OriginPrompt(&owner, never);
    if (folder.isEmpty())
        prompt->ask(pageOrigin);
    else
        prompt->askFolder(pageOrigin, folder);
    ConsentBox *box = prompt->shownBox();
    QVERIFY(box && QTest::qWaitForWindowExposed(box));
    QCOMPARE(shownNames(box), shown);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY(box->width() <= screen.width());
    for (QLabel *label : box->nameLabels()) {
        // Every line within the label, the label within the box: nothing is cut at an edge.
        const QStringList lines = label->text().split(QLatin1Char('\n'));
        for (const QString &line : lines)
            QVERIFY2(label->fontMetrics().horizontalAdvance(line) <= label->contentsRect().width(), qPrintable(line));
        QVERIFY(label->height() >= label->sizeHint().height());
        QVERIFY(box->rect().contains(QRect(label->mapTo(box, QPoint()), label->size())));
    }
}

void TestOriginPrompt::oneBoxAtATime()
{
    InProcessConnector::Options options;
    options.configuration.insert(QStringLiteral("unknown_origins"), QStringLiteral("ask"));
    InProcessConnector connector(options);
    auto *prompt = new OriginPrompt(&connector.connector, never);
    QObject::connect(&connector.connector, &Connector::originDecisionNeeded, prompt, &OriginPrompt::ask);
    QObject::connect(&connector.connector, &Connector::originQuestionWithdrawn, prompt, &OriginPrompt::withdraw);
    QObject::connect(prompt, &OriginPrompt::decided, &connector.connector, &Connector::decideOrigin);

    // 300 pages of 300 origins: one box, eight questions behind it, and the rest refused at the handshake.
    QList<PageClient *> pages;
    int refused = 0;
    for (int i = 0; i < 300; ++i) {
        auto *page = new PageClient(prompt);
        if (page->open(connector.url(), QStringLiteral("https://flood%1.example").arg(i)))
            pages.append(page);
        else
            ++refused;
        QVERIFY(visibleBoxes().size() <= 1);
        QVERIFY(prompt->waiting() <= OriginPrompt::maxWaiting);
    }
    QCOMPARE(pages.size(), 9);
    QCOMPARE(refused, 291);
    QCOMPARE(visibleBoxes().size(), 1);
    QCOMPARE(prompt->waiting(), 8);

    // A page that has gone takes its question along, shown or waiting; the next one is shown in its place.
    const QPointer<ConsentBox> first = prompt->shownBox();
    pages.takeFirst()->socket.close();
    QTRY_VERIFY(!first);
    QTRY_COMPARE(prompt->waiting(), 7);
    QCOMPARE(visibleBoxes().size(), 1);
    pages.takeLast()->socket.close();
    QTRY_COMPARE(prompt->waiting(), 6);
    QCOMPARE(shownNames(prompt->shownBox()), QStringList{QStringLiteral("https://flood1.example")});

    // A folder question joins the same queue, and waits its turn behind the origins.
    InProcessConnector::Options folders;
    folders.configuration.insert(QStringLiteral("unknown_application_folders"), QStringLiteral("ask"));
    InProcessConnector other(folders);
    QObject::connect(&other.connector, &Connector::folderDecisionNeeded, prompt, &OriginPrompt::askFolder);
    PageClient clinic;
    QVERIFY(clinic.open(other.url()));
    clinic.sendJson(installCommand(helix));
    QTRY_COMPARE(prompt->waiting(), 7);
    QCOMPARE(visibleBoxes().size(), 1);
}

void TestOriginPrompt::forgetADecision()
{
    QTemporaryDir dir;
    InProcessConnector::Options options;
    options.configuration.insert(QStringLiteral("unknown_application_folders"), QStringLiteral("ask"));
    options.decisionsFile = dir.filePath(QStringLiteral("origin-decisions.json"));
    InProcessConnector connector(options);
    connector.connector.decideOrigin(origin, true);
    connector.connector.decideFolder(helix, false);
    connector.connector.decideFolder(somno, false, false);

    DecisionsDialog dialog(&connector.connector);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTreeWidget *list = dialog.list();
    QStringList rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        rows.append(list->topLevelItem(i)->text(0) + QLatin1Char('|') + list->topLevelItem(i)->text(2));
    QCOMPARE(rows, (QStringList{QStringLiteral("Allowed|") + origin, QStringLiteral("Blocked|") + helix,
                                QStringLiteral("Blocked until restart|") + somno}));
    QVERIFY(!dialog.forgetButton()->isEnabled());

    // The accidental Block of the helix folder is undone: the folder is asked about again, and the file forgets it.
    list->setCurrentItem(list->topLevelItem(1));
    QTest::mouseClick(dialog.forgetButton(), Qt::LeftButton);
    QCOMPARE(list->topLevelItemCount(), 2);
    QFile file(options.decisionsFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(!file.readAll().contains(helix.toUtf8()));
    QSignalSpy asked(&connector.connector, &Connector::folderDecisionNeeded);
    PageClient page;
    QVERIFY(page.open(connector.url()));
    page.sendJson(installCommand(helix));
    QTRY_COMPARE(asked.count(), 1);
    QCOMPARE(asked.first().at(1).toString(), helix);
}

QTEST_MAIN(TestOriginPrompt)
#include "tst_originprompt.moc"

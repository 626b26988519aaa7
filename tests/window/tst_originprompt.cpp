// The operator's box for a page from an unknown origin, in the test process: which keys decide what.
#include <QApplication>
#include <QKeySequence>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "app/originprompt.h"

namespace {

const QString origin = QStringLiteral("https://unknown.example");

QMessageBox *shownBox()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (box && box->isVisible() && box->text() == OriginPrompt::boxText(origin))
            return box;
    }
    return nullptr;
}

QPushButton *button(QMessageBox *box, const QString &text)
{
    for (QAbstractButton *candidate : box->buttons()) {
        if (candidate->text() == text)
            return qobject_cast<QPushButton *>(candidate);
    }
    return nullptr;
}

/// Types one key, such as "a", "Alt+A" or "Return", as the keyboard would.
void press(QWidget *box, const QString &key)
{
    const QKeySequence sequence(key);
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QTest::keyClick(box, sequence[0].key(), sequence[0].keyboardModifiers());
#else
    QTest::keyClick(box, Qt::Key(sequence[0] & ~Qt::KeyboardModifierMask),
                    Qt::KeyboardModifiers(sequence[0] & Qt::KeyboardModifierMask));
#endif
}

} // namespace

class TestOriginPrompt : public QObject
{
    Q_OBJECT

private slots:
    void keys_data();
    void keys();
};

void TestOriginPrompt::keys_data()
{
    QTest::addColumn<QStringList>("keys"); // typed in turn into the box
    QTest::addColumn<QString>("outcome");  // "allowed", "blocked", or "open": nothing decided yet
    const QString allowed = QStringLiteral("allowed"), blocked = QStringLiteral("blocked"),
                  open = QStringLiteral("open");
    QTest::addRow("Return: Block is the default button") << QStringList{QStringLiteral("Return")} << blocked;
    QTest::addRow("Escape blocks") << QStringList{QStringLiteral("Escape")} << blocked;
    QTest::addRow("Alt+A allows") << QStringList{QStringLiteral("Alt+A")} << allowed;
    QTest::addRow("Alt+B blocks") << QStringList{QStringLiteral("Alt+B")} << blocked;
    // A letter typed for another window presses no button, Allow least of all.
    QTest::addRow("a plain a") << QStringList{QStringLiteral("A")} << open;
    QTest::addRow("a plain b") << QStringList{QStringLiteral("B")} << open;
    QTest::addRow("a plain a, then Alt+A") << QStringList{QStringLiteral("A"), QStringLiteral("Alt+A")} << allowed;
}

void TestOriginPrompt::keys()
{
    QFETCH(QStringList, keys);
    QFETCH(QString, outcome);
    QObject owner;
    auto *prompt = new OriginPrompt(&owner);
    QSignalSpy decided(prompt, &OriginPrompt::decided);
    prompt->ask(origin);
    prompt->ask(origin); // asked again while open: still one box
    const QPointer<QMessageBox> box = shownBox();
    QVERIFY(box);
    QCOMPARE(box->windowTitle(), OriginPrompt::boxTitle());
    QPushButton *allow = button(box, QStringLiteral("&Allow"));
    QPushButton *block = button(box, QStringLiteral("&Block"));
    QVERIFY(allow && block);
    // The buttons' Alt shortcuts count only in the active window, as the operator's keyboard reaches it.
    box->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(box));

    for (const QString &key : std::as_const(keys))
        press(box, key);

    if (outcome == QLatin1String("open")) {
        // A pressed button would be clicked a moment later: none is even down.
        QVERIFY(!allow->isDown() && !block->isDown());
        QCOMPARE(decided.count(), 0);
        QVERIFY(box->isVisible());
        delete box;
        return;
    }
    QTRY_COMPARE(decided.count(), 1);
    QCOMPARE(decided.first().at(0).toString(), origin);
    QCOMPARE(decided.first().at(1).toBool(), outcome == QLatin1String("allowed"));
    QTRY_VERIFY(!box);
}

QTEST_MAIN(TestOriginPrompt)
#include "tst_originprompt.moc"

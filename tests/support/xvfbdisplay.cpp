// A private Xvfb display for tests that must see real windows, and xdotool to find and answer them.
#include "xvfbdisplay.h"

#include <QStandardPaths>
#include <QTest>

QStringList XvfbDisplay::missingTools()
{
    QStringList missing;
    for (const QString &tool :
         {QStringLiteral("Xvfb"), QStringLiteral("xdotool"), QStringLiteral("xprop"), QStringLiteral("xwininfo")}) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            missing.append(tool);
    }
    return missing;
}

bool XvfbDisplay::start()
{
    // With -displayfd, Xvfb takes the first free display number and writes it once it accepts clients,
    // so parallel runs on the same machine never collide and nothing has to be polled.
    server.setStandardErrorFile(QProcess::nullDevice());
    // -noreset: an X server resets when its last client leaves and refuses connections meanwhile, which a
    // program started right after another one ended would run into.
    server.start(QStringLiteral("Xvfb"),
                 {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                  QStringLiteral("-noreset"), QStringLiteral("-screen"), QStringLiteral("0"),
                  QStringLiteral("1024x768x24")});
    QByteArray announced;
    const bool ready = QTest::qWaitFor(
        [&] {
            announced += server.readAllStandardOutput();
            return announced.contains('\n') || server.state() == QProcess::NotRunning;
        },
        20000);
    const QByteArray number = announced.trimmed();
    if (!ready || server.state() != QProcess::Running || number.isEmpty())
        return false;
    display = QLatin1Char(':') + QString::fromLatin1(number);
    return true;
}

void XvfbDisplay::stop()
{
    if (server.state() == QProcess::NotRunning)
        return;
    server.terminate();
    if (!server.waitForFinished(5000)) {
        server.kill();
        server.waitForFinished(5000);
    }
}

QProcessEnvironment XvfbDisplay::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    return environment;
}

QString XvfbDisplay::tool(const QString &program, const QStringList &arguments) const
{
    QByteArray output;
    run(program, arguments, &output);
    return QString::fromUtf8(output);
}

bool XvfbDisplay::xdotool(const QStringList &arguments, QByteArray *output) const
{
    return run(QStringLiteral("xdotool"), arguments, output);
}

bool XvfbDisplay::run(const QString &program, const QStringList &arguments, QByteArray *output) const
{
    QProcess process;
    process.setProcessEnvironment(environment());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, arguments);
    // X tools answer at once from the X server; 10 s only bounds a wedged display.
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    if (output)
        *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QStringList XvfbDisplay::search(const QString &title, bool onlyVisible) const
{
    // xdotool matches an extended regular expression without regard to case, so every candidate's
    // title is read back and compared exactly.
    QString pattern;
    for (const QChar c : title) {
        if (QStringLiteral(".[]()*+?{}|^$\\").contains(c))
            pattern += QLatin1Char('\\');
        pattern += c;
    }
    QStringList arguments{QStringLiteral("search")};
    if (onlyVisible)
        arguments.append(QStringLiteral("--onlyvisible"));
    arguments << QStringLiteral("--name") << pattern;
    QByteArray output;
    xdotool(arguments, &output); // exits with 1 when nothing matches
    QStringList matching;
    const QStringList candidates = QString::fromLatin1(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &id : candidates) {
        QByteArray name;
        if (!xdotool({QStringLiteral("getwindowname"), id}, &name))
            continue;
        if (name.endsWith('\n'))
            name.chop(1);
        if (QString::fromUtf8(name) == title)
            matching.append(id);
    }
    return matching;
}

QStringList XvfbDisplay::visibleWindows(const QString &title) const
{
    return search(title, true);
}

QStringList XvfbDisplay::windows(const QString &title) const
{
    return search(title, false);
}

bool XvfbDisplay::pressKey(const QString &windowId, const QString &key) const
{
    // There is no window manager, so focus is set directly; the key then goes through XTEST like a real one.
    return xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), windowId}) &&
           xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), key});
}

// A private Xvfb display for tests that must see real windows, and xdotool to find and answer them.
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

class XvfbDisplay
{
public:
    ~XvfbDisplay() { stop(); }

    /// The programs this needs that are not on PATH; empty when all are there.
    static QStringList missingTools();

    /// Starts Xvfb on a display number it picks itself among the free ones and waits until it serves.
    bool start();
    void stop();
    /// ":N"
    QString name() const { return display; }

    /// Ids of the mapped windows whose title is exactly title.
    QStringList visibleWindows(const QString &title) const;
    /// Ids of all windows, mapped or not, whose title is exactly title.
    QStringList windows(const QString &title) const;
    /// Gives the window the keyboard focus and types the key (an X key name such as "Escape" or "n").
    bool pressKey(const QString &windowId, const QString &key) const;
    /// The system environment with this display and Qt's X11 platform, for programs shown on it.
    QProcessEnvironment environment() const;
    /// The output of an X tool (xprop, xwininfo, ...) run against this display.
    QString tool(const QString &program, const QStringList &arguments) const;

private:
    bool xdotool(const QStringList &arguments, QByteArray *output = nullptr) const;
    bool run(const QString &program, const QStringList &arguments, QByteArray *output) const;
    QStringList search(const QString &title, bool onlyVisible) const;

    QProcess server;
    QString display;
};

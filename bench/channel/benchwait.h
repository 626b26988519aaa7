// Waiting in the benchmarks: the event loop runs until a condition holds or the time is up.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>

inline bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

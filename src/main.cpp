// Program entry of the SANvero Connector.
#include <QApplication>
#include <QFileInfo>

#include "app/mainwindow.h"
#include "connector/logfile.h"
#include "platform/connectorlog.h"
#include "platform/restartmanager.h"
#include "platform/sessionclaim.h"

namespace {

/// The uninstaller's request: ask the connectors running from this executable, in every session, to close.
const QLatin1String closeRunningArgument("--close-running");

} // namespace

int main(int argc, char *argv[])
{
    // Qt's own event loop rather than GLib's where both exist (not on Windows): GLib's wakes its poll for every
    // socket notifier switched on or off, three system calls for each frame the connector sends.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QApplication application(argc, argv);
    // Names the operator's data folders: the origin decisions in "%APPDATA%\\SANvero\\SANvero Connector" on
    // Windows, the log file in "%LOCALAPPDATA%\\SANvero\\SANvero Connector".
    QCoreApplication::setOrganizationName(QStringLiteral("SANvero"));
    QCoreApplication::setApplicationName(QStringLiteral("SANvero Connector"));
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.value(1) == closeRunningArgument)
        return closeProgramsUsing(QCoreApplication::applicationFilePath()) ? 0 : 1;

    // One connector per session (a logon shortcut and the start menu, or a restart after an update while one
    // runs): a second one would find the port taken and write the same log file. It ends at once, without a box.
    const SessionClaim claim(LogFile::defaultFolder());
    if (!claim.held()) {
        qCInfo(connectorLog) << "Another SANvero Connector runs in this session; this start ends.";
        return 0;
    }
    LogFile logFile(LogFile::defaultFolder());
    logFile.install();
    // The configuration by its absolute path: Windows restarts the connector in a working folder of its own.
    QStringList restartArguments = arguments.mid(1);
    if (!restartArguments.isEmpty())
        restartArguments.first() = QFileInfo(restartArguments.first()).absoluteFilePath();
    registerRestartAfterUpdate(restartArguments);
#ifndef QT_NO_SESSIONMANAGER
    // An installer's Restart Manager, a log-off or a shutdown: the connector ends, and the log says why.
    QObject::connect(&application, &QGuiApplication::commitDataRequest, [] {
        qCInfo(connectorLog)
            << "The system asks the connector to close (an installer, an update or the end of the session)";
    });
#endif
    MainWindow window;
    window.show();
    return application.exec();
}

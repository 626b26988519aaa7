// Program entry of the SANvero Connector.
#include <QApplication>

#include "app/mainwindow.h"
#include "connector/logfile.h"

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    // Names the operator's data folders: the origin decisions in "%APPDATA%\\SANvero\\SANvero Connector" on
    // Windows, the log file in "%LOCALAPPDATA%\\SANvero\\SANvero Connector".
    QCoreApplication::setOrganizationName(QStringLiteral("SANvero"));
    QCoreApplication::setApplicationName(QStringLiteral("SANvero Connector"));
    LogFile logFile(LogFile::defaultFolder());
    logFile.install();
    MainWindow window;
    window.show();
    return application.exec();
}

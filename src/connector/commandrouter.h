// Routes each command envelope from the page to a new device bridge.
#pragma once

#include <QObject>
#include <QPointer>

#include "audiometry/audiometrysettings.h"
#include "audiometry/examregistry.h"
#include "audiometry/helixexam.h"
#include "audiometry/helixinstallation.h"
#include "connector/workstation.h"
#include "polysomnography/polysomnosettings.h"
#include "protocol/envelope.h"

class FolderConsent;
class HelixAudiometry;
class OperatorChannel;
class Polysomno;

class CommandRouter : public QObject
{
    Q_OBJECT

public:
    /// Serves the channel's text messages. The bridges get the configured download server and database
    /// backend and the workstation; the audiometry bridges also learn from the channel whether a page is
    /// connected, and share the router's one installation slot and its register of waiting exams. Exams that
    /// waited when the connector last ended are resumed. folders: which application folders a command may
    /// name; its held commands are dropped when their page goes.
    CommandRouter(OperatorChannel *channel, FolderConsent *folders, const QUrl &downloadServer,
                  DatabaseBackend database, const Workstation &workstation, QObject *parent = nullptr);

public slots:
    /// Parses one text message from the page; answers INVALID_ARGUMENTS itself (an unusable envelope, a folder
    /// not allowed), holds a command whose folder the operator is asked about, and otherwise hands the command
    /// to a new bridge whose reports go to the page. A bridge is released once it reports that its work is done.
    void processTextMessage(const QString &message);

private:
    template<typename Bridge>
    void connectBridge(Bridge *bridge);
    void carryOut(const Envelope &envelope);
    void logRefusal(const QString &redacted, const char *why, bool answered);

    OperatorChannel *channel;
    FolderConsent *folders;
    InstallationSlot installations;
    ExamRegistry exams;
    AudiometrySettings audiometrySettings;
    PolysomnoSettings polysomnoSettings;
    QPointer<HelixAudiometry> helixAudiometry; // most recent audiometry bridge
    QPointer<Polysomno> polysomno;             // most recent polysomnography bridge
};

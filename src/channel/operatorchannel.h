// The WebSocket server the operator's page connects to, holding one page connection at a time.
#pragma once

#include <QDateTime>
#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <functional>
#include <optional>

#include "channel/handshakelog.h"
#include "channel/originpolicy.h"
#include "channel/pageconnection.h"
#include "platform/clock.h"
#include "protocol/socketmessage.h"

class QTcpSocket;

class OperatorChannel : public QObject
{
    Q_OBJECT

public:
    /// The page's fixed port.
    static constexpr quint16 defaultPort = 1024;
    /// Larger messages or frames from the page close its connection with 1009.
    static constexpr quint64 maxIncomingSize = 1024 * 1024;

    explicit OperatorChannel(QObject *parent = nullptr);

    /// Listens on the port of each address (0: a free port, the same for every address); true when at
    /// least one listens. The policy decides which page origins are served, refused at the handshake,
    /// or held until the operator decides (originDecisionNeeded, then decideOrigin).
    bool startServer(const QList<QHostAddress> &addresses, quint16 port, const OriginPolicy &policy);
    /// The port listened on; 0 before a successful start.
    quint16 serverPort() const { return listeningPort; }

    bool hasPage() const { return !clients.isEmpty(); }
    /// Sends the error frame without a log line of its own, for a caller whose line names it; false when no page
    /// is connected and the frame is dropped.
    bool sendErrorFrame(SocketMessage code);
    /// The Origin header of the current page; empty without one or without a page.
    QString currentOrigin() const;

    /// Messages a page sends while its origin waits for the operator are kept up to this count.
    static constexpr int maxHeldMessages = 64;
    /// Pages waiting for the operator, all origins together: a page beyond the count, or the page whose message
    /// would go beyond the bytes, is closed with 1008.
    static constexpr int maxHeldPages = 16;
    static constexpr qint64 maxHeldBytes = 4 * 1024 * 1024;
    /// A held message older than this when the operator allows its page is not carried out: the patient on the
    /// operator's screen may have changed meanwhile.
    static constexpr int heldMessageLifetimeSeconds = 60;
    /// Questions to the operator at once (one shown, eight waiting); a page from a further undecided origin is
    /// refused with HTTP 403 without a question.
    static constexpr int maxOpenQuestions = 9;
    /// Origins the operator is being asked about now.
    int openQuestions() const { return int(asking.size()); }
    /// Questions to the operator asked elsewhere (about application folders): they count towards
    /// maxOpenQuestions, so the operator's queue stays bounded in all.
    void setQuestionsElsewhere(std::function<int()> count) { questionsElsewhere = std::move(count); }

    /// The clock that dates held messages; the channel's own real clock unless set. Not owned.
    void setClock(const Clock *clock);
    /// How long a connection may take to send its handshake (10 s), and how long it stays after the connector's
    /// close frame when the page does not answer (1 s).
    void setTiming(const PageConnection::Timing &pageTiming) { timing = pageTiming; }

public slots:
    void sendMessage(SocketMessage code, const QJsonObject &args);
    void sendErrorMessage(SocketMessage code);
    /// The operator's decision about a page origin. Allowed: its most recent waiting page is served from now
    /// on, taking over as a new page does, and its held messages are carried out in order (earlier connections
    /// of that origin are closed with 1000). Blocked: its waiting pages are closed with 1008; lasting false
    /// blocks it for this run only.
    void decideOrigin(const QString &origin, bool allow, bool lasting = true);

signals:
    /// A text message from the current page.
    void textMessageReceived(const QString &message);
    /// A new page has become the current page.
    void pageConnected();
    /// The current page's connection has ended; no page is connected now.
    void pageDisconnected();
    /// A page from an origin nobody decided about waits; asked once per origin until decideOrigin.
    void originDecisionNeeded(const QString &origin);
    /// Every waiting page of an origin asked about has gone: the question is void, and no decision is expected.
    /// A later page of that origin asks again.
    void originQuestionWithdrawn(const QString &origin);

private slots:
    void socketDisconnected();

private:
    /// A page whose origin waits for the operator: not served, it takes nothing over and gets no frame.
    struct HeldMessage
    {
        QByteArray text; // UTF-8
        QDateTime received;
    };
    struct HeldPage
    {
        PageConnection *socket = nullptr;
        QList<HeldMessage> messages;
        qint64 bytes = 0;
    };

    void handshakeRequested(PageConnection *page);
    void newConnection(PageConnection *page);
    void refuse(PageConnection *page, const QString &why);
    void admit(PageConnection *socket);
    void hold(PageConnection *socket);
    void messageFrom(PageConnection *socket, const QByteArray &message);
    void holdMessage(HeldPage *page, const QByteArray &message);
    /// Forgets a held page; with its origin's last page gone, the question about it is withdrawn.
    void release(PageConnection *socket);
    HeldPage *heldPage(PageConnection *socket);
    bool sendFrame(const QByteArray &frame);
    QDateTime now() const { return clock->now(); }

    QList<PageConnection *> clients;
    OriginPolicy policy;
    QHash<QString, QList<HeldPage>> held; // by origin
    int heldPages = 0;
    qint64 heldBytes = 0;
    QSet<QString> asking; // origins the operator is being asked about
    std::function<int()> questionsElsewhere = [] { return 0; };
    HandshakeLog handshakeLog;
    Clock realClock;
    const Clock *clock = &realClock;
    PageConnection::Timing timing;
    quint16 listeningPort = 0;
};

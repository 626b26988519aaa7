// The channel's WebSocket edge, byte by byte: handshake answers, the closing handshake, frames no browser sends.
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QtEndian>

#include <functional>

#include "inprocessconnector.h"

namespace {

const QByteArray listed = "https://care.example.org";

QByteArray request(const QByteArray &origin = listed)
{
    return "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\nOrigin: " +
           origin + "\r\n\r\n";
}

/// A page at the byte level: what a browser sends, and what none does.
class RawPage : public QObject
{
public:
    struct Frame
    {
        int opcode = -1;
        QByteArray payload;
        int code() const { return payload.size() >= 2 ? qFromBigEndian<quint16>(payload.constData()) : -1; }
    };

    explicit RawPage(quint16 port)
    {
        connect(&socket, &QTcpSocket::readyRead, this, [this] { input += socket.readAll(); });
        connect(&socket, &QTcpSocket::disconnected, this, [this] { ended = true; });
        socket.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
        socket.waitForConnected(5000);
    }

    /// The status of the answer to request; 0 when none came.
    int handshake(const QByteArray &request)
    {
        socket.write(request);
        const int end = waitFor([this] { return input.contains("\r\n\r\n"); }) ? input.indexOf("\r\n\r\n") : -1;
        if (end < 0)
            return 0;
        answer = input.left(end + 4);
        input.remove(0, end + 4);
        return answer.mid(9, 3).toInt();
    }

    void send(int opcode, const QByteArray &payload, bool final = true, bool masked = true, int reserved = 0)
    {
        QByteArray frame;
        frame.append(char((final ? 0x80 : 0) | (reserved << 4) | opcode));
        const char mask = masked ? char(0x80) : char(0);
        if (payload.size() < 126) {
            frame.append(char(mask | payload.size()));
        } else {
            frame.append(char(mask | 127));
            uchar length[8];
            qToBigEndian<quint64>(quint64(payload.size()), length);
            frame.append(reinterpret_cast<const char *>(length), 8);
        }
        QByteArray body = payload;
        if (masked) {
            const char key[4] = {0x12, 0x34, 0x56, 0x78};
            frame.append(key, 4);
            for (int i = 0; i < body.size(); ++i)
                body[i] = char(body[i] ^ key[i % 4]);
        }
        socket.write(frame + body);
    }

    /// The next frame from the connector; opcode -1 when none came.
    Frame next()
    {
        Frame frame;
        int headerSize = 2;
        qint64 length = 0;
        const bool whole = waitFor([&] {
            if (input.size() < 2)
                return false;
            length = input.at(1) & 0x7F;
            headerSize = length == 126 ? 4 : length == 127 ? 10 : 2;
            if (input.size() < headerSize)
                return false;
            if (length == 126)
                length = qFromBigEndian<quint16>(input.constData() + 2);
            else if (length == 127)
                length = qint64(qFromBigEndian<quint64>(input.constData() + 2));
            return input.size() >= headerSize + length;
        });
        if (!whole)
            return frame;
        frame.opcode = input.at(0) & 0x0F;
        frame.payload = input.mid(headerSize, int(length));
        input.remove(0, headerSize + int(length));
        return frame;
    }

    bool waitForEnd()
    {
        return waitFor([this] { return ended; });
    }

    static bool waitFor(const std::function<bool()> &done) { return QTest::qWaitFor(done, 5000); }

    QTcpSocket socket;
    QByteArray input;
    QByteArray answer;
    bool ended = false;
};

QByteArray closePayload(quint16 code)
{
    uchar bytes[2];
    qToBigEndian<quint16>(code, bytes);
    return QByteArray(reinterpret_cast<const char *>(bytes), 2);
}

InProcessConnector::Options listedOnly()
{
    InProcessConnector::Options options;
    options.configuration.insert(QStringLiteral("allowed_origins"), QJsonArray{QString::fromLatin1(listed)});
    return options;
}

// Set while a test watches the log category: called with each of its lines.
std::function<void(const QString &)> watchLog;
QtMessageHandler previousHandler = nullptr;

void recordLogLine(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (watchLog && qstrcmp(context.category, "sanvero.log") == 0)
        watchLog(message);
    else
        previousHandler(type, context, message);
}

} // namespace

class TestWebSocketEdge : public QObject
{
    Q_OBJECT

private slots:
    void handshakeAnswer_data();
    void handshakeAnswer();
    void unfinishedHandshakeEnds();
    void closeFrameComesBeforeTheEnd_data();
    void closeFrameComesBeforeTheEnd();
    void fragmentedTextArrivesWhole_data();
    void fragmentedTextArrivesWhole();
    void answerLeavesBeforeItsLogLine_data();
    void answerLeavesBeforeItsLogLine();
};

void TestWebSocketEdge::handshakeAnswer_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");
    const QByteArray valid = request();
    auto without = [&](const char *line) { return QByteArray(valid).replace(line, ""); };
    QTest::addRow("valid") << valid << 101;
    QTest::addRow("origin not listed") << request("https://other.example") << 403;
    QTest::addRow("no Sec-WebSocket-Key") << without("Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n") << 400;
    QTest::addRow("key of 15 bytes") << QByteArray(valid).replace("dGhlIHNhbXBsZSBub25jZQ==", "dGhlIHNhbXBsZSBub25j")
                                     << 400;
    QTest::addRow("no version") << without("Sec-WebSocket-Version: 13\r\n") << 400;
    QTest::addRow("version 8") << QByteArray(valid).replace("Version: 13", "Version: 8") << 400;
    QTest::addRow("POST") << QByteArray(valid).replace("GET", "POST") << 400;
    QTest::addRow("HTTP/1.0") << QByteArray(valid).replace("HTTP/1.1", "HTTP/1.0") << 400;
    QTest::addRow("no Upgrade") << without("Upgrade: websocket\r\n") << 400;
    QTest::addRow("Connection without Upgrade")
        << QByteArray(valid).replace("Connection: Upgrade", "Connection: close") << 400;
    QTest::addRow("no Host") << without("Host: 127.0.0.1\r\n") << 400;
    QTest::addRow("two origins") << QByteArray(valid).replace("\r\n\r\n", "\r\nOrigin: https://other.example\r\n\r\n")
                                 << 400;
    QTest::addRow("head over 32 KiB") << QByteArray(valid).replace(
                                             "\r\n\r\n", "\r\nCookie: " + QByteArray(33 * 1024, 'c') + "\r\n\r\n")
                                      << 400;
    QTest::addRow("header line without colon") << QByteArray(valid).replace("Host: ", "Host ") << 400;
}

void TestWebSocketEdge::handshakeAnswer()
{
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    InProcessConnector connector(listedOnly());
    QSignalSpy pages(&connector.channel, &OperatorChannel::pageConnected);
    RawPage page(connector.channel.serverPort());
    QCOMPARE(page.handshake(request), status);
    QCOMPARE(pages.count(), status == 101 ? 1 : 0);
    if (status == 101) {
        // RFC 6455's own example key and answer.
        QVERIFY(page.answer.contains("\r\nSec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n"));
        return;
    }
    // A wrong version is answered with the one the connector speaks.
    QCOMPARE(page.answer.contains("\r\nSec-WebSocket-Version: 13\r\n"),
             request.contains("Version: 8") || !request.contains("Version"));
    QVERIFY(page.waitForEnd());
    QCOMPARE(page.input, QByteArray());
}

void TestWebSocketEdge::unfinishedHandshakeEnds()
{
    InProcessConnector connector(listedOnly());
    connector.channel.setTiming({200, 1000});
    RawPage page(connector.channel.serverPort());
    page.socket.write(request().left(40));
    QVERIFY(page.waitForEnd());
    QCOMPARE(page.input, QByteArray());

    // Connections after it are served as ever.
    RawPage next(connector.channel.serverPort());
    QCOMPARE(next.handshake(request()), 101);
}

void TestWebSocketEdge::closeFrameComesBeforeTheEnd_data()
{
    QTest::addColumn<QString>("cause");
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("answers"); // the page answers the close frame (else the connector ends after 1 s)
    QTest::addRow("text over 1 MiB") << "oversize" << 1009 << true;
    QTest::addRow("text over 1 MiB, no answer") << "oversize" << 1009 << false;
    QTest::addRow("fragments over 1 MiB together") << "oversize fragments" << 1009 << true;
    QTest::addRow("another page takes over") << "takeover" << 1000 << true;
    QTest::addRow("another page takes over, no answer") << "takeover" << 1000 << false;
    QTest::addRow("unmasked frame") << "unmasked" << 1002 << true;
    QTest::addRow("unmasked frame, the page's close right behind") << "unmasked, then close" << 1002 << true;
    QTest::addRow("reserved bit") << "reserved bit" << 1002 << true;
    QTest::addRow("reserved opcode") << "reserved opcode" << 1002 << true;
    QTest::addRow("continuation without a message") << "lone continuation" << 1002 << true;
    QTest::addRow("new message amid fragments") << "interleaved" << 1002 << true;
    QTest::addRow("fragmented ping") << "fragmented ping" << 1002 << true;
    QTest::addRow("ping over 125 bytes") << "long ping" << 1002 << true;
    QTest::addRow("invalid UTF-8") << "invalid text" << 1007 << true;
    QTest::addRow("text ends inside a character") << "cut character" << 1007 << true;
}

void TestWebSocketEdge::closeFrameComesBeforeTheEnd()
{
    QFETCH(QString, cause);
    QFETCH(int, code);
    QFETCH(bool, answers);
    InProcessConnector connector(listedOnly());
    // A page that answers is given all the time it needs: the end must come from its answer.
    connector.channel.setTiming({10000, answers ? 60000 : 1000});
    QSignalSpy messages(&connector.channel, &OperatorChannel::textMessageReceived);
    RawPage page(connector.channel.serverPort());
    QCOMPARE(page.handshake(request()), 101);

    const QByteArray oneMiB(1024 * 1024, 'x');
    std::unique_ptr<RawPage> other;
    if (cause == QLatin1String("oversize")) {
        page.send(0x1, oneMiB + 'x');
    } else if (cause == QLatin1String("oversize fragments")) {
        page.send(0x1, oneMiB.left(600 * 1024), false);
        page.send(0x0, oneMiB.left(600 * 1024));
    } else if (cause == QLatin1String("takeover")) {
        other = std::make_unique<RawPage>(connector.channel.serverPort());
        QCOMPARE(other->handshake(request()), 101);
    } else if (cause == QLatin1String("unmasked")) {
        page.send(0x1, "[]", true, false);
    } else if (cause == QLatin1String("unmasked, then close")) {
        // Both arrive together: the close behind the fault must still be read.
        page.send(0x1, "[]", true, false);
        page.send(0x8, closePayload(1000));
    } else if (cause == QLatin1String("reserved bit")) {
        page.send(0x1, "[]", true, true, 4);
    } else if (cause == QLatin1String("reserved opcode")) {
        page.send(0x3, "[]");
    } else if (cause == QLatin1String("lone continuation")) {
        page.send(0x0, "[]");
    } else if (cause == QLatin1String("interleaved")) {
        page.send(0x1, "[", false);
        page.send(0x1, "[]");
    } else if (cause == QLatin1String("fragmented ping")) {
        page.send(0x9, "a", false);
    } else if (cause == QLatin1String("long ping")) {
        page.send(0x9, QByteArray(126, 'p'));
    } else if (cause == QLatin1String("invalid text")) {
        page.send(0x1, "[\xC0\xAF]"); // an overlong "/"
    } else if (cause == QLatin1String("cut character")) {
        page.send(0x1, "[\xC3", false);
        page.send(0x0, "]");
    }

    const RawPage::Frame close = page.next();
    QCOMPARE(close.opcode, 0x8);
    QCOMPARE(close.code(), code);
    if (answers && cause != QLatin1String("unmasked, then close")) {
        // Still open for the page's answer; what the page sends meanwhile is read and dropped.
        QTest::qWait(100);
        QVERIFY(!page.ended);
        page.send(0x1, "[]");
        page.send(0x2, QByteArray(256 * 1024, 'b'));
        page.send(0x8, closePayload(quint16(code)));
    }
    QVERIFY(page.waitForEnd());
    // The close frame was the last frame; nothing the page sent after the cause was carried out.
    QCOMPARE(page.input, QByteArray());
    QCOMPARE(messages.count(), 0);
}

void TestWebSocketEdge::fragmentedTextArrivesWhole_data()
{
    QTest::addColumn<QList<QByteArray>>("fragments");
    QTest::addColumn<QString>("message");
    const QByteArray text = QStringLiteral("{\"name\": \"Müller 😀\"}").toUtf8();
    const int umlaut = text.indexOf("\xC3\xBC");
    const int emoji = text.indexOf("\xF0\x9F");
    QTest::addRow("split inside a two-byte character")
        << QList<QByteArray>{text.left(umlaut + 1), text.mid(umlaut + 1)} << QString::fromUtf8(text);
    QTest::addRow("four-byte character over three fragments")
        << QList<QByteArray>{text.left(emoji + 1), text.mid(emoji + 1, 2), text.mid(emoji + 3)}
        << QString::fromUtf8(text);
    QTest::addRow("empty fragments") << QList<QByteArray>{QByteArray(), text, QByteArray()} << QString::fromUtf8(text);
    QTest::addRow("a NUL character") << QList<QByteArray>{QByteArray("[\"a\0", 4), "b\"]"}
                                     << QStringLiteral("[\"a") + QChar(0) + QStringLiteral("b\"]");
}

void TestWebSocketEdge::fragmentedTextArrivesWhole()
{
    QFETCH(QList<QByteArray>, fragments);
    QFETCH(QString, message);
    InProcessConnector connector(listedOnly());
    QSignalSpy messages(&connector.channel, &OperatorChannel::textMessageReceived);
    RawPage page(connector.channel.serverPort());
    QCOMPARE(page.handshake(request()), 101);
    for (int i = 0; i < fragments.size(); ++i) {
        page.send(i == 0 ? 0x1 : 0x0, fragments.at(i), i + 1 == fragments.size());
        // A ping may come between the fragments of a message, and is answered at once.
        if (i == 0)
            page.send(0x9, "ping");
    }
    const RawPage::Frame pong = page.next();
    QCOMPARE(pong.opcode, 0xA);
    QCOMPARE(pong.payload, QByteArray("ping"));
    QTRY_COMPARE(messages.count(), 1);
    QCOMPARE(messages.first().first().toString(), message);
    QVERIFY(!page.ended);
}

void TestWebSocketEdge::answerLeavesBeforeItsLogLine_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("code");
    QTest::addRow("refused by the router")
        << QByteArray("not json") << QStringLiteral("-> refused: no usable envelope") << 2;
    QTest::addRow("a bridge's error") << QStringLiteral(
                                             R"({"type":"AUDIOMETRY","appPath":"%1nowhere/","args":{"patient":{}}})")
                                             .arg(QDir::rootPath())
                                             .toUtf8()
                                      << QStringLiteral("Error 1 sent") << 1;
}

// The page gets its answer before the connector writes the line about it: a page waits for no file.
void TestWebSocketEdge::answerLeavesBeforeItsLogLine()
{
    QFETCH(QByteArray, message);
    QFETCH(QString, line);
    QFETCH(int, code);
    InProcessConnector connector(listedOnly());
    RawPage page(connector.channel.serverPort());
    QCOMPARE(page.handshake(request()), 101);
    int lines = 0;
    bool answeredFirst = false;
    previousHandler = qInstallMessageHandler(recordLogLine);
    watchLog = [&](const QString &logged) {
        if (!logged.contains(line))
            return;
        ++lines;
        // Over loopback a frame written is at once readable; one not yet written cannot come while this waits.
        answeredFirst = page.socket.bytesAvailable() > 0 || page.socket.waitForReadyRead(300);
    };
    page.send(0x1, message);
    const RawPage::Frame answer = page.next();
    watchLog = nullptr;
    qInstallMessageHandler(previousHandler);
    QCOMPARE(answer.opcode, 0x1);
    QCOMPARE(QJsonDocument::fromJson(answer.payload).object().value(QStringLiteral("error")).toInt(), code);
    QCOMPARE(lines, 1);
    QVERIFY(answeredFirst);
}

QTEST_GUILESS_MAIN(TestWebSocketEdge)
#include "tst_websocketedge.moc"

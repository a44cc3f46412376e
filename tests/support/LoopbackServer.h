#pragma once
// A tiny HTTP server on 127.0.0.1 for the tests: it records every request and
// answers each path with a canned response (404 for unknown paths). One request
// per connection; every answer closes the connection.
#include <QByteArray>
#include <QCoreApplication>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <QtTest>
#include <memory>

namespace lg::test {

struct HttpRequest
{
    QByteArray method;
    QByteArray target;   // path and query, as sent
    QByteArray path;     // without the query
    QByteArray query;    // without the "?"
    QHash<QByteArray, QByteArray> headers;  // names in lower case
    QByteArray body;
};

struct CannedResponse
{
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/octet-stream";
};

class LoopbackServer
{
public:
    LoopbackServer()
    {
        m_server = std::make_unique<QTcpServer>();
        if (!m_server->listen(QHostAddress::LocalHost, 0))
            qFatal("the loopback server cannot listen");
        QObject::connect(m_server.get(), &QTcpServer::newConnection, m_server.get(), [this] {
            while (QTcpSocket *socket = m_server->nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { readFrom(socket); });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server->serverPort()); }
    QString url(const QString &path) const { return baseUrl() + path; }

    void respond(const QByteArray &path, const CannedResponse &response) { m_responses.insert(path, response); }

    QList<HttpRequest> requests;
    // Requests to one path.
    QList<HttpRequest> requestsTo(const QByteArray &path) const
    {
        QList<HttpRequest> found;
        for (const HttpRequest &r : requests) {
            if (r.path == path)
                found.append(r);
        }
        return found;
    }
    // Lets the event loop run until count requests have arrived (or 5 s passed).
    bool waitForRequests(int count, int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return requests.size() >= count; }, timeoutMs);
    }

private:
    void readFrom(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        HttpRequest request;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.target = first.value(1);
        const qsizetype question = request.target.indexOf('?');
        request.path = question < 0 ? request.target : request.target.left(question);
        request.query = question < 0 ? QByteArray() : request.target.mid(question + 1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                request.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
        }
        const qsizetype length = request.headers.value("content-length", "0").toLongLong();
        if (buffer.size() < headerEnd + 4 + length)
            return;
        request.body = buffer.mid(headerEnd + 4, length);
        m_buffers.remove(socket);
        requests.append(request);

        const CannedResponse response = m_responses.value(request.path, CannedResponse{404, "not found", "text/plain"});
        QByteArray reply = "HTTP/1.1 " + QByteArray::number(response.status) + " Canned\r\n";
        reply += "Content-Type: " + response.contentType + "\r\n";
        reply += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
        reply += "Connection: close\r\n\r\n";
        reply += response.body;
        socket->write(reply);
        socket->disconnectFromHost();
    }

    std::unique_ptr<QTcpServer> m_server;
    QHash<QByteArray, CannedResponse> m_responses;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};

} // namespace lg::test

#pragma once
// A tile server on the loopback interface for the map tests: every tile is
// a solid PNG whose colour encodes its zoom, column and row; chosen paths
// answer 404, 500, bytes that are no picture, or nothing at all. It records
// every request path and User-Agent. Nothing leaves the machine.
#include <QBuffer>
#include <QColor>
#include <QHash>
#include <QImage>
#include <QList>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

class LoopbackTileServer : public QTcpServer
{
public:
    enum class Reply { Tile, NotFound, ServerError, Corrupt, Silent };

    LoopbackTileServer()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        });
    }

    bool start() { return listen(QHostAddress::LocalHost, 0); }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(serverPort()); }

    static QColor colourFor(int zoom, int x, int y) { return QColor((x * 37) % 256, (y * 53) % 256, (zoom * 13) % 256); }
    static QString pathOf(int zoom, int x, int y) { return QStringLiteral("/%1/%2/%3.png").arg(zoom).arg(x).arg(y); }

    QHash<QString, Reply> overrides;
    Reply defaultReply = Reply::Tile;
    QStringList paths;
    QList<QByteArray> userAgents;

private:
    void serve(QTcpSocket *socket)
    {
        QByteArray &pending = buffers[socket];
        pending += socket->readAll();
        const int end = pending.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QList<QByteArray> lines = pending.left(end).split('\n');
        pending.clear();
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        const QString path = QString::fromLatin1(first.value(1));
        for (const QByteArray &line : lines)
            if (line.toLower().startsWith("user-agent:"))
                userAgents.append(line.mid(11).trimmed());
        paths.append(path);
        const Reply reply = overrides.value(path, defaultReply);
        if (reply == Reply::Silent)
            return;
        QByteArray status = "200 OK", body;
        if (reply == Reply::NotFound) {
            status = "404 Not Found";
            body = "no such tile";
        } else if (reply == Reply::ServerError) {
            status = "500 Internal Server Error";
            body = "try later";
        } else if (reply == Reply::Corrupt) {
            body = QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(300, '\x5a');
        } else {
            const QStringList parts = path.mid(1).chopped(4).split('/');
            QImage tile(256, 256, QImage::Format_RGB32);
            tile.fill(colourFor(parts.value(0).toInt(), parts.value(1).toInt(), parts.value(2).toInt()));
            QBuffer out(&body);
            out.open(QIODevice::WriteOnly);
            tile.save(&out, "PNG");
        }
        socket->write("HTTP/1.1 " + status + "\r\nContent-Type: image/png\r\nCache-Control: max-age=86400\r\n"
                      "Connection: close\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    QHash<QTcpSocket *, QByteArray> buffers;
};

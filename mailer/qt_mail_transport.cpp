#include "mailer/qt_mail_transport.h"

#include <QHostInfo>
#include <QTcpSocket>
#include <QTimer>
#include <string_view>

namespace quorvane::mailer {

QtMailSocket::QtMailSocket(QObject* parent) : socket_(new QTcpSocket(parent)) {}

QtMailSocket::~QtMailSocket() {
    // The socket outlives this wrapper as a child of the window and aborts its connection when
    // it goes; the session must not hear of that.
    QObject::disconnect(socket_, nullptr, nullptr, nullptr);
}

void QtMailSocket::attach(SmtpSession& session) {
    QObject::connect(socket_, &QTcpSocket::connected, socket_,
                     [&session] { session.onConnected(); });
    QObject::connect(socket_, &QTcpSocket::readyRead, socket_, [this, &session] {
        const QByteArray data = socket_->readAll();
        session.onDataArrived(std::string_view(data.constData(), data.size()));
    });
    QObject::connect(socket_, &QTcpSocket::errorOccurred, socket_,
                     [this, &session](QAbstractSocket::SocketError error) {
                         // The server's closing reaches the session once, as the disconnect
                         // that follows this error.
                         if (closedByUs_ || error == QAbstractSocket::RemoteHostClosedError) {
                             return;
                         }
                         session.onSocketError(socketErrorNumber(error),
                                               socket_->errorString().toStdString());
                     });
    QObject::connect(socket_, &QTcpSocket::disconnected, socket_, [this, &session] {
        if (!closedByUs_) {
            session.onDisconnected();
        }
    });
}

void QtMailSocket::connectToHost(const QString& host, quint16 port) {
    if (socket_->state() != QAbstractSocket::UnconnectedState) {
        socket_->abort();
    }
    closedByUs_ = false;
    socket_->connectToHost(host, port);
}

void QtMailSocket::send(const std::string& text) {
    socket_->write(text.data(), static_cast<qint64>(text.size()));
}

void QtMailSocket::close() {
    closedByUs_ = true;
    if (socket_->state() == QAbstractSocket::UnconnectedState) {
        return;
    }
    if (socket_->state() != QAbstractSocket::ConnectedState &&
        socket_->state() != QAbstractSocket::ClosingState) {
        // A connection still being made is given up now: closing would only wait for it to be
        // made, and a server that answers later would see it come and go.
        socket_->abort();
        return;
    }
    // Hands what was sent last (QUIT) to the system before the connection goes, so that the
    // socket is closed at once rather than after a later write.
    socket_->flush();
    socket_->close();
}

bool QtMailSocket::isClosed() const {
    return socket_->state() == QAbstractSocket::UnconnectedState;
}

std::string QtMailSocket::localHostName() const {
    return QHostInfo::localHostName().toStdString();
}

QtMailTimer::QtMailTimer(std::chrono::milliseconds interval, QObject* parent)
    : timer_(new QTimer(parent)) {
    timer_->setInterval(interval);
}

void QtMailTimer::attach(SmtpSession& session) {
    QObject::connect(timer_, &QTimer::timeout, timer_, [&session] { session.onTick(); });
}

void QtMailTimer::start() {
    timer_->start();
}

void QtMailTimer::stop() {
    timer_->stop();
}

int socketErrorNumber(int qtSocketError) {
    return 10000 + qtSocketError;
}

}  // namespace quorvane::mailer

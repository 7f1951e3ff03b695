// The SMTP session's socket and timer, made of Qt's QTcpSocket and QTimer. Each forwards its
// notifications to the session it is attached to.
#pragma once

#include <QObject>
#include <QString>
#include <chrono>

#include "mailer/smtp_session.h"

class QTcpSocket;
class QTimer;

namespace quorvane::mailer {

class QtMailSocket final : public MailSocket {
public:
    explicit QtMailSocket(QObject* parent);
    ~QtMailSocket() override;
    QtMailSocket(const QtMailSocket&) = delete;
    QtMailSocket& operator=(const QtMailSocket&) = delete;

    // Forwards connected, data arrival, errors and the peer's closing to `session`.
    void attach(SmtpSession& session);
    void connectToHost(const QString& host, quint16 port);

    void send(const std::string& text) override;
    void close() override;
    bool isClosed() const override;
    std::string localHostName() const override;

private:
    QTcpSocket* socket_;
    // Set by close() until the next connection: the notifications that closing causes (a
    // disconnect, an error of the abandoned connection) are the session's own doing and must
    // not reach it as the server's.
    bool closedByUs_ = false;
};

class QtMailTimer final : public MailTimer {
public:
    QtMailTimer(std::chrono::milliseconds interval, QObject* parent);
    QtMailTimer(const QtMailTimer&) = delete;
    QtMailTimer& operator=(const QtMailTimer&) = delete;

    void attach(SmtpSession& session);
    void start() override;
    void stop() override;

private:
    QTimer* timer_;
};

// The number passed with a socket error: the Qt error plus 10000, so never the number 40017
// that the dialogue passes over.
int socketErrorNumber(int qtSocketError);

}  // namespace quorvane::mailer

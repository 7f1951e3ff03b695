// The tell-a-friend window: collects the friend's and the sender's names and addresses, a
// subject and comments, checks them, and sends the recommendation mail through an SmtpSession
// over a Qt socket and timer.
#pragma once

#include <QString>
#include <QWidget>
#include <chrono>
#include <memory>

#include "mailer/smtp_session.h"
#include "toolkit/configuration.h"
#include "toolkit/form_controls.h"
#include "toolkit/message_box.h"

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace quorvane::mailer {

class QtMailSocket;
class QtMailTimer;

// Host and port of a "host[:port]" text such as the configuration's Mail/Server; the port is
// 25 when the text names none or one that is not a port number. "[::1]:2525" names an IPv6
// address with a port.
struct ServerAddress {
    QString host;
    quint16 port = 25;
};
ServerAddress parseServerAddress(const QString& text);

class frmBugReport final : public QWidget, private MailWindow {
    Q_OBJECT

public:
    // `messageBox` shows the window's and the session's messages and must outlive the window.
    // `tickInterval` is the session timer's interval; 30 ticks make a time-out.
    frmBugReport(toolkit::MessageBox& messageBox, const toolkit::Configuration& configuration,
                 std::chrono::milliseconds tickInterval = std::chrono::milliseconds(1000),
                 QWidget* parent = nullptr);
    ~frmBugReport() override;

    // Where the message's date and identifier come from; the system clock and random bits
    // unless set.
    void setStampSource(StampSource stamps);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void load(const toolkit::Configuration& configuration);
    QRect twips(int left, int top, int width, int height) const;
    void cmdSend_Click();
    bool inputAccepted();
    bool refuse(QWidget* field, const std::string& text, const std::string& title);

    // MailWindow
    void setStatus(const std::string& text) override;
    void setSendEnabled(bool enabled) override;
    void showMessage(const std::string& text, int style, const std::string& title) override;
    std::string friendsName() const override;
    std::string comments() const override;
    std::string productUrl() const override;
    std::string senderName() const override;
    void setMessageText(const std::string& body) override;
    std::string messageText() const override;
    void unload() override;

    toolkit::MessageBox& messageBox_;
    toolkit::TwipsScale scale_;

    QFrame* Frame1_ = nullptr;
    QComboBox* cboSubject_ = nullptr;
    QLineEdit* txtFriendsName_ = nullptr;
    QLineEdit* txtFriend_ = nullptr;
    QLineEdit* txtName_ = nullptr;
    QLineEdit* txtFrom_ = nullptr;
    QPlainTextEdit* txtComments_ = nullptr;
    QLabel* Image1_ = nullptr;
    QLabel* lblStatus_ = nullptr;
    QPushButton* cmdSend_ = nullptr;
    QPushButton* cmdExit_ = nullptr;
    QLineEdit* txtUrl_ = nullptr;
    QPlainTextEdit* txtMessage_ = nullptr;

    std::string contentSubtype_;
    ServerAddress mailServer_;
    // Declared last so that the session, which uses the others, goes first.
    std::unique_ptr<QtMailSocket> Winsock1_;
    std::unique_ptr<QtMailTimer> Timer1_;
    std::unique_ptr<SmtpSession> session_;
};

}  // namespace quorvane::mailer

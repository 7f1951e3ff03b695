#include "mailer/tell_a_friend_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <string>
#include <utility>

#include "mailer/message_text.h"
#include "mailer/qt_mail_transport.h"
#include "toolkit/application.h"
#include "toolkit/artwork.h"
#include "toolkit/classic_font.h"
#include "toolkit/window_placement.h"

namespace quorvane::mailer {

namespace {

using toolkit::control;
using toolkit::label;
using toolkit::Picture;

const char* const kSubjectPrompt = "Please Choose a Subject";
// Each entry begins with a space, which the subject line keeps after its dash.
const char* const kSubjects[] = {" I Highly Recommend It!", " I Thought You'd Want To See This",
                                 " I'm using a new program", " This seems like a good one",
                                 " Check Out This Program"};
constexpr int kInitialSubject = 2;

std::string textOf(const QLineEdit* field) {
    return field->text().toStdString();
}

// The text of a multi-line box with its paragraphs joined by LF, every other character as it
// was typed (toPlainText would turn non-breaking spaces into plain ones).
std::string textOf(const QPlainTextEdit* box) {
    QString text = box->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, u'\n').replace(QChar::LineSeparator, u'\n');
    return text.toStdString();
}

}  // namespace

ServerAddress parseServerAddress(const QString& text) {
    ServerAddress address;
    QString host = text.trimmed();
    QString port;
    if (host.startsWith(u'[')) {
        const qsizetype end = host.indexOf(u']');
        if (end > 0) {
            const QString rest = host.mid(end + 1);
            port = rest.startsWith(u':') ? rest.mid(1) : QString();
            host = host.mid(1, end - 1);
        }
    } else if (host.count(u':') == 1) {
        const qsizetype colon = host.indexOf(u':');
        port = host.mid(colon + 1);
        host = host.left(colon);
    }
    bool isNumber = false;
    const uint number = port.toUInt(&isNumber);
    if (isNumber && number >= 1 && number <= 65535) {
        address.port = static_cast<quint16>(number);
    }
    address.host = host;
    return address;
}

frmBugReport::frmBugReport(toolkit::MessageBox& messageBox,
                           const toolkit::Configuration& configuration,
                           std::chrono::milliseconds tickInterval, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      messageBox_(messageBox),
      scale_(*this),
      Winsock1_(std::make_unique<QtMailSocket>(this)),
      Timer1_(std::make_unique<QtMailTimer>(tickInterval, this)) {
    setObjectName(QStringLiteral("frmBugReport"));
    // Every opening loads the window afresh.
    setAttribute(Qt::WA_DeleteOnClose);
    createControls();
    toolkit::fitClassicFont(*this);
    toolkit::pressFocusedButtonOnReturn(*this);
    toolkit::centreOnFirstShow(*this);

    MailSettings settings;
    settings.applicationTitle = toolkit::kApplicationTitle;
    for (std::size_t i = 0; i < settings.mirrorHosts.size(); ++i) {
        settings.mirrorHosts[i] = configuration.mirrors[i];
    }
    MailWindow& window = *this;
    session_ = std::make_unique<SmtpSession>(window, *Winsock1_, *Timer1_, std::move(settings));
    Winsock1_->attach(*session_);
    Timer1_->attach(*session_);

    load(configuration);
}

frmBugReport::~frmBugReport() = default;

QRect frmBugReport::twips(int left, int top, int width, int height) const {
    return scale_.rect(left, top, width, height);
}

void frmBugReport::createControls() {
    setFixedSize(twips(0, 0, 6840, 5820).size());
    setWindowIcon(toolkit::pictureIcon(Picture::TellAFriendIcon));

    Frame1_ = toolkit::frame(this, "Frame1", twips(113, 120, 6615, 4815));
    cboSubject_ = control<QComboBox>(Frame1_, "cboSubject", twips(2520, 360, 3975, 315));
    cboSubject_->setEditable(true);
    // The list is fixed: Enter in the box must not add what was typed as a new entry.
    cboSubject_->setInsertPolicy(QComboBox::NoInsert);
    label(Frame1_, "Label1", "Select a Subject", twips(240, 420, 2295, 255));
    txtFriendsName_ = control<QLineEdit>(Frame1_, "txtFriendsName", twips(2520, 776, 3975, 315));
    label(Frame1_, "Label7", "Your Friend's name", twips(240, 836, 2295, 255));
    txtFriend_ = control<QLineEdit>(Frame1_, "txtFriend", twips(2520, 1192, 3975, 315));
    label(Frame1_, "Label4", "Your Friend's Email Address", twips(240, 1252, 2295, 255));
    txtName_ = control<QLineEdit>(Frame1_, "txtName", twips(2520, 1608, 3975, 315));
    label(Frame1_, "Label5", "Enter Your Name", twips(240, 1668, 2295, 255));
    txtFrom_ = control<QLineEdit>(Frame1_, "txtFrom", twips(2520, 2025, 3975, 315));
    label(Frame1_, "Label2", "Enter Your Email Address", twips(240, 2085, 2295, 255));
    label(Frame1_, "Label3", "Comments (Optional)", twips(1440, 2640, 2295, 255));
    txtComments_ = control<QPlainTextEdit>(Frame1_, "txtComments", twips(1440, 2880, 5055, 1815));
    txtComments_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Tab moves on to Send, as in every other field.
    txtComments_->setTabChangesFocus(true);
    Image1_ = control<QLabel>(Frame1_, "Image1", twips(360, 3240, 720, 720));
    Image1_->setPixmap(toolkit::picturePixmap(Picture::TellAFriend));
    Image1_->setAlignment(Qt::AlignCenter);

    QLabel* Label6 = label(this, "Label6", "Haldrix does not collect email address's",
                           twips(113, 5040, 6615, 195));
    // Face and size follow the window's font.
    QFont notice;
    notice.setUnderline(true);
    Label6->setFont(notice);
    lblStatus_ = label(this, "lblStatus", "Status - Ready", twips(120, 5400, 4080, 330));
    cmdSend_ = control<QPushButton>(this, "cmdSend", twips(4400, 5400, 1095, 350));
    cmdSend_->setText(QStringLiteral("&Send"));
    cmdExit_ = control<QPushButton>(this, "cmdExit", twips(5633, 5400, 1095, 350));
    cmdExit_->setText(QStringLiteral("&Cancel"));
    txtUrl_ = control<QLineEdit>(this, "txtUrl", twips(120, 5040, 6375, 285));
    txtUrl_->hide();
    txtMessage_ = control<QPlainTextEdit>(this, "txtMessage", twips(233, 7080, 6375, 1815));
    txtMessage_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtMessage_->hide();

    // Focus moves through the fields in the order they are filled in, which is not the order
    // on screen: the subject, at the top, comes after the addresses.
    QWidget* const tabOrder[] = {txtFriendsName_, txtFriend_,   txtName_, txtFrom_,
                                 cboSubject_,     txtComments_, cmdSend_, cmdExit_};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i) {
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    }
    txtFriendsName_->setFocus();

    connect(cmdSend_, &QPushButton::clicked, this, &frmBugReport::cmdSend_Click);
    connect(cmdExit_, &QPushButton::clicked, this, &QWidget::close);
}

void frmBugReport::load(const toolkit::Configuration& configuration) {
    setWindowTitle(QStringLiteral("Tell a Friend About ") +
                   QString::fromLatin1(toolkit::kApplicationTitle));
    cboSubject_->setEditText(QString::fromLatin1(kSubjectPrompt));
    for (const char* subject : kSubjects) {
        cboSubject_->addItem(QString::fromLatin1(subject));
    }
    // Replaces the prompt: the window opens with an entry chosen.
    cboSubject_->setCurrentIndex(kInitialSubject);
    contentSubtype_ = "plain;";
    mailServer_ = parseServerAddress(QString::fromStdString(configuration.mailServer));
    txtUrl_->setText(QStringLiteral("http://") + QString::fromStdString(configuration.makerHost) +
                     QStringLiteral("/Pages/Useful.html"));
}

void frmBugReport::closeEvent(QCloseEvent* event) {
    // Closing during a send breaks the connection off; the session then ends silently.
    session_->CloseConnection();
    event->accept();
}

bool frmBugReport::refuse(QWidget* field, const std::string& text, const std::string& title) {
    messageBox_.show(text, toolkit::kInformation, title);
    field->setFocus();
    return false;
}

bool frmBugReport::inputAccepted() {
    if (cboSubject_->currentText() == QLatin1String(kSubjectPrompt)) {
        return refuse(cboSubject_, "You must choose a Subject for the email     ",
                      "No Subject Chosen");
    }
    struct Field {
        QLineEdit* box;
        const char* missing;
        const char* missingTitle;
        const char* what;
        bool address;
    };
    const Field fields[] = {
        {txtFriendsName_, "Please enter your friend's name     ", "No Name", "your friend's name",
         false},
        {txtFriend_, "Please enter your friend's email address     ", "No Email Address",
         "your friend's email address", true},
        {txtName_, "Please enter your name     ", "No Name", "your name", false},
        {txtFrom_, "Please enter your email address     ", "No Email Address", "your email address",
         true},
    };
    for (const Field& field : fields) {
        const std::string text = textOf(field.box);
        // Only a text of no characters is missing: spaces pass.
        if (text.empty()) {
            return refuse(field.box, field.missing, field.missingTitle);
        }
        // A line break in an address or a name would let the text add SMTP commands or mail
        // headers of its own.
        if (hasLineBreak(text)) {
            return refuse(field.box,
                          std::string("Please write ") + field.what +
                              " on one line, without line breaks.     ",
                          "Line Break Not Allowed");
        }
        if (field.address && !isAscii(text)) {
            return refuse(field.box,
                          std::string("Please enter ") + field.what +
                              " in plain ASCII characters only: an address with other "
                              "characters cannot be sent through this mail server.     ",
                          "Email Address Not Supported");
        }
        if (field.address && text.size() > kMaxAddressLength) {
            return refuse(field.box,
                          std::string("Please enter ") + field.what + " in at most " +
                              std::to_string(kMaxAddressLength) + " characters.     ",
                          "Email Address Too Long");
        }
    }
    return true;
}

void frmBugReport::cmdSend_Click() {
    if (!inputAccepted()) {
        return;
    }
    // The subject line takes the chosen entry of the fixed list, never the text typed into the
    // box; with the sender's name checked above it cannot hold a line break either.
    MailEnvelope envelope;
    envelope.mailSubject = "From: " + textOf(txtName_) + " - " +
                           cboSubject_->itemText(cboSubject_->currentIndex()).toStdString();
    envelope.mailFrom = textOf(txtFrom_);
    envelope.mailTo = textOf(txtFriend_);
    envelope.contentSubtype = contentSubtype_;

    cmdSend_->setEnabled(false);
    lblStatus_->setText(QStringLiteral("Connecting..."));
    session_->connecting(std::move(envelope));
    Winsock1_->connectToHost(mailServer_.host, mailServer_.port);
}

void frmBugReport::setStampSource(StampSource stamps) {
    session_->setStampSource(std::move(stamps));
}

void frmBugReport::setStatus(const std::string& text) {
    lblStatus_->setText(QString::fromStdString(text));
}

void frmBugReport::setSendEnabled(bool enabled) {
    cmdSend_->setEnabled(enabled);
}

void frmBugReport::showMessage(const std::string& text, int style, const std::string& title) {
    messageBox_.show(text, style, title);
}

std::string frmBugReport::friendsName() const {
    return textOf(txtFriendsName_);
}

std::string frmBugReport::comments() const {
    return textOf(txtComments_);
}

std::string frmBugReport::productUrl() const {
    return textOf(txtUrl_);
}

std::string frmBugReport::senderName() const {
    return textOf(txtName_);
}

void frmBugReport::setMessageText(const std::string& body) {
    txtMessage_->setPlainText(QString::fromStdString(body));
}

std::string frmBugReport::messageText() const {
    // The box keeps lines as paragraphs and gives them back joined by LF; the message puts
    // CR LF back on every line.
    return textOf(txtMessage_);
}

void frmBugReport::unload() {
    close();
}

}  // namespace quorvane::mailer

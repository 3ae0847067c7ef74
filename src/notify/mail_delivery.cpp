#include "notify/mail_delivery.h"

#include <QMetaObject>
#include <QPointer>

#include "notify/test_mail.h"

namespace kestrel {

std::string LoginName(const std::string& address) { return address.substr(0, address.find('@')); }

class MailDelivery::TEmailThread final : public WorkerThread {
public:
    TEmailThread(MailDelivery& owner, WakeSignal& wake) : owner_(owner) { Start(wake); }
    ~TEmailThread() override { Stop(); }

private:
    bool Step() override { return !Stopping() && owner_.ThreadStep(); }
    MailDelivery& owner_;
};

MailDelivery::MailDelivery(QObject* ui, MailFlags& flags, MailSettingsStore& settings, AlertComposer& composer,
                           StatusBar& bar, SmtpSend send)
    : ui_(ui), flags_(flags), settings_(settings), composer_(composer), bar_(bar), send_(std::move(send)) {}

MailDelivery::~MailDelivery() { Stop(); }

void MailDelivery::Start() {
    if (thread_) return;
    stopping_ = false;
    if (cancel_->Cancelled()) cancel_ = std::make_unique<SmtpCancel>();
    thread_ = std::make_unique<TEmailThread>(*this, flags_.wake);
}

void MailDelivery::Stop() {
    // A step that the thread is waiting for may still be served while it
    // stops: it must not build or send anything any more. An exchange under
    // way is cut off at once and its alert dropped: closing does not wait
    // for a mail server.
    stopping_ = true;
    cancel_->Cancel();
    thread_.reset();
}

void MailDelivery::Post(std::function<void()> onUi) {
    QMetaObject::invokeMethod(ui_, std::move(onUi), Qt::QueuedConnection);
}

bool MailDelivery::ThreadStep() {
    if (flags_.Value() == 0) return false;
    std::optional<std::pair<SmtpServer, SmtpMessage>> mail;
    QMetaObject::invokeMethod(
        ui_, [&] {
            if (!stopping_) mail = MailStep();
        },
        Qt::BlockingQueuedConnection);
    if (stopping_) return false;
    if (!mail) return true;

    // The client's events reach the window in the order they happen.
    SmtpEvents events;
    events.connected = [this] {
        sendState_ = send_state::kConnected;
        Post([this] { bar_.SetPanel(2, "Connect"); });
    };
    events.workBegin = [this] {
        sendState_ = send_state::kTransferring;
        Post([this] { bar_.SetPanel(3, "Mail is Sending..."); });
    };
    events.workEnd = [this] {
        sendState_ = send_state::kTransferred;
        Post([this] { bar_.SetPanel(3, "Send mail Success!"); });
    };
    events.disconnected = [this] { sendState_ = send_state::kNotConnected; };
    sendState_ = send_state::kNotConnected;
    mail->first.cancel = cancel_.get();
    const SmtpOutcome outcome = send_(mail->first, mail->second, events);
    if (outcome.cancelled) return false;
    if (servingTest_) {
        Post([this, outcome] { FinishTestMail(outcome.sent && outcome.refused.empty(), TestMailResult(outcome)); });
        return true;
    }
    std::string refused;
    for (const std::string& r : outcome.refused) refused += (refused.empty() ? "" : ", ") + r;
    if (!outcome.sent)
        Post([this, text = outcome.error] {
            bar_.SetPanel(3, text);
            if (listener_) listener_(false, false, text);
        });
    else if (!refused.empty()) Post([this, text = "Mail sent; the server refused " + refused] { bar_.SetPanel(3, text); });
    return true;
}

void MailDelivery::RequestTestMail(AlertMail text, TestMailDone done) {
    testMail_ = std::move(text);
    testDone_ = std::move(done);
    flags_.Set(mail_flag::kTestMail);
}

std::optional<std::pair<SmtpServer, SmtpMessage>> MailDelivery::TestMailStep() {
    flags_.Clear(mail_flag::kTestMail);
    std::optional<AlertMail> text = std::move(testMail_);
    testMail_.reset();
    if (!text) return std::nullopt;
    std::string refusal = TestMailRefusal(settings_);
    if (refusal.empty() && !settings_.SettingsLoaded()) refusal = "No test mail: the settings could not be loaded";
    if (!refusal.empty()) {
        FinishTestMail(false, refusal);
        return std::nullopt;
    }
    OutgoingMail mail = MailFromSettings(settings_, std::move(*text));
    mail.server.connectTimeoutMs = connectMs_;
    mail.server.transferTimeoutMs = transferMs_;
    servingTest_ = true;
    return std::pair{std::move(mail.server), std::move(mail.message)};
}

void MailDelivery::FinishTestMail(bool delivered, const std::string& result) {
    bar_.SetPanel(3, result);
    if (listener_) listener_(true, delivered, result);
    if (TestMailDone done = std::exchange(testDone_, {})) done(delivered, result);
}

std::optional<std::pair<SmtpServer, SmtpMessage>> MailDelivery::MailStep() {
    bar_.SetPanel(2, "Email=" + std::to_string(flags_.Value()));
    if (flags_.Test(mail_flag::kReloadSettings)) settings_.LoadMailSettings();
    servingTest_ = false;
    std::optional<std::pair<SmtpServer, SmtpMessage>> result;
    if (!flags_.Test(mail_flag::kSendPending)) {
        if (flags_.Test(mail_flag::kTestMail)) result = TestMailStep();
        return result;
    }
    if (settings_.SettingsLoaded() && settings_.ToAddrCount() != 0 && !settings_.RecipientList().empty()) {
        OutgoingMail mail = MailFromSettings(settings_, composer_.BuildAlertMail());
        mail.server.connectTimeoutMs = connectMs_;
        mail.server.transferTimeoutMs = transferMs_;
        result.emplace(std::move(mail.server), std::move(mail.message));
    }
    // Served or dropped: an unsent alert is not kept.
    flags_.Clear(mail_flag::kSendPending);
    return result;
}

}  // namespace kestrel

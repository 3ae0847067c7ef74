#include "notify/mail_delivery.h"

#include <QMetaObject>
#include <QPointer>
#include <algorithm>

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
    : ui_(ui),
      flags_(flags),
      settings_(settings),
      composer_(composer),
      bar_(bar),
      send_(std::move(send)),
      retry_(std::make_unique<QTimer>()) {
    retry_->setSingleShot(true);
    QObject::connect(retry_.get(), &QTimer::timeout, ui_, [this] { Retry(); });
    composer_.Queue().AddListener([this](const MailOutcome& outcome) { Tell(outcome); });
}

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
    // way is cut off at once: closing does not wait for a mail server. Its
    // mail stays queued.
    stopping_ = true;
    cancel_->Cancel();
    thread_.reset();
    retry_->stop();
}

size_t MailDelivery::LoadQueue(const std::string& folder) {
    MailQueue& queue = composer_.Queue();
    queue.SetFolder(folder);
    const size_t loaded = queue.Load();
    if (!queue.Empty()) flags_.Set(mail_flag::kSendPending);
    return loaded;
}

void MailDelivery::Post(std::function<void()> onUi) {
    QMetaObject::invokeMethod(ui_, std::move(onUi), Qt::QueuedConnection);
}

bool MailDelivery::ThreadStep() {
    if (flags_.Value() == 0) return false;
    std::optional<Job> job;
    QMetaObject::invokeMethod(
        ui_, [&] {
            if (!stopping_) job = MailStep();
        },
        Qt::BlockingQueuedConnection);
    if (stopping_) return false;
    if (!job) return true;

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
    job->server.cancel = cancel_.get();
    const SmtpOutcome outcome = send_(job->server, job->message, events);
    if (outcome.cancelled) return false;
    // The server has it: whatever happens next, it is not sent again.
    if (!job->test && outcome.sent) MailQueue::Forget(job->path);
    QMetaObject::invokeMethod(
        ui_, [&] {
            if (!stopping_) Finish(*job, outcome);
        },
        Qt::BlockingQueuedConnection);
    return !stopping_;
}

std::optional<MailDelivery::Job> MailDelivery::MailStep() {
    bar_.SetPanel(2, "Email=" + std::to_string(flags_.Value()));
    if (flags_.Test(mail_flag::kReloadSettings)) {
        settings_.LoadMailSettings();
        // New settings may be the cure: a waiting mail is tried at once.
        if (holding_) {
            retry_->stop();
            holding_ = false;
            if (!composer_.Queue().Empty()) flags_.Set(mail_flag::kSendPending);
        }
    }
    if (flags_.Test(mail_flag::kSendPending) && !holding_) {
        MailQueue& queue = composer_.Queue();
        while (QueuedMail* head = queue.Head()) {
            // Mail that is not set up, or set to "Don't send" since, drops
            // the alert, as it always did.
            const bool setUp =
                settings_.SettingsLoaded() && settings_.ToAddrCount() != 0 && !settings_.RecipientList().empty();
            const bool muted = head->kind >= 1 && head->kind <= 4 && (settings_.EMailSend() & (1u << (head->kind - 1)));
            if (!setUp || muted) {
                queue.DropHead();
                continue;
            }
            OutgoingMail mail = MailFromSettings(settings_, composer_.BuildAlertMail(*head));
            mail.message.date = head->composedAt;
            mail.server.connectTimeoutMs = connectMs_;
            mail.server.transferTimeoutMs = transferMs_;
            return Job{std::move(mail.server), std::move(mail.message), false, head->id, head->path};
        }
    }
    // Nothing due: a waiting mail's pause sets the bit again.
    flags_.Clear(mail_flag::kSendPending);
    if (flags_.Test(mail_flag::kTestMail)) return TestMailStep();
    return std::nullopt;
}

void MailDelivery::Finish(const Job& job, const SmtpOutcome& outcome) {
    if (job.test) {
        FinishTestMail(outcome.sent && outcome.refused.empty(), TestMailResult(outcome));
        return;
    }
    MailQueue& queue = composer_.Queue();
    QueuedMail* head = queue.Head();
    if (!head || head->id != job.id) return;  // no longer queued
    MailOutcome told;
    told.heading = head->heading;
    told.subject = job.message.subject;
    told.about = AlertAbout(head->kind, head->enclosureIndex, head->memberDisk, head->heading);
    told.attempts = ++head->attempts;
    if (outcome.sent) {
        for (const std::string& r : outcome.refused) told.reason += (told.reason.empty() ? "" : ", ") + r;
        told.kind = MailOutcome::Kind::Delivered;
        queue.DropHead();
    } else if (outcome.permanent) {
        told.kind = MailOutcome::Kind::Undelivered;
        told.reason = outcome.error;
        queue.DropHead();
    } else {
        told.kind = MailOutcome::Kind::Delayed;
        told.reason = outcome.error;
        // 1, 2, 4 ... times the first pause, up to the longest.
        long long pause = firstPauseMs_;
        for (int i = 1; i < told.attempts && pause < longestPauseMs_; ++i) pause *= 2;
        told.retryInMs = static_cast<int>(std::min<long long>(pause, longestPauseMs_));
        holding_ = true;
        retry_->start(told.retryInMs);
    }
    told.waiting = queue.Size();
    queue.Tell(told);
}

void MailDelivery::Retry() {
    holding_ = false;
    if (!composer_.Queue().Empty()) flags_.Set(mail_flag::kSendPending);
}

void MailDelivery::Tell(const MailOutcome& outcome) {
    std::string panel;
    std::string line;
    switch (outcome.kind) {
        case MailOutcome::Kind::Queued:
            if (!outcome.reason.empty()) panel = line = outcome.reason;
            break;
        case MailOutcome::Kind::Delivered:
            if (!outcome.reason.empty()) panel = "Mail sent; the server refused " + outcome.reason;
            line = "Alert mail delivered: " + outcome.about +
                   (outcome.reason.empty() ? "" : " (the server refused " + outcome.reason + ")");
            break;
        case MailOutcome::Kind::Delayed: {
            const int seconds = std::max(1, (outcome.retryInMs + 999) / 1000);
            panel = outcome.reason + "; the alert mail is sent again in " + std::to_string(seconds) + " s (" +
                    std::to_string(outcome.waiting) + " waiting)";
            line = "Alert mail not sent: " + panel;
            break;
        }
        case MailOutcome::Kind::Undelivered:
            panel = "Alert mail not delivered: " + outcome.reason;
            line = panel + " (" + outcome.about + ")";
            break;
    }
    if (!panel.empty()) bar_.SetPanel(3, panel);
    if (report_ && !line.empty()) report_(line);
}

void MailDelivery::RequestTestMail(AlertMail text, TestMailDone done) {
    testMail_ = std::move(text);
    testDone_ = std::move(done);
    flags_.Set(mail_flag::kTestMail);
}

std::optional<MailDelivery::Job> MailDelivery::TestMailStep() {
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
    return Job{std::move(mail.server), std::move(mail.message), true, 0, {}};
}

void MailDelivery::FinishTestMail(bool delivered, const std::string& result) {
    bar_.SetPanel(3, result);
    if (listener_) listener_(true, delivered, result);
    if (TestMailDone done = std::exchange(testDone_, {})) done(delivered, result);
}

}  // namespace kestrel

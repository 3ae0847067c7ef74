#pragma once
// Mail delivery. TEmailThread notices pending mail requests and has the
// user-interface thread run the mail step (reload the settings, build the
// alert); the SMTP exchange itself then runs on TEmailThread, so that a slow
// or dead mail server never freezes the window or stops the status polls.
// The client's events are posted back to the user-interface thread in order.
//
// Alert mails go out from the queue, oldest first, one exchange each. A mail
// the server did not take for a passing reason (server down, 4xx, closed
// connection) is tried again after growing pauses, and the mails behind it
// wait, so that they arrive in order; one that cannot be delivered (every
// recipient refused for good, no recipient, required TLS not had) leaves the
// queue. Each outcome reaches panel 3, the report and the listeners.
#include <QObject>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "notify/alert_mail.h"
#include "notify/mail_flags.h"
#include "notify/mail_queue.h"
#include "notify/mail_settings_store.h"
#include "platform/smtp_client.h"
#include "platform/user_interface.h"
#include "platform/worker_thread.h"

namespace kestrel {

// SendState values.
namespace send_state {
inline constexpr uint8_t kConnected = 1;
inline constexpr uint8_t kNotConnected = 2;
inline constexpr uint8_t kTransferring = 16;
inline constexpr uint8_t kTransferred = 17;
}  // namespace send_state

// The login name: "Addr" up to its first '@', or all of it.
std::string LoginName(const std::string& address);

using SmtpSend = std::function<SmtpOutcome(const SmtpServer&, const SmtpMessage&, const SmtpEvents&)>;

class MailDelivery {
public:
    // ui: an object of the user-interface thread that receives the steps and
    // events. send: the exchange (SendSmtp unless a test says otherwise).
    MailDelivery(QObject* ui, MailFlags& flags, MailSettingsStore& settings, AlertComposer& composer, StatusBar& bar,
                 SmtpSend send = SendSmtp);
    ~MailDelivery();
    MailDelivery(const MailDelivery&) = delete;
    MailDelivery& operator=(const MailDelivery&) = delete;

    void Start();  // creates TEmailThread
    // Ends the thread; an exchange under way is cut off at once. Its mail,
    // like every other not yet delivered, stays queued for the next start.
    void Stop();

    // Where the alert mails wait ("" for memory only), and taking up the
    // ones an earlier run left; after the settings' start-up, so that they
    // go out with the settings loaded. Returns how many were taken up.
    size_t LoadQueue(const std::string& folder);
    size_t MailsWaiting() const { return composer_.Queue().Size(); }
    // Hears every outcome of an alert mail, on the user-interface thread.
    void AddAlertMailListener(MailOutcomeListener listener) { composer_.Queue().AddListener(std::move(listener)); }
    // Pauses before a mail the server did not take is tried again: the
    // first, doubled with every try, up to the longest.
    void SetRetryPauses(int firstMs, int longestMs) { firstPauseMs_ = firstMs; longestPauseMs_ = longestMs; }
    // Receives a line for each outcome (the window's standard error; the
    // headless service has status bar panel 3 there already).
    void SetReport(std::function<void(const std::string&)> report) { report_ = std::move(report); }

    // Has TEmailThread send a test mail with the stored settings, once no
    // alert waits. The outcome goes to status bar panel 3 and, on the
    // user-interface thread, to done (true: delivered).
    using TestMailDone = std::function<void(bool delivered, const std::string& result)>;
    void RequestTestMail(AlertMail text, TestMailDone done = {});
    uint8_t SendState() const { return sendState_.load(); }
    // Hears, on the user-interface thread, how each test mail ended.
    using OutcomeListener = std::function<void(bool testMail, bool delivered, const std::string& text)>;
    void SetOutcomeListener(OutcomeListener listener) { listener_ = std::move(listener); }
    // Bounds of one exchange (tests shorten them).
    void SetTimeouts(int connectMs, int transferMs) { connectMs_ = connectMs; transferMs_ = transferMs; }

    // One pass of TEmailThread: the mail step on the user-interface
    // thread, then the exchange here. Returns false when nothing was pending.
    bool ThreadStep();

private:
    class TEmailThread;
    struct Job {
        SmtpServer server;
        SmtpMessage message;
        bool test = false;
        uint64_t id = 0;    // the queued mail's
        std::string path;   // its file
    };
    void Post(std::function<void()> onUi);
    std::optional<Job> MailStep();
    std::optional<Job> TestMailStep();
    void FinishTestMail(bool delivered, const std::string& result);
    void Finish(const Job& job, const SmtpOutcome& outcome);
    void Tell(const MailOutcome& outcome);
    void Retry();

    QObject* ui_;
    MailFlags& flags_;
    MailSettingsStore& settings_;
    AlertComposer& composer_;
    StatusBar& bar_;
    SmtpSend send_;
    std::atomic<uint8_t> sendState_{send_state::kNotConnected};
    int connectMs_ = 10000;
    int transferMs_ = 10000;
    int firstPauseMs_ = 30000;
    int longestPauseMs_ = 15 * 60000;
    std::atomic<bool> stopping_{false};
    std::unique_ptr<SmtpCancel> cancel_ = std::make_unique<SmtpCancel>();
    std::unique_ptr<TEmailThread> thread_;
    std::optional<AlertMail> testMail_;  // user-interface thread
    TestMailDone testDone_;
    OutcomeListener listener_;
    std::function<void(const std::string&)> report_;
    // The head of the queue waits for its next try (user-interface thread).
    bool holding_ = false;
    std::unique_ptr<QTimer> retry_;
};

}  // namespace kestrel

#pragma once
// Mail delivery. TEmailThread notices pending mail requests and has the
// user-interface thread run the mail step (reload the settings, build the
// alert); the SMTP exchange itself then runs on TEmailThread, so that a slow
// or dead mail server never freezes the window or stops the status polls.
// The client's events are posted back to the user-interface thread in order.
#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "notify/alert_mail.h"
#include "notify/mail_flags.h"
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
    // Ends the thread; an exchange under way is cut off at once and its
    // alert dropped.
    void Stop();

    // The mail step, on the user-interface thread; returns the mail to send.
    std::optional<std::pair<SmtpServer, SmtpMessage>> MailStep();
    // Has TEmailThread send a test mail with the stored settings, once no
    // alert waits. The outcome goes to status bar panel 3 and, on the
    // user-interface thread, to done (true: delivered).
    using TestMailDone = std::function<void(bool delivered, const std::string& result)>;
    void RequestTestMail(AlertMail text, TestMailDone done = {});
    uint8_t SendState() const { return sendState_.load(); }
    // Hears, on the user-interface thread, how each exchange ended: a test
    // mail delivered or not, or an alert mail the server did not take.
    using OutcomeListener = std::function<void(bool testMail, bool delivered, const std::string& text)>;
    void SetOutcomeListener(OutcomeListener listener) { listener_ = std::move(listener); }
    // Bounds of one exchange (tests shorten them).
    void SetTimeouts(int connectMs, int transferMs) { connectMs_ = connectMs; transferMs_ = transferMs; }

    // One pass of TEmailThread: the mail step on the user-interface
    // thread, then the exchange here. Returns false when nothing was pending.
    bool ThreadStep();

private:
    class TEmailThread;
    void Post(std::function<void()> onUi);
    std::optional<std::pair<SmtpServer, SmtpMessage>> TestMailStep();
    void FinishTestMail(bool delivered, const std::string& result);

    QObject* ui_;
    MailFlags& flags_;
    MailSettingsStore& settings_;
    AlertComposer& composer_;
    StatusBar& bar_;
    SmtpSend send_;
    std::atomic<uint8_t> sendState_{send_state::kNotConnected};
    int connectMs_ = 10000;
    int transferMs_ = 10000;
    std::atomic<bool> stopping_{false};
    std::unique_ptr<SmtpCancel> cancel_ = std::make_unique<SmtpCancel>();
    std::unique_ptr<TEmailThread> thread_;
    std::optional<AlertMail> testMail_;  // user-interface thread
    TestMailDone testDone_;
    OutcomeListener listener_;
    bool servingTest_ = false;           // set by the mail step, read by the thread after it
};

}  // namespace kestrel

#pragma once
// A second start of the same user's window shows and raises the running
// one: the running window listens on a local socket in the run folder, only
// its user may connect, and the second process asks once and leaves.
#include <QLocalServer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

namespace kestrel {

// The socket of this user's window in a run folder.
std::string WindowSocketPath(const std::string& runFolder);

class WindowRaiseServer {
public:
    // raise runs on the event loop when another start asks.
    WindowRaiseServer(const std::string& socketPath, std::function<void()> raise);
    ~WindowRaiseServer();
    bool Listening() const { return server_.isListening(); }

private:
    QLocalServer server_;
    std::function<void()> raise_;
};

// Brings a window back from minimised or hidden and to the front.
void ShowAndRaise(QWidget& window);

// Asks the running window to raise itself; false when none answers within
// timeoutMs.
bool AskRunningWindowToRaise(const std::string& socketPath, int timeoutMs = 300);

}  // namespace kestrel

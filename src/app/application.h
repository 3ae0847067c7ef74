#pragma once
#include <memory>
#include <string>

#include "platform/product_variant.h"

class QCoreApplication;

namespace kestrel {

class MainModule;
struct DeviceIoChoice;
struct Options;

// The main window as the process entry drives it. The window programs bring
// one (app/window/); the monitor program has none and always runs headless.
class ProgramWindow {
public:
    virtual ~ProgramWindow() = default;
    virtual MainModule& module() = 0;
    // False when start-up failed: the program ends without running.
    virtual bool Started() const = 0;
    virtual void Show() = 0;
    // As the user's close does (it may keep the program in the tray).
    virtual void Close() = 0;
    // From now on a second start of this user's window raises this one.
    virtual void ListenForRaise(const std::string& runFolder) = 0;
};

struct WindowProgram {
    // The application object a window needs, made before the window.
    std::unique_ptr<QCoreApplication> (*makeApplication)(int& argc, char** argv);
    std::unique_ptr<ProgramWindow> (*makeWindow)(const Options& options, ProductVariant variant,
                                                 DeviceIoChoice devices);
    // Asks this user's running window to come to the front; false when none answers.
    bool (*askToRaise)(const std::string& runFolder);
};

// The process entry shared by the executables: refuses a second instance,
// creates the main window (or the headless service) and runs the event loop.
// window is null for the program without one. Returns the process exit
// code: 0, or 2 for a bad command line.
int Run(ProductVariant variant, int argc, char** argv, const WindowProgram* window);

}  // namespace kestrel

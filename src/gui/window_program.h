#pragma once
// The main window as the window programs hand it to the process entry.
#include "app/application.h"

namespace kestrel {

const WindowProgram& MainWindowProgram();

}  // namespace kestrel

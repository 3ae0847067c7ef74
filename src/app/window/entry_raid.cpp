#include "app/window/main_window.h"

int main(int argc, char** argv) {
    return kestrel::Run(kestrel::ProductVariant::Raid, argc, argv, &kestrel::MainWindowProgram());
}

#include "app/window/main_window.h"

int main(int argc, char** argv) {
    return kestrel::Run(kestrel::ProductVariant::Hybrid, argc, argv, &kestrel::MainWindowProgram());
}

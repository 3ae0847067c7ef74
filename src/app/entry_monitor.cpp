#include "app/application.h"

// The RAID monitor without a window: the service, servers, the one-shot
// commands. It links no widget code, so it always runs headless.
int main(int argc, char** argv) { return kestrel::Run(kestrel::ProductVariant::Raid, argc, argv, nullptr); }

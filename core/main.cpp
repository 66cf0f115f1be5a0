#include "core/collector.h"
#include "platform/platform.h"

int main() {
    startCollector();
    platform::runMainLoop();
    return 0;
}

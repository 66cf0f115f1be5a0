#include "core/collector.h"
#include "core/describe.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    // --version and --describe are answered instead of a run; any other
    // argument is ignored.
    if (argc > 1) answerArgument(argv[1]);
    startCollector();
    platform::runMainLoop();
    return 0;
}

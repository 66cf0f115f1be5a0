#include "platform/linux/library.h"

namespace library {

void* open(std::initializer_list<const char*> files) {
    for (const char* file : files) {
        // Lazy binding: only the functions the collector calls are ever
        // resolved. Local: the library's symbols stay out of the way of
        // the next one's (and of the collector's own protocol glue).
        if (void* handle = dlopen(file, RTLD_LAZY | RTLD_LOCAL)) return handle;
    }
    return nullptr;
}

void close(void* handle) {
    if (handle) dlclose(handle);
}

}  // namespace library

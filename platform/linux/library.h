// The window systems' libraries (libxcb and its extensions,
// libwayland-client, libsystemd's sd-bus) are opened at run time, never
// linked: the executable starts on a machine that lacks any of them, and
// only the window systems that need a missing one decline.
//
// Each library has one table of pointers to what the collector calls, filled
// here from the library by name, and a header that maps the library's own
// names onto those pointers with macros: the code that uses a library reads
// as ordinary calls into it. A table is written once as a list of
// S(name in the library, member of the table) and expanded twice: with
// PALVERN_LIBRARY_MEMBER into the table's members, and with
// PALVERN_LIBRARY_FILL into the lookup that fills them.
#pragma once

#include <dlfcn.h>

#include <initializer_list>

namespace library {

// A library opened by one of its file names (sonames, tried in turn); null
// when none opens. Looking for a library that is not there costs a search of
// the loader's folders, so each is looked for once per run.
void* open(std::initializer_list<const char*> files);
void close(void* handle);

// The symbol `name` of an open library into `slot`; false, and `slot` null,
// when the library lacks it (too old a version, say).
template <class T>
bool find(void* handle, const char* name, T& slot) {
    slot = reinterpret_cast<T>(dlsym(handle, name));
    return slot != nullptr;
}

// Opens the library and fills `table` with `fill(handle, table)`: true when
// every symbol was found; else the library is closed again and the table
// left empty.
template <class Table, class Fill>
bool load(std::initializer_list<const char*> files, Table& table, Fill fill) {
    void* handle = open(files);
    if (!handle) return false;
    if (!fill(handle, table)) {
        table = Table{};
        close(handle);
        return false;
    }
    return true;
}

}  // namespace library

#define PALVERN_LIBRARY_MEMBER(symbol, member) decltype(&::symbol) member = nullptr;

// The `fill` for library::load of the table that the list SYMBOLS describes.
#define PALVERN_LIBRARY_FILL(SYMBOLS)             \
    [](void* handle, auto& table) {               \
        bool found = true;                        \
        SYMBOLS(PALVERN_LIBRARY_FIND)             \
        return found;                             \
    }
#define PALVERN_LIBRARY_FIND(symbol, member) found = library::find(handle, #symbol, table.member) && found;

// Libraries opened at run time: a missing library or symbol leaves an empty
// table (and the window system that needs it declines), and the tables of
// the window systems' libraries fill from this machine's copies, so that no
// name in them is misspelt.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/linux/bus_library.h"
#include "platform/linux/library.h"
#include "platform/linux/wayland/client_library.h"
#include "platform/linux/x11/xcb_library.h"

extern "C" int palvern_no_such_function();  // declared, defined nowhere

namespace {

#define LIBC_SYMBOLS(S) \
    S(strlen, length)   \
    S(strcmp, compare)
struct Libc {
    LIBC_SYMBOLS(PALVERN_LIBRARY_MEMBER)
};
const auto fillLibc = PALVERN_LIBRARY_FILL(LIBC_SYMBOLS);

// libc's functions and one it lacks: the whole table goes.
#define TOO_NEW_SYMBOLS(S) \
    S(strlen, length)      \
    S(palvern_no_such_function, missing)
struct TooNew {
    TOO_NEW_SYMBOLS(PALVERN_LIBRARY_MEMBER)
};
const auto fillTooNew = PALVERN_LIBRARY_FILL(TOO_NEW_SYMBOLS);

TEST(Library, FillsTheTableFromTheFirstFileThatOpens) {
    Libc table;
    ASSERT_TRUE(library::load({"/nonexistent/libc.so.6", "libc.so.6"}, table, fillLibc));
    ASSERT_NE(table.length, nullptr);
    EXPECT_EQ(table.length("four"), 4u);
    EXPECT_LT(table.compare("a", "b"), 0);
}

TEST(Library, AMissingLibraryLeavesTheTableEmpty) {
    Libc table;
    EXPECT_FALSE(library::load({"/nonexistent/libxcb.so.1", "libpalvern-nonexistent.so.0"}, table, fillLibc));
    EXPECT_EQ(table.length, nullptr);
    EXPECT_EQ(table.compare, nullptr);
}

TEST(Library, AMissingSymbolLeavesTheTableEmpty) {
    TooNew table;
    EXPECT_FALSE(library::load({"libc.so.6"}, table, fillTooNew));
    EXPECT_EQ(table.length, nullptr);
    EXPECT_EQ(table.missing, nullptr);
}

// Every name in the window systems' tables is in this machine's libraries
// (which the build's -dev packages bring): a misspelt or too new one would
// make its window system decline everywhere.
TEST(Library, WindowSystemsTablesFillFromThisMachinesLibraries) {
    ASSERT_TRUE(x11::loadXcb());
    EXPECT_NE(x11::libxcb.connect, nullptr);
    EXPECT_NE(x11::libxcbScreensaver.id, nullptr);
    EXPECT_NE(x11::libxcbXinput.id, nullptr);
    EXPECT_NE(x11::libxcbRes.id, nullptr);
    ASSERT_TRUE(wayland::loadClient());
    EXPECT_NE(wayland::libwaylandClient.proxy_marshal_flags, nullptr);
    ASSERT_TRUE(bus::loadLibrary());
    EXPECT_NE(bus::libsystemd.open_user, nullptr);
    EXPECT_NE(bus::libsystemd.object_vtable_format, nullptr);
}

}  // namespace

// The POSIX pieces on real descriptors: standard output is swapped for a pipe
// inside this test process.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>

#include "platform/platform.h"

namespace {

// Standard output replaced by the write end of a pipe for one test.
class PipedStdout : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(pipe(fds), 0);
        saved = dup(STDOUT_FILENO);
        ASSERT_EQ(dup2(fds[1], STDOUT_FILENO), STDOUT_FILENO);
        close(fds[1]);
    }
    void TearDown() override {
        dup2(saved, STDOUT_FILENO);
        close(saved);
        if (fds[0] >= 0) close(fds[0]);
    }
    std::string readAll() {
        std::string got;
        char buffer[65536];
        for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) got.append(buffer, n);
        return got;
    }
    int fds[2] = {-1, -1};
    int saved = -1;
};

TEST_F(PipedStdout, NonBlockingFullPipeWaitsForRoomAndLosesNothing) {
    fcntl(STDOUT_FILENO, F_SETFL, fcntl(STDOUT_FILENO, F_GETFL) | O_NONBLOCK);
#ifdef F_SETPIPE_SZ
    fcntl(STDOUT_FILENO, F_SETPIPE_SZ, 4096);
#endif
    std::string line(1 << 20, 'x');
    for (std::size_t i = 0; i < line.size(); i += 4093) line[i] = static_cast<char>('a' + i % 26);
    line.back() = '\n';

    std::thread writer([&] {
        platform::writeStandardOutput(line);
        dup2(saved, STDOUT_FILENO);  // the reader then sees the end
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let the pipe fill
    std::string got = readAll();
    writer.join();
    EXPECT_EQ(got.size(), line.size());
    EXPECT_TRUE(got == line) << "bytes lost or reordered";
}

TEST_F(PipedStdout, ClosedReaderNeitherKillsNorBlocks) {
    close(fds[0]);
    fds[0] = -1;
    platform::writeStandardOutput("{\"event\":\"refresh\"}\n");  // EPIPE: dropped
    SUCCEED();
}

TEST(StandardInput, NonBlockingInputWaitsForDataInsteadOfReportingItsEnd) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    std::thread feeder([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_EQ(write(fds[1], "abc", 3), 3);
        close(fds[1]);
    });
    EXPECT_EQ(platform::availableData({fds[0]}), 3u);
    EXPECT_EQ(platform::availableData({fds[0]}), 0u);
    feeder.join();
    close(fds[0]);
}

}  // namespace

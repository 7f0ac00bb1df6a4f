// The host's log on the real standard output (descriptor 1, redirected
// to a file for the test).
#include "tools/host/log_writer.h"
#include "support/scratch_dir.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace tranpak::test {
namespace {

// Standard output takes the lines gathered since its last write at once:
// every line still comes out whole, once, in the order put, the last ones
// by Finish.
TEST_F(ScratchTest, HostLogOnStandardOutputKeepsEveryLineInOrder)
{
    std::fflush(stdout);
    const int saved = dup(1);
    ASSERT_GE(saved, 0);
    const int file = open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(file, 0);
    ASSERT_EQ(dup2(file, 1), 1);
    close(file);
    std::string expected;
    bool finished = false;
    {
        tools::LogWriter log;
        log.Start();
        for (int i = 0; i < 3000; ++i) {
            const std::string line = "line " + std::to_string(i) + "\n";
            expected += line;
            log.Put(line);
            if (i % 1000 == 999)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        finished = log.Finish(5000);
    }
    dup2(saved, 1);
    close(saved);
    EXPECT_TRUE(finished);
    std::ifstream in("stdout.txt", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), expected);
}

}  // namespace
}  // namespace tranpak::test

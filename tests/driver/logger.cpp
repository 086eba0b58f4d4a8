// vx-test-labels: tsan
// The camera library's logger: one whole line per call in the log file of the
// application data folder, with time, level, source and line, from many threads.
#include "camera/logger.h"
#include "driver/datafolders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string readFrom(const std::string &path, std::streamoff offset)
{
    std::ifstream in(path, std::ios::binary);
    in.seekg(offset);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

TEST(Logger, WholeLinesFromManyThreadsInTheDataFolder)
{
    // CTest gives every test a data folder of its own; run by hand, use one here.
    if (!std::getenv("XDG_DATA_HOME"))
        ::setenv("XDG_DATA_HOME", ::testing::TempDir().c_str(), 1);
    vexadin::Logger &log = vexadin::Logger::Instance();
    const std::string path = log.logFilePath();
    ASSERT_EQ(path, vexadin::applicationDataFolder() + "/vexadin.log");
    std::ifstream before(path, std::ios::binary | std::ios::ate);
    const std::streamoff start = before.tellg();

    constexpr int kThreads = 4, kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&log, t] {
            for (int i = 0; i < kLines; ++i)
                log.log_(vexadin::LOG_INFO, "Utility\\vxfilerecorder", 52, "thread %d line %d of %s", t, i,
                         "a message long enough to interleave if writes were not serialised");
        });
    for (std::thread &t : threads)
        t.join();
    log.log_(vexadin::LOG_WARNING, "driver/x.cpp", 7, "two\nlines become %s", "one");

    const std::string text = readFrom(path, start);
    const std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} INFO Utility\\vxfilerecorder:52: )"
                          R"(thread (\d) line (\d+) of a message long enough to interleave if writes were not serialised)");
    std::set<std::pair<int, int>> seen;
    size_t pos = 0, lines = 0;
    std::string last;
    while (pos < text.size()) {
        const size_t end = text.find('\n', pos);
        ASSERT_NE(end, std::string::npos);
        const std::string l = text.substr(pos, end - pos);
        pos = end + 1;
        ++lines;
        std::smatch m;
        if (std::regex_match(l, m, line))
            seen.emplace(std::stoi(m[1]), std::stoi(m[2]));
        last = l;
    }
    EXPECT_EQ(seen.size(), size_t(kThreads * kLines));
    EXPECT_EQ(lines, size_t(kThreads * kLines + 1));
    EXPECT_NE(last.find(" WARNING driver/x.cpp:7: two lines become one"), std::string::npos) << last;
}

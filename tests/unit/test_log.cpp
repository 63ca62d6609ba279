#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "base/app_state.h"
#include "base/headless_ui.h"
#include "base/log.h"

namespace {

struct LogTest : ::testing::Test {
    void SetUp() override
    {
        headless_ui_install();
        headless_ui_clear();
        app.log_enabled = 1;
    }
    void TearDown() override { app.log_enabled = 1; }
};

}  // namespace

TEST_F(LogTest, WritesTheFormattedTextWithItsTag)
{
    log_message(err_text, "Ошибка %d: %s\n", 7, "нет связи");
    log_message(norm_text, "Подключение к контроллеру");
    log_message(norm_text, ".");
    EXPECT_EQ(headless_log_tagged(), "[err_text]Ошибка 7: нет связи\n[norm_text]Подключение к контроллеру[norm_text].");
}

TEST_F(LogTest, WritesNothingOnceClosingHasBegun)
{
    app.log_enabled = 0;
    log_message(norm_text, "after close\n");
    uint8_t b[3] = {1, 2, 3};
    log_hex_dump(send_text, b, 3);
    EXPECT_EQ(headless_log(), "");
}

TEST_F(LogTest, HexDumpIsOneLineOfUpperCaseBytes)
{
    const uint8_t frame[] = {0x00, 0x0A, 0xFF, 0x1a};
    log_hex_dump(send_text, frame, 4);
    log_hex_dump(recv_text, frame, 0);
    EXPECT_EQ(headless_log_tagged(), "[send_text]00 0A FF 1A \n[recv_text]\n");
}

TEST_F(LogTest, WorkerThreadsLogUnderTheLockWithoutLosingLines)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) {
                GdkLock lock;
                log_message(norm_text, "%d:%d\n", t, i);
            }
        });
    for (auto& th : threads)
        th.join();
    std::string log = headless_log();
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 800);
    EXPECT_NE(log.find("3:199\n"), std::string::npos);
}

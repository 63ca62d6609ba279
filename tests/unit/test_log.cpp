#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "base/activity.h"
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

TEST_F(LogTest, WorkerThreadsLogWithoutAnyLockAndLoseNoLineNorItsOrder)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i)
                log_message(norm_text, "%d:%d\n", t, i);
        });
    for (auto& th : threads)
        th.join();
    std::string log = headless_log();
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 800);
    for (int t = 0; t < 4; ++t) {
        size_t at = 0;
        for (int i = 0; i < 200; ++i) {
            size_t next = log.find(std::to_string(t) + ":" + std::to_string(i) + "\n", at);
            ASSERT_NE(next, std::string::npos) << t << ":" << i;
            at = next;
        }
    }
}

TEST_F(LogTest, FrameDumpsAndLinesOfEveryThreadShowInTheOrderTheyHappened)
{
    const uint8_t sent[] = {0x01, 0x04}, received[] = {0x01, 0x84, 0x02};
    std::thread worker([&] {
        activity_frame(send_text, sent, 2);
        log_message(err_text, "Исключение\n");
        activity_frame(recv_text, received, 3);
    });
    worker.join();
    {
        // The window's own line comes after what was queued before it.
        GdkLock lock;
        log_message(norm_text, "Отключен\n");
    }
    EXPECT_EQ(headless_log_tagged(),
              "[send_text]01 04 \n[err_text]Исключение\n[recv_text]01 84 02 \n[norm_text]Отключен\n");
}

TEST_F(LogTest, AWorkersTaskWaitsForTheWindowButTheWorkerNeverDoes)
{
    std::vector<int> shown;
    {
        GdkLock lock;   // a handler is running
        std::thread worker([&] { run_on_gui([&] { shown.push_back(1); }); });
        worker.join();   // the worker has gone on without the window
        EXPECT_TRUE(shown.empty());
        run_on_gui([&] { shown.push_back(0); });   // the window's own: at once
        EXPECT_EQ(shown, std::vector<int>{0});
    }
    EXPECT_EQ(shown, (std::vector<int>{0, 1}));
    // With the window idle a worker's task runs at once.
    std::thread worker([&] { run_on_gui([&] { shown.push_back(2); }); });
    worker.join();
    EXPECT_EQ(shown, (std::vector<int>{0, 1, 2}));
}

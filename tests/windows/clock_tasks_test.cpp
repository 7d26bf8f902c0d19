// The clock tasks, run on their own threads, as seen through the panes of a real status bar.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "app/app_shell.h"
#include "app/clock_tasks.h"
#include "app/start_task.h"
#include "fake_time_server.h"
#include "time/time_client.h"
#include "time/time_fetch.h"

namespace {

struct PaneChange {
    ULONGLONG atMs;
    int pane;
    std::string text;
};

class ClockTasksTest : public ::testing::Test {
protected:
    void SetUp() override {
        window_ = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 400, 100, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(window_, nullptr);
        g_appShell.CreateStatusBar(window_);
        statusBar_ = FindWindowExA(window_, nullptr, STATUSCLASSNAMEA, nullptr);
        ASSERT_NE(statusBar_, nullptr);
        for (int pane = 0; pane < 3; ++pane)
            last_[pane] = Pane(pane);
    }
    void TearDown() override { DestroyWindow(window_); }

    std::string Pane(int pane) {
        char text[256] = {};
        SendMessageA(statusBar_, SB_GETTEXTA, pane, reinterpret_cast<LPARAM>(text));
        return text;
    }

    // Pumps messages (the tasks' pane writes wait for this thread) and records every change of a pane.
    void Watch(DWORD milliseconds, const char *untilPane0 = nullptr) {
        const ULONGLONG end = GetTickCount64() + milliseconds;
        while (GetTickCount64() < end) {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&message);
            for (int pane = 0; pane < 3; ++pane) {
                const std::string text = Pane(pane);
                if (text != last_[pane]) {
                    changes_.push_back({GetTickCount64() - start_, pane, text});
                    last_[pane] = text;
                }
            }
            if (untilPane0 && last_[0] == untilPane0)
                return;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
    }

    const PaneChange *FindChange(int pane, const std::string &text) const {
        for (const PaneChange &change : changes_)
            if (change.pane == pane && change.text == text)
                return &change;
        return nullptr;
    }

    HWND window_ = nullptr;
    HWND statusBar_ = nullptr;
    ULONGLONG start_ = GetTickCount64();
    std::string last_[3];
    std::vector<PaneChange> changes_;
};

} // namespace

TEST_F(ClockTasksTest, StatusBarStartsWithTheWelcome) {
    EXPECT_EQ(Pane(0), "欢迎使用!");
    EXPECT_EQ(Pane(1), "");
    EXPECT_EQ(Pane(2), "");
}

TEST_F(ClockTasksTest, StartupCheckShowsProgressThenTheReport) {
    FakeTimeServer first;
    ASSERT_TRUE(first.Start("127.0.0.11", ServerBehaviour::Answer));
    first.SetOffset(-5);
    StartTask(StartupCheckTask, nullptr);
    Watch(4000);
    ASSERT_GE(changes_.size(), 2u);
    EXPECT_EQ(changes_[0].text, "正在连接时间服务器......");
    EXPECT_EQ(changes_.back().pane, 2);
    EXPECT_EQ(changes_.back().text, "本机时间快了0年0月0日0时0分5秒");
}

TEST_F(ClockTasksTest, StartupCheckReportsNoServer) {
    StartTask(StartupCheckTask, nullptr);
    Watch(kSntpWaitMs + 2000);
    EXPECT_EQ(Pane(2), "连接时间服务器失败,请检查网络!");
    EXPECT_EQ(Pane(0), "欢迎使用!");
}

TEST_F(ClockTasksTest, ManualSyncShowsProgressAndOutcome) {
    StartTask(ManualSyncTask, nullptr);
    Watch(kSntpWaitMs + 2000, "更新本机时间失败!");
    ASSERT_NE(FindChange(0, "更新本机时间..."), nullptr);
    EXPECT_EQ(Pane(0), "更新本机时间失败!");

    FakeTimeServer third;
    ASSERT_TRUE(third.Start("127.0.0.13", ServerBehaviour::Answer));
    third.SetOffset(0);
    StartTask(ManualSyncTask, nullptr);
    Watch(4000, "成功更新本机时间");
    EXPECT_EQ(Pane(0), "成功更新本机时间");
    Watch(200);
    EXPECT_EQ(Pane(2), "时间准确");
}

TEST_F(ClockTasksTest, AutoSyncReportsFailureOnlyAfterItsSingleRetry) {
    static const AutoSyncDelays delays = {300, 1500};
    FakeTimeServer third;
    ASSERT_TRUE(third.Start("127.0.0.13", ServerBehaviour::Close));
    StartTask(AutoSyncTask, const_cast<AutoSyncDelays *>(&delays));
    Watch(2 * kSntpWaitMs + 4000, "更新本机时间失败!");
    const PaneChange *progress = FindChange(0, "更新本机时间...");
    const PaneChange *failure = FindChange(0, "更新本机时间失败!");
    ASSERT_NE(progress, nullptr);
    ASSERT_NE(failure, nullptr);
    EXPECT_GE(failure->atMs - progress->atMs, 1700u) << "both waits come before the failure text";
    EXPECT_EQ(third.Connections(), 2) << "one attempt and one retry";
}

TEST_F(ClockTasksTest, AutoSyncSucceedsOnTheRetry) {
    static const AutoSyncDelays delays = {200, 1500};
    StartTask(AutoSyncTask, const_cast<AutoSyncDelays *>(&delays));
    // Port 37 is asked once SNTP has had its second.
    Watch(kSntpFirstMs + 600);
    EXPECT_EQ(Pane(0), "更新本机时间...") << "the first attempt failed silently";
    FakeTimeServer third;
    ASSERT_TRUE(third.Start("127.0.0.13", ServerBehaviour::Answer));
    third.SetOffset(0);
    Watch(kSntpWaitMs + 4000, "成功更新本机时间");
    EXPECT_EQ(Pane(0), "成功更新本机时间");
    Watch(200);
    EXPECT_EQ(Pane(2), "时间准确");
    EXPECT_EQ(FindChange(0, "更新本机时间失败!"), nullptr);
    EXPECT_EQ(third.Connections(), 1);
}

TEST_F(ClockTasksTest, AResumeDuringTheFirstAttemptBringsTheRetryForward) {
    static const AutoSyncDelays delays = {100, 60000};
    FakeTimeServer third;
    ASSERT_TRUE(third.Start("127.0.0.13", ServerBehaviour::Silent));
    ScheduleResyncEvery(3600000, &delays);
    ASSERT_TRUE(StartAutoSync(&delays));
    Watch(800); // into the attempt, which the silent server holds to its bound
    ResyncAfterResume();
    Watch(2 * kSntpWaitMs + 6000, "更新本机时间失败!");
    EXPECT_EQ(Pane(0), "更新本机时间失败!") << "the retry came a first delay after the attempt, not a minute later";
    ScheduleResyncEvery(0);
}

TEST_F(ClockTasksTest, TheDailySetKeepsItsCountdownAndAResumeBringsTheRetryForward) {
    static const AutoSyncDelays delays = {100, 60000};
    FakeTimeServer third;
    ASSERT_TRUE(third.Start("127.0.0.13", ServerBehaviour::Answer));
    third.SetOffset(0);
    ScheduleResyncEvery(1500, &delays);
    for (int tick = 0; tick < 10; ++tick) {
        Watch(100);
        ScheduleResyncEvery(1500, &delays); // a save that changes nothing
        ResyncIfDue();
    }
    EXPECT_EQ(FindChange(0, "更新本机时间..."), nullptr) << "not before its period";
    for (int tick = 0; tick < 40 && FindChange(0, "更新本机时间...") == nullptr; ++tick) {
        Watch(100);
        ResyncIfDue();
    }
    ASSERT_NE(FindChange(0, "更新本机时间..."), nullptr);
    EXPECT_LT(FindChange(0, "更新本机时间...")->atMs, 2200u) << "counted from the first schedule, not the last save";
    Watch(4000, "成功更新本机时间");
    EXPECT_EQ(third.Connections(), 1);

    // The next set fails and waits a minute for its retry, until Windows resumes.
    third.Stop();
    ScheduleResyncEvery(100, &delays);
    Watch(200);
    ResyncIfDue();
    Watch(kSntpFirstMs + 1000);
    ASSERT_TRUE(third.Start("127.0.0.13", ServerBehaviour::Answer));
    ResyncAfterResume();
    // The failed attempt ends with its SNTP wait; the retry then follows at once instead of a minute later.
    Watch(kSntpWaitMs + 3000, "成功更新本机时间");
    EXPECT_EQ(Pane(0), "成功更新本机时间");
    EXPECT_EQ(third.Connections(), 2) << "the retry came after the resume";
    ScheduleResyncEvery(0);
}

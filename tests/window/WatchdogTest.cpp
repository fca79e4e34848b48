#include "WindowFixture.h"

#include <QLabel>

TEST_F(WindowTest, WatchdogCountsOnlyWhileADownloadIsActive) {
    TBackupEngine& job = form->Engine();
    for (int tick = 0; tick < 40; ++tick)
        form->Timer1Timer();
    EXPECT_EQ(job.StallCounter, 0);
    EXPECT_EQ(form->cancelTransfers, 0);

    job.DownloadActive = true;
    for (int tick = 0; tick < 30; ++tick)
        form->Timer1Timer();
    EXPECT_EQ(job.StallCounter, 30);
    EXPECT_EQ(form->cancelTransfers, 0) << "30 silent seconds are still allowed";
    form->Timer1Timer();
    EXPECT_EQ(form->cancelTransfers, 1);
    // Without a status event to reset the count, every further tick cancels again.
    form->Timer1Timer();
    EXPECT_EQ(form->cancelTransfers, 2);
}

// A count left high by a long FTP transfer must not cancel anything once no download is active.
TEST_F(WindowTest, WatchdogLeavesTransfersAloneWhenNoDownloadIsActive) {
    TBackupEngine& job = form->Engine();
    job.StallCounter = 45;
    job.DownloadActive = false;
    form->Timer1Timer();
    EXPECT_EQ(job.StallCounter, 45);
    EXPECT_EQ(form->cancelTransfers, 0);
}

TEST_F(WindowTest, ClockShowsTheTimeFromTheStartAndTicksEverySecond) {
    EXPECT_FALSE(form->Label10->text().isEmpty());
    form->Label10->clear();
    ShowActive();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form->Label10->text().isEmpty(); }, 2500));
}

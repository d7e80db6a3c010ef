// SPDX-License-Identifier: GPL-3.0-or-later
// The one way out: capture ends and everything it took is stored before the final save, however
// slow that save is, and nothing is taken after it.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/Folders.h"
#include "platform/sensors/Accelerometer.h"
#include "platform/store/SessionReader.h"
#include "recording/Recorder.h"
#include "recording/Shutdown.h"
#include "recording/StoreKeeper.h"
#include "support/TempHome.h"

namespace {

// Counts its reads in x.
class CountingSource : public sensors::AccelerometerSource {
public:
    bool read(sensors::Acceleration& out, std::string&) override
    {
        out = {double(++reads), 0, -1};
        return true;
    }
    std::string description() const override { return "counting source"; }
    std::atomic<int> reads{0};
};

} // namespace

TEST(Shutdown, NoReadingTakenBeforeTheEndIsMissingHoweverSlowTheFinalSave)
{
    TempHome home;
    sensors::Accelerometer accelerometer;
    auto owned = std::make_unique<CountingSource>();
    CountingSource* source = owned.get();
    accelerometer.setSource(std::move(owned));
    StoreKeeper keeper;
    store::StoreError error;
    ASSERT_TRUE(keeper.open(platform::storePath(), error)) << error.describe();
    BaseModel root = keeper.loadRoot();
    root.options().setFramerate(200);
    Recorder recorder(root, accelerometer);
    recorder.start();
    QEventLoop loop;
    QTimer::singleShot(300, &loop, &QEventLoop::quit);
    loop.exec();

    // Another connection holds the store's write lock: the final save waits for it.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(platform::storePath().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    std::thread release([other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    });
    const bool saved = shutDown(recorder, keeper, nullptr, error);
    release.join();
    sqlite3_close(other);
    ASSERT_TRUE(saved) << error.describe();
    EXPECT_FALSE(recorder.isRecording());
    const int read = source->reads.load();
    EXPECT_GE(read, 40);

    // Every reading the source gave, in the file, in order; nothing is read after the end.
    store::SessionReader reader;
    ASSERT_TRUE(reader.open(platform::storePath(), error));
    int stored = 0;
    ASSERT_TRUE(reader.forEach(
        root.options().activeSession().objectId(), 0, 0,
        [&](const store::SampleValues& v) {
            EXPECT_EQ(v.x, float(++stored));
            return true;
        },
        error));
    EXPECT_EQ(stored, read);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(source->reads.load(), read);
}

#pragma once
// What recording is, apart from any screen: whether it runs, a tare waiting for its reading, the
// tare arithmetic, one stored sample per reading, and the view buffer with its trims. The main
// screen forwards readings here and draws what comes out; `quivra record` uses it with no screen.
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "BaseModel.h"
#include "Options.h"
#include "ViewRow.h"
#include "platform/sensors/Accelerometer.h"

class Recorder : public sensors::AccelerometerDelegate {
public:
    enum class State { stopped, recording };
    // What a reading became.
    enum class Outcome { sample, tare, dropped };

    // Seconds between readings for a rate: 1/rate divided in single precision.
    static double updateIntervalForFramerate(float framerate) { return double(1.0f / framerate); }
    static constexpr double tareUpdateInterval = double(0.01f);

    Recorder(BaseModel root, sensors::Accelerometer* accelerometer);
    ~Recorder() override;
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Who the accelerometer hands its readings to while this recorder uses it: the screen's
    // controller, which forwards them to handle(); by default the recorder itself.
    void setReceiver(sensors::AccelerometerDelegate* receiver) { receiver_ = receiver ? receiver : this; }

    bool isRecording() const { return state_ == State::recording; }
    // A tare is pending: the next reading becomes the zero point, recording or not.
    bool isTarePending() const { return tarePending_; }
    sensors::Accelerometer* accelerometer() const { return accelerometer_; }

    // Starting applies the stored rate; stopping lets go of the accelerometer. Neither touches the
    // view buffer, the session or a pending tare.
    void start();
    void stop();
    void requestTare();
    // The stored rate changed: while recording it applies at once.
    void applyFramerate();

    // One reading: the tare while one is pending, else a sample of the active session (a session
    // is made active first if none is: a reading never goes into no session).
    Outcome handle(sensors::Accelerometer* accelerometer, const sensors::Acceleration& reading);
    void accelerometerDidAccelerate(sensors::Accelerometer* accelerometer,
                                    const sensors::Acceleration& reading) override
    {
        handle(accelerometer, reading);
    }

    // The view buffer: the newest rows that fit the trace view's width.
    const SharedViewBuffer& viewBuffer() const { return viewBuffer_; }
    void setViewBuffer(SharedViewBuffer buffer) { viewBuffer_ = std::move(buffer); }
    void setTraceWidth(float width) { traceWidth_ = width; }
    // Rebuilt from the active session's stored samples, only the rows that survive the trim read.
    void rebuildViewBuffer();
    void installEmptyViewBuffer();

    // The active session's sample count, stored and unsaved.
    std::int64_t activeSampleCount() const;
    // The trace scrolls at most this many rows a second; faster readings share rows.
    static constexpr int fastestRowRate = 200;
    // Readings per view row at the stored rate: 1 up to 200 a second, more above.
    int readingsPerRow() const { return readingsPerRow_; }
    // What the grid scrolls by: the session's samples, in rows.
    std::uint64_t gridCount() const { return std::uint64_t(activeSampleCount()) / std::uint64_t(readingsPerRow_); }

    // Told of every sample as it is stored (the live analysis, publishing), on the window's
    // thread. The returned key takes it off again.
    using SampleListener = std::function<void(const store::SampleValues&)>;
    int addSampleListener(SampleListener listener);
    void removeSampleListener(int key);
    // Readings whose difference from the tare had no single-precision value.
    std::uint64_t droppedReadings() const { return dropped_; }

private:
    void takeTare(const sensors::Acceleration& reading);
    void useRecordingRate();
    void appendRow(const ViewRow& row);
    void followRate();

    BaseModel root_;
    Options options_;
    sensors::Accelerometer* accelerometer_;
    sensors::AccelerometerDelegate* receiver_ = this;
    State state_ = State::stopped;
    bool tarePending_ = false;
    SharedViewBuffer viewBuffer_ = std::make_shared<ViewBuffer>();
    float traceWidth_ = 0.0f;
    int readingsPerRow_ = 1;
    ViewRow column_;   // the row being filled, above 200 readings a second
    int columnCount_ = 0;
    std::uint64_t dropped_ = 0;
    std::vector<std::pair<int, SampleListener>> listeners_;
    int nextListener_ = 1;
};

#include "Recorder.h"

#include <algorithm>

#include "Session.h"
#include "TraceGeometry.h"
#include "platform/Log.h"

namespace {

// An envelope row takes in one more reading.
void widen(ViewRow& row, const std::array<float, 3>& v)
{
    for (std::size_t a = 0; a < 3; ++a) {
        row.low[a] = std::min(row.low[a], v[a]);
        row.high[a] = std::max(row.high[a], v[a]);
    }
}

} // namespace

Recorder::Recorder(BaseModel root, sensors::Accelerometer* accelerometer)
    : root_(root), options_(root.options()), accelerometer_(accelerometer)
{
    followRate();
}

void Recorder::followRate()
{
    const int rate = std::max(1, int(options_.framerate()));
    const int perRow = (rate + fastestRowRate - 1) / fastestRowRate;
    if (perRow != readingsPerRow_) columnCount_ = 0; // a row is never made of two paces
    readingsPerRow_ = perRow;
}

Recorder::~Recorder()
{
    if (accelerometer_ && accelerometer_->delegate() == receiver_) accelerometer_->setDelegate(nullptr);
}

void Recorder::useRecordingRate()
{
    followRate();
    accelerometer_->setDelegate(receiver_);
    accelerometer_->setUpdateInterval(updateIntervalForFramerate(float(options_.framerate())));
}

// Each change of state first handles what was captured before it, under the state it was
// captured in: a tare never takes a reading older than its request.
void Recorder::start()
{
    accelerometer_->deliverPending();
    if (state_ == State::recording) return;
    state_ = State::recording;
    useRecordingRate();
}

void Recorder::stop()
{
    accelerometer_->deliverPending();
    if (state_ == State::stopped) return;
    state_ = State::stopped;
    accelerometer_->setDelegate(nullptr);
}

void Recorder::requestTare()
{
    // The recording state is not consulted: while recording, the tare's pace replaces the
    // sampling pace until the tare is taken.
    accelerometer_->deliverPending();
    tarePending_ = true;
    accelerometer_->setDelegate(receiver_);
    accelerometer_->setUpdateInterval(tareUpdateInterval);
}

void Recorder::applyFramerate()
{
    accelerometer_->deliverPending();
    followRate();
    if (state_ == State::recording)
        accelerometer_->setUpdateInterval(updateIntervalForFramerate(float(options_.framerate())));
}

Recorder::Outcome Recorder::handle(sensors::Accelerometer* accelerometer, const sensors::Acceleration& a)
{
    if (tarePending_ && accelerometer != nullptr && accelerometer == accelerometer_) {
        takeTare(a);
        return Outcome::tare;
    }
    // The tare is read again for every axis of every reading, so a new tare applies at once.
    const double dx = a.x - double(options_.tareX());
    const double dy = a.y - double(options_.tareY());
    const double dz = a.z - double(options_.tareZ());
    // A difference beyond float range has no single-precision value to store.
    if (!sensors::Accelerometer::isUsable({dx, dy, dz, 0})) {
        if (dropped_++ == 0) platform::log("a reading less the tare is out of range: dropped, further ones are counted");
        return Outcome::dropped;
    }
    const float x = float(dx), y = float(dy), z = float(dz);
    // When the active session was just deleted, the session the deletion's follow-up will choose
    // is chosen now and takes the reading.
    Session active = options_.activeSession();
    if (!active) active = root_.ensureActiveSession();
    const platform::Micros taken = a.timestamp != 0 ? a.timestamp : platform::Clock::now();
    store::ObjectId id = 0;
    if (store::ObjectContext* context = root_.managedObjectContext())
        id = context->insertSample(taken, x, y, z, active.objectId());
    for (const auto& [key, listener] : listeners_) listener(store::SampleValues{id, taken, x, y, z, active.objectId()});

    if (readingsPerRow_ == 1) {
        appendRow(ViewRow{x, y, z});
        return Outcome::sample;
    }
    const std::array<float, 3> v{x, y, z};
    if (columnCount_ == 0) {
        column_ = ViewRow{};
        column_.envelope = true;
        column_.low = column_.high = v;
    }
    widen(column_, v);
    column_.x = x;
    column_.y = y;
    column_.z = z;
    if (++columnCount_ == readingsPerRow_) {
        appendRow(column_);
        columnCount_ = 0;
    }
    return Outcome::sample;
}

void Recorder::appendRow(const ViewRow& row)
{
    viewBuffer_->push_back(row);
    if (trace::trimsOldestRow(viewBuffer_->size(), traceWidth_)) viewBuffer_->pop_front();
}

void Recorder::takeTare(const sensors::Acceleration& a)
{
    platform::log("tare");
    // The raw reading is stored, not its difference from the previous tare.
    options_.setTareX(float(a.x));
    options_.setTareY(float(a.y));
    options_.setTareZ(float(a.z));
    accelerometer_->setDelegate(nullptr);
    tarePending_ = false;
    if (state_ == State::recording) {
        platform::log("tare during sampling");
        useRecordingRate();
    }
}

void Recorder::rebuildViewBuffer()
{
    followRate();
    columnCount_ = 0;
    Session active = options_.activeSession();
    const std::size_t perRow = std::size_t(readingsPerRow_);
    const std::size_t count = std::size_t(active.gData().count()) / perRow;
    const std::size_t kept = trace::rowsKeptByRebuild(count, traceWidth_);
    auto buffer = std::make_shared<ViewBuffer>();
    const auto samples = active.gData().newest(kept * perRow);
    for (std::size_t first = 0; first + perRow <= samples.size(); first += perRow) {
        const store::SampleValues& last = samples[first + perRow - 1];
        ViewRow row{last.x, last.y, last.z};
        if (perRow > 1) {
            row.envelope = true;
            row.low = row.high = {last.x, last.y, last.z};
            for (std::size_t i = first; i < first + perRow; ++i) widen(row, {samples[i].x, samples[i].y, samples[i].z});
        }
        buffer->push_back(row);
    }
    viewBuffer_ = buffer;
}

void Recorder::installEmptyViewBuffer()
{
    viewBuffer_ = std::make_shared<ViewBuffer>();
}

std::int64_t Recorder::activeSampleCount() const
{
    return options_.activeSession().gData().count();
}

int Recorder::addSampleListener(SampleListener listener)
{
    listeners_.emplace_back(nextListener_, std::move(listener));
    return nextListener_++;
}

void Recorder::removeSampleListener(int key)
{
    std::erase_if(listeners_, [key](const auto& entry) { return entry.first == key; });
}

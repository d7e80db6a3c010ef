#include "SessionAnalysis.h"

#include <memory>
#include <optional>
#include <vector>

#include "analysis/Samples.h"
#include "analysis/StreamAnalyser.h"

SessionAnalysis::SessionAnalysis(Request request, QObject* parent) : QObject(parent), request_(std::move(request)) {}

SessionAnalysis::~SessionAnalysis()
{
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

void SessionAnalysis::start()
{
    thread_ = std::jthread([this] {
        auto result = std::make_shared<analysis::Result>();
        std::string message;
        const bool ok = analyse(request_, *result, message, &stop_);
        if (stop_) return;
        QMetaObject::invokeMethod(
            this, [this, ok, result, text = QString::fromStdString(message)] { emit finished(ok, *result, text); },
            Qt::QueuedConnection);
    });
}

bool SessionAnalysis::analyse(const Request& request, analysis::Result& result, std::string& message,
                              const std::atomic<bool>* stop)
{
    store::SessionReader reader;
    store::StoreError error;
    if (!reader.open(request.storePath, error)) {
        message = "cannot read the store: " + error.describe();
        return false;
    }
    // The true rate comes from the time stamps of the first samples, so the first ones wait.
    constexpr std::size_t kRateSamples = 4096;
    std::vector<analysis::Sample> first;
    first.reserve(kRateSamples);
    std::optional<analysis::StreamAnalyser> analyser;
    auto begin = [&] {
        double rate = first.size() >= 2 ? analysis::estimateSampleRate(std::span<const analysis::Sample>(first)) : 0.0;
        if (!(rate > 0)) rate = 1.0;
        analyser.emplace(request.options.settings, rate);
        analyser->add(std::span<const analysis::Sample>(first));
    };
    const bool read = reader.forEach(
        request.snapshot,
        [&](const store::SampleValues& v) {
            if (stop && stop->load(std::memory_order_relaxed)) return false;
            if (v.dateStamp < request.from) return true;
            if (analyser) {
                analyser->add(v.dateStamp, v.x, v.y, v.z);
            } else {
                first.push_back(analysis::Sample{v.dateStamp, v.x, v.y, v.z});
                if (first.size() == kRateSamples) begin();
            }
            return true;
        },
        error);
    if (!read) {
        message = "cannot read the session from the store: " + error.describe();
        return false;
    }
    if (!analyser) begin();
    result = analyser->result();
    return true;
}

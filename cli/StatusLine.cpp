// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/StatusLine.h"

#include <unistd.h>

#include <charconv>
#include <cstdio>

#include "cli/Times.h"
#include "platform/Log.h"

namespace {

constexpr int kTerminalEveryMs = 250;
constexpr int kLogEveryMs = 60000;
constexpr qint64 kRateOverMs = 2000;

void writeErr(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

} // namespace

StatusLine::StatusLine(bool terminal, std::function<Figures()> figures, QObject* parent)
    : QObject(parent), terminal_(terminal), figures_(std::move(figures))
{
    connect(&timer_, &QTimer::timeout, this, &StatusLine::update);
    if (terminal_) platform::setLogSink([this](std::string_view message) { writeLog(message); });
}

StatusLine::~StatusLine()
{
    finish();
    if (terminal_) platform::setLogSink({});
}

void StatusLine::start()
{
    elapsed_.start();
    history_.assign(1, {0, figures_().samples});
    timer_.start(terminal_ ? kTerminalEveryMs : kLogEveryMs);
}

void StatusLine::update()
{
    const Figures now = figures_();
    const qint64 ms = elapsed_.elapsed();
    history_.emplace_back(ms, now.samples);
    while (history_.size() > 2 && ms - history_[1].first >= kRateOverMs) history_.pop_front();
    const auto& [fromMs, fromSamples] = history_.front();
    const double rate = ms > fromMs ? double(now.samples - fromSamples) * 1000.0 / double(ms - fromMs) : 0.0;
    char rateText[32];
    // Not printf: the user's locale might write a comma.
    *std::to_chars(rateText, rateText + 31, rate, std::chars_format::fixed, 1).ptr = '\0';
    const std::string text = cli::durationText(ms * 1000) + ", " + cli::grouped(now.samples) + " samples, " + rateText
                             + " a second, " + cli::grouped(static_cast<long long>(now.dropped)) + " dropped"
                             + (now.warning.empty() ? std::string() : "; off rate: " + now.warning);
    if (!terminal_) {
        platform::log("recording: " + text);
        return;
    }
    std::lock_guard lock(lock_);
    shown_ = "recording: " + text;
    writeErr("\r" + shown_ + "\033[K");
}

void StatusLine::writeLog(std::string_view message)
{
    std::lock_guard lock(lock_);
    std::string out = "\r\033[K" + platform::logLine(message, platform::Clock::systemNow(), long(::getpid())) + "\n";
    writeErr(out + shown_);
}

void StatusLine::finish()
{
    if (finished_) return;
    finished_ = true;
    timer_.stop();
    if (!terminal_) return;
    std::lock_guard lock(lock_);
    if (!shown_.empty()) writeErr("\r\033[K");
    shown_.clear();
}

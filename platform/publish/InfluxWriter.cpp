// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/publish/InfluxWriter.h"

#include <algorithm>
#include <mutex>
#include <random>
#include <vector>

#include <curl/curl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>

#include "platform/Log.h"
#include "platform/publish/Outbox.h"

namespace publish {

namespace {

using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

milliseconds until(SteadyClock::time_point when)
{
    return std::max(milliseconds(0), std::chrono::ceil<milliseconds>(when - SteadyClock::now()));
}

// InfluxDB says why in a JSON object: {"error":"..."}; the text is short enough to log whole.
std::string shortened(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (text.size() > 200) text = text.substr(0, 200) + "...";
    return text;
}

} // namespace

// One libcurl handle, kept for the connection it keeps alive between requests; used on the
// writing thread only.
class InfluxWriter::Request {
public:
    enum class Outcome { Written, Refused, Failed };

    explicit Request(const InfluxOptions& options) : curl_(curl_easy_init())
    {
        url_ = options.url.writeUrl();
        // No "Expect: 100-continue", which would hold every larger post up for a second.
        headers_ = curl_slist_append(headers_, "Content-Type: text/plain; charset=utf-8");
        headers_ = curl_slist_append(headers_, "Expect:");
        if (!curl_) return;
        curl_easy_setopt(curl_, CURLOPT_URL, url_.c_str());
        curl_easy_setopt(curl_, CURLOPT_POST, 1L);
        curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers_);
        curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT_MS, long(options.requestTimeout.count()));
        curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, long(options.requestTimeout.count()));
        curl_easy_setopt(curl_, CURLOPT_ERRORBUFFER, errorText_);
        curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &Request::collect);
        curl_easy_setopt(curl_, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(curl_, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl_, CURLOPT_XFERINFOFUNCTION, &Request::progress);
        curl_easy_setopt(curl_, CURLOPT_XFERINFODATA, this);
        const Server& server = options.url.server;
        if (server.user) {
            curl_easy_setopt(curl_, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
            curl_easy_setopt(curl_, CURLOPT_USERNAME, server.user->c_str());
            curl_easy_setopt(curl_, CURLOPT_PASSWORD, server.password ? server.password->c_str() : "");
        }
    }

    ~Request()
    {
        if (curl_) curl_easy_cleanup(curl_);
        curl_slist_free_all(headers_);
    }

    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    // Posts the lines; a request still running at `abortAt`, or once `stop` is requested when one
    // is given, is abandoned as failed.
    Outcome post(const std::string& body, SteadyClock::time_point abortAt, const std::stop_token* stop,
                 std::string& error)
    {
        if (!curl_) {
            error = "libcurl cannot make a request";
            return Outcome::Failed;
        }
        abortAt_ = abortAt;
        stop_ = stop;
        answer_.clear();
        errorText_[0] = '\0';
        curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
        const CURLcode rc = curl_easy_perform(curl_);
        if (rc != CURLE_OK) {
            error = rc == CURLE_ABORTED_BY_CALLBACK ? "abandoned, too slow"
                    : errorText_[0]                 ? errorText_
                                                    : curl_easy_strerror(rc);
            return Outcome::Failed;
        }
        long status = 0;
        curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
        if (status >= 200 && status < 300) return Outcome::Written;
        error = "HTTP " + std::to_string(status) + (answer_.empty() ? "" : " " + shortened(answer_));
        // Bad points are bad whenever they are sent again; anything else may pass later (a
        // database not made yet, a password put right, a server that is starting).
        return status == 400 ? Outcome::Refused : Outcome::Failed;
    }

private:
    static std::size_t collect(char* data, std::size_t size, std::size_t count, void* self)
    {
        auto* request = static_cast<Request*>(self);
        if (request->answer_.size() < 4096) request->answer_.append(data, size * count);
        return size * count;
    }

    static int progress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
    {
        auto* request = static_cast<Request*>(self);
        const bool stopping = request->stop_ && request->stop_->stop_requested();
        return stopping || SteadyClock::now() > request->abortAt_ ? 1 : 0;
    }

    CURL* curl_;
    curl_slist* headers_ = nullptr;
    std::string url_;
    std::string answer_;
    char errorText_[CURL_ERROR_SIZE] = {};
    SteadyClock::time_point abortAt_;
    const std::stop_token* stop_ = nullptr;
};

InfluxWriter::InfluxWriter(InfluxOptions options)
    : options_(std::move(options)),
      outbox_(std::make_unique<Outbox>(options_.maxQueuedMessages, options_.maxQueuedBytes))
{
    // Not thread-safe in the library, so done once, here on the caller's thread.
    static std::once_flag libraryReady;
    std::call_once(libraryReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    thread_ = std::jthread([this](std::stop_token stop) { run(stop); });
}

InfluxWriter::~InfluxWriter()
{
    stop();
}

bool InfluxWriter::write(std::string line)
{
    Message message;
    message.payload = std::move(line);
    message.qos = 1; // kept until written, never discarded for room
    return outbox_->push(std::move(message));
}

void InfluxWriter::stop()
{
    if (!thread_.joinable()) return;
    outbox_->close();
    thread_.request_stop();
    thread_.join();
}

PublisherStats InfluxWriter::stats() const
{
    return outbox_->stats();
}

std::string InfluxWriter::where() const
{
    return "InfluxDB " + options_.url.where();
}

namespace {

std::vector<Message> takeBatch(Outbox& outbox, std::size_t most, std::string& body)
{
    std::vector<Message> batch;
    body.clear();
    while (batch.size() < most) {
        std::optional<Message> message = outbox.take();
        if (!message) break;
        body.append(message->payload).push_back('\n');
        batch.push_back(std::move(*message));
    }
    return batch;
}

} // namespace

void InfluxWriter::run(std::stop_token stop)
{
    // A batch thread does not preempt the recorder when write() wakes it; it runs next.
    sched_param batchPolicy{};
    ::pthread_setschedparam(::pthread_self(), SCHED_BATCH, &batchPolicy);
    std::stop_callback wakeOnStop(stop, [this] { outbox_->wake(); });
    std::minstd_rand random(std::random_device{}());
    Request request(options_);
    milliseconds delay = options_.firstRetry;
    bool failing = false; // one line per outage, not one per retry
    std::string body;

    while (!stop.stop_requested()) {
        if (!outbox_->hasWaiting()) {
            pollfd wake{outbox_->wakeFd(), POLLIN, 0};
            if (::poll(&wake, 1, 1000) > 0) outbox_->clearWake();
            continue;
        }
        std::vector<Message> batch = takeBatch(*outbox_, options_.batchLines, body);
        std::string error;
        const auto outcome = request.post(body, SteadyClock::now() + options_.requestTimeout, &stop, error);
        if (outcome == Request::Outcome::Written) {
            for (const Message& message : batch) outbox_->sent(message);
            if (failing) platform::log(where() + ": writing again");
            failing = false;
            delay = options_.firstRetry;
            outbox_->setConnected(true);
            continue;
        }
        outbox_->setError(error);
        if (outcome == Request::Outcome::Refused) {
            for (const Message& message : batch) outbox_->lost(message);
            platform::log(where() + ": refused " + std::to_string(batch.size()) + " points (" + error + ")");
            continue;
        }
        outbox_->giveBack(std::move(batch));
        outbox_->setConnected(false);
        if (stop.stop_requested()) break;
        if (!failing) platform::log(where() + ": cannot write (" + error + "); retrying in the background");
        failing = true;
        // Jitter keeps a fleet of recorders from all knocking at once when the database returns.
        auto jitter = std::uniform_int_distribution<milliseconds::rep>(0, delay.count() / 4)(random);
        const auto wakeAt = SteadyClock::now() + delay + milliseconds(jitter);
        while (!stop.stop_requested() && SteadyClock::now() < wakeAt) {
            pollfd wake{outbox_->wakeFd(), POLLIN, 0};
            if (::poll(&wake, 1, static_cast<int>(until(wakeAt).count())) > 0) outbox_->clearWake();
        }
        delay = std::min(delay * 2, options_.longestRetry);
        outbox_->countReconnect();
    }
    flush(request);
}

void InfluxWriter::flush(Request& request)
{
    const auto deadline = SteadyClock::now() + options_.stopTimeout;
    std::string body;
    while (outbox_->hasWaiting() && SteadyClock::now() < deadline) {
        std::vector<Message> batch = takeBatch(*outbox_, options_.batchLines, body);
        std::string error;
        const auto outcome = request.post(body, deadline, nullptr, error);
        if (outcome == Request::Outcome::Failed) {
            outbox_->giveBack(std::move(batch));
            break;
        }
        for (const Message& message : batch) {
            if (outcome == Request::Outcome::Written)
                outbox_->sent(message);
            else
                outbox_->lost(message);
        }
    }
    const std::size_t left = outbox_->stats().waiting;
    if (left > 0) platform::log(where() + ": " + std::to_string(left) + " points could not be written before the end");
    outbox_->dropWaiting();
}

} // namespace publish

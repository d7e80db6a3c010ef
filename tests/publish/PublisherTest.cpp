// SPDX-License-Identifier: GPL-3.0-or-later
// The publisher against a real mosquitto broker on a free loopback port.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "MosquittoBroker.h"
#include "Subscriber.h"
#include "TcpRelay.h"
#include "platform/Log.h"
#include "platform/publish/Payloads.h"
#include "platform/publish/Publisher.h"

using namespace std::chrono_literals;
using publish::Publisher;
using publish::PublisherOptions;
using SteadyClock = std::chrono::steady_clock;

namespace {

PublisherOptions optionsFor(const std::string& url, const std::string& clientId)
{
    std::string error;
    auto broker = publish::parseBrokerUrl(url, error);
    EXPECT_TRUE(broker) << error;
    PublisherOptions options;
    options.broker = broker.value_or(publish::BrokerUrl{});
    options.clientId = clientId;
    // Back off as in the field, but try at least once a second, to keep the tests short.
    options.longestRetry = 1s;
    return options;
}

std::string summary(int n)
{
    publish::Summary s;
    s.time = 1'714'564'800'000'000 + n * 1'000'000LL;
    s.device = "test-box";
    s.session = n;
    s.rate = 1000;
    s.x = {0.001f * float(n), 0.05f, 1.5f};
    return publish::summaryJson(s);
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 20s)
{
    const auto giveUp = SteadyClock::now() + timeout;
    while (!condition()) {
        if (SteadyClock::now() > giveUp) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

auto lastIs(const std::string& payload)
{
    return [payload](const std::vector<Received>& m) { return !m.empty() && m.back().payload == payload; };
}

// How long publish() keeps its caller. A call the scheduler interrupted (the machine is busy)
// says nothing about the publisher, so the longest of the others is kept apart.
struct CallTimer {
    SteadyClock::duration longest{}, longestUninterrupted{};

    void measure(const std::function<void()>& call)
    {
        rusage before, after;
        ::getrusage(RUSAGE_THREAD, &before);
        const auto start = SteadyClock::now();
        call();
        const auto took = SteadyClock::now() - start;
        ::getrusage(RUSAGE_THREAD, &after);
        longest = std::max(longest, took);
        if (after.ru_nivcsw == before.ru_nivcsw) longestUninterrupted = std::max(longestUninterrupted, took);
    }
    std::string report() const
    {
        using std::chrono::microseconds;
        return "longest publish() " + std::to_string(std::chrono::duration_cast<microseconds>(longest).count())
               + " us, uninterrupted "
               + std::to_string(std::chrono::duration_cast<microseconds>(longestUninterrupted).count()) + " us";
    }
};

class PublisherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!MosquittoBroker::installed()) GTEST_SKIP() << MosquittoBroker::kProgram << " is not installed";
    }
};

} // namespace

TEST_F(PublisherTest, DeliversInOrderAndKeepsTheStatusRetained)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.running()) << broker.log();
    Subscriber watcher(broker.port(), "plant/line1/pump3/#");
    ASSERT_TRUE(watcher.ready());
    const std::string status = "plant/line1/pump3/status", summaries = "plant/line1/pump3/summary";

    Publisher publisher(optionsFor(broker.url("plant/line1/pump3"), "pump3"));
    ASSERT_TRUE(watcher.waitFor(status, lastIs("online")));

    std::vector<std::string> sent, batches;
    for (int n = 0; n < 20; ++n) {
        sent.push_back(summary(n));
        EXPECT_TRUE(publisher.publish(publish::kSummaryTopic, sent.back(), 1));
        if (n % 4 == 0) {
            publish::Reading batch[] = {{n * 1000LL, 0.5f, -1, float(n)}};
            batches.push_back(publish::rawBatchJson(1, batch));
            EXPECT_TRUE(publisher.publish(publish::kRawTopic, batches.back(), 0));
        }
        // Now and then an idle queue, which the network thread must notice by itself.
        if (n % 5 == 0) std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(watcher.waitFor(summaries, lastIs(sent.back())));
    EXPECT_EQ(watcher.payloads(summaries), sent);
    ASSERT_TRUE(watcher.waitFor("plant/line1/pump3/raw", lastIs(batches.back())));
    EXPECT_EQ(watcher.payloads("plant/line1/pump3/raw"), batches);

    {
        Subscriber late(broker.port(), status);
        ASSERT_TRUE(late.waitForCount(status, 1));
        EXPECT_EQ(late.messages(status)[0].payload, "online");
        EXPECT_TRUE(late.messages(status)[0].retained);
    }
    ASSERT_TRUE(eventually([&] { return publisher.stats().sent == 25; })) << publisher.stats().sent;
    auto stats = publisher.stats();
    EXPECT_EQ(stats.queued, 25u);
    EXPECT_EQ(stats.dropped, 0u);
    EXPECT_EQ(stats.waiting, 0u);
    EXPECT_EQ(stats.reconnects, 0u);
    EXPECT_TRUE(stats.connected);

    const auto start = SteadyClock::now();
    publisher.stop();
    EXPECT_LT(SteadyClock::now() - start, 2s);
    EXPECT_FALSE(publisher.stats().connected);
    EXPECT_FALSE(publisher.publish(publish::kSummaryTopic, summary(99), 1));
    EXPECT_TRUE(watcher.waitFor(status, lastIs("offline")));
    Subscriber after(broker.port(), status);
    ASSERT_TRUE(after.waitForCount(status, 1));
    EXPECT_EQ(after.messages(status)[0].payload, "offline");
    EXPECT_TRUE(after.messages(status)[0].retained);
}

TEST_F(PublisherTest, LastWillReportsAConnectionLostWithoutGoodbye)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.running()) << broker.log();
    Subscriber watcher(broker.port(), "site/#");
    ASSERT_TRUE(watcher.ready());
    // The publisher reaches the broker through a relay that can fail like a network.
    TcpRelay relay(broker.port());
    Publisher publisher(optionsFor("mqtt://127.0.0.1:" + std::to_string(relay.port()) + "/site/fan", "fan"));
    ASSERT_TRUE(watcher.waitFor("site/fan/status", lastIs("online")));

    relay.cutAll();
    // The broker speaks for the vanished client; then the publisher is back by itself.
    ASSERT_TRUE(watcher.waitFor("site/fan/status", [](const std::vector<Received>& m) { return m.size() >= 3; }));
    EXPECT_EQ(watcher.payloads("site/fan/status"), (std::vector<std::string>{"online", "offline", "online"}));
    EXPECT_TRUE(publisher.stats().connected);
    EXPECT_EQ(publisher.stats().reconnects, 1u);
    EXPECT_TRUE(publisher.publish(publish::kSummaryTopic, summary(1), 1));
    EXPECT_TRUE(watcher.waitFor("site/fan/summary", lastIs(summary(1))));
}

TEST_F(PublisherTest, QueuesThroughABrokerOutageWithoutHoldingUpTheCaller)
{
    MosquittoBroker broker(/*persistent=*/true);
    ASSERT_TRUE(broker.running()) << broker.log();
    // A persistent session on a persistent broker: what arrives before the watcher is back
    // from the outage is kept for it.
    Subscriber watcher(broker.port(), "mill/#", "mill-watcher", /*persistentSession=*/true);
    ASSERT_TRUE(watcher.ready());
    Publisher publisher(optionsFor(broker.url("mill/press"), "press"));
    ASSERT_TRUE(eventually([&] { return publisher.stats().connected; }));

    std::vector<std::string> expected;
    CallTimer outage;
    auto publishFor = [&](SteadyClock::duration span, CallTimer* timer) {
        for (auto end = SteadyClock::now() + span; SteadyClock::now() < end; std::this_thread::sleep_for(20ms)) {
            expected.push_back(summary(int(expected.size())));
            auto call = [&] { EXPECT_TRUE(publisher.publish(publish::kSummaryTopic, expected.back(), 1)); };
            timer ? timer->measure(call) : call();
        }
    };
    publishFor(1s, nullptr);
    broker.stop();
    publishFor(3s, &outage);
    EXPECT_FALSE(publisher.stats().connected);
    ASSERT_TRUE(broker.start()) << broker.log();
    publishFor(1s, nullptr);

    ASSERT_TRUE(watcher.waitFor("mill/press/summary", lastIs(expected.back()), 30s))
        << watcher.payloads("mill/press/summary").size() << " of " << expected.size();
    // QoS 1 is at least once: a message caught in flight by the broker's end may come twice,
    // right after itself. Nothing may be missing or out of order.
    auto received = watcher.payloads("mill/press/summary");
    auto repeats = received.end() - std::unique(received.begin(), received.end());
    received.erase(received.end() - repeats, received.end());
    EXPECT_EQ(received, expected);
    EXPECT_LE(repeats, 2);

    ASSERT_TRUE(eventually([&] { return publisher.stats().sent == expected.size(); }));
    EXPECT_EQ(publisher.stats().dropped, 0u);
    EXPECT_GE(publisher.stats().reconnects, 1u);
    EXPECT_LT(outage.longestUninterrupted, 1ms) << outage.report();
    RecordProperty("outage", outage.report());
}

TEST(PublisherUnreachable, NeverHoldsUpTheCallerAndBoundsItsQueue)
{
    const std::string targets[] = {
        "mqtt://127.0.0.1:" + std::to_string(MosquittoBroker::freePort()) + "/lab", // refused at once
        "mqtt://10.255.255.1/lab",   // a black hole: never answers (or has no route)
        "mqtt://broker.invalid/lab", // never resolves
    };
    for (const std::string& url : targets) {
        SCOPED_TRACE(url);
        std::mutex linesMutex;
        std::vector<std::string> lines;
        platform::setLogSink([&](std::string_view line) {
            std::lock_guard lock(linesMutex);
            lines.emplace_back(line);
        });
        PublisherOptions options = optionsFor(url, "lab");
        options.maxQueuedMessages = 50;
        options.firstRetry = 20ms;
        options.longestRetry = 80ms;
        Publisher publisher(options);

        CallTimer timer;
        for (int i = 0; i < 40; ++i) timer.measure([&] { publisher.publish(publish::kRawTopic, "raw", 0); });
        for (int i = 0; i < 200; ++i) timer.measure([&] { publisher.publish(publish::kSummaryTopic, summary(i), 1); });
        EXPECT_LT(timer.longestUninterrupted, 1ms) << timer.report();
        // The summaries pushed the raw batches out, then were refused once alone.
        auto stats = publisher.stats();
        EXPECT_EQ(stats.queued, 40u + 50u);
        EXPECT_EQ(stats.dropped, 40u + 150u);
        EXPECT_EQ(stats.waiting, 50u);

        if (&url == &targets[0]) {
            ASSERT_TRUE(eventually([&] { return publisher.stats().reconnects >= 4; }));
            EXPECT_NE(publisher.stats().lastError.find("refused"), std::string::npos) << publisher.stats().lastError;
        }
        const auto start = SteadyClock::now();
        publisher.stop();
        EXPECT_LT(SteadyClock::now() - start, 500ms);
        stats = publisher.stats();
        EXPECT_FALSE(stats.connected);
        EXPECT_EQ(stats.dropped, 40u + 150u + 50u);
        EXPECT_EQ(stats.waiting, 0u);
        platform::setLogSink({});
        if (&url == &targets[0]) {
            ASSERT_EQ(lines.size(), 1u) << "one line per outage, not one per retry";
            EXPECT_NE(lines[0].find("127.0.0.1"), std::string::npos) << lines[0];
            EXPECT_NE(lines[0].find("cannot connect"), std::string::npos) << lines[0];
        }
    }
}

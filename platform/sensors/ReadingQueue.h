// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The road from the capture thread to the window's: a bounded single-producer, single-consumer
// ring that never blocks either side. A push into a full ring fails and is counted by the
// producer; nothing waits.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/sensors/AccelerometerSource.h"

namespace sensors {

// One item on the road: a reading with its capture time, or the news that the source failed.
struct CapturedReading {
    Acceleration reading; // its timestamp is the capture time, in microseconds
    bool failure = false; // the source failed here (the capture thread keeps the reason)
};

class ReadingQueue {
public:
    // Rounded up to a power of two.
    explicit ReadingQueue(std::size_t capacity)
    {
        std::size_t size = 1;
        while (size < capacity) size <<= 1;
        mask_ = size - 1;
        slots_ = std::make_unique<CapturedReading[]>(size);
    }

    // Producer side only.
    bool push(const CapturedReading& item)
    {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - head_.load(std::memory_order_acquire) > mask_) return false;
        slots_[tail & mask_] = item;
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

    // Consumer side only: the oldest item, left in place (valid until it is popped), or nullptr.
    const CapturedReading* front() const
    {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        return head == tail_.load(std::memory_order_acquire) ? nullptr : &slots_[head & mask_];
    }

    // Consumer side only.
    bool pop(CapturedReading& item)
    {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire)) return false;
        item = slots_[head & mask_];
        head_.store(head + 1, std::memory_order_release);
        return true;
    }

private:
    std::size_t mask_ = 0;
    std::unique_ptr<CapturedReading[]> slots_;
    alignas(64) std::atomic<std::size_t> head_{0};
    alignas(64) std::atomic<std::size_t> tail_{0};
};

} // namespace sensors

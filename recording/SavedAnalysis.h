// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one pass over a stored session's saved samples that analyses them, between two times: what
// `quivra analyse`, `report` and `trend` print and what the window's trend draws.
#include <cstddef>
#include <functional>
#include <limits>

#include "analysis/Result.h"
#include "analysis/Settings.h"
#include "platform/store/SessionReader.h"

struct SavedAnalysis {
    enum class Outcome {
        analysed,
        tooLittle,  // fewer than two samples, or no time between them (`waiting` says how many)
        unreadable, // the store could not be read (`error` says why)
    };
    Outcome outcome = Outcome::analysed;
    analysis::Result result;
    platform::Micros first = 0, last = 0; // the first and last sample analysed
    std::size_t waiting = 0;
    store::StoreError error;
};

// Analyses the session's saved samples with lower <= time <= upper, handing each also to `also`
// when given.
SavedAnalysis analyseSaved(store::SessionReader& reader, store::ObjectId session, const analysis::Settings& settings,
                           platform::Micros lower = std::numeric_limits<platform::Micros>::min(),
                           platform::Micros upper = std::numeric_limits<platform::Micros>::max(),
                           const std::function<void(const store::SampleValues&)>& also = {});

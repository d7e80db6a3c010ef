// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The layout of the store file, and the check that a file is a store this program can use.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/store/Database.h"

namespace store {

constexpr int schemaVersion = 6;
constexpr int applicationId = 0x51564952; // "QVIR": marks the file as a Quivra store

// Makes the tables of a new, empty file, or checks that an existing file is a Quivra store of
// a version we know and brings an older one up to date. Every check comes before the first
// write, so a file that does not pass is left exactly as it was. A long step (the summaries of
// every stored sample) tells how many rows it has done of how many.
using MigrationProgress = std::function<void(std::int64_t done, std::int64_t total)>;
bool prepareSchema(Database& db, StoreError& error, const MigrationProgress& progress = {});

// After an end that was not clean: every session whose kept sample_count differs from its rows is
// given the count of its rows, and every session whose summary does not cover as many samples as
// it holds has its summary made afresh, with one line for each in `repaired`. It reads every
// row's session, so it is for that case only.
bool repairSampleCounts(Database& db, std::vector<std::string>& repaired, StoreError& error);

} // namespace store

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A session's markers as UTF-8 CSV beside its export ("<name>-markers.csv"), and its identity as
// comment lines above a CSV's header.
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/store/Records.h"

// "<session's export name without .asc>-markers.csv".
std::string markersFileName(const std::string& exportFileName);

// time,offset_s,kind,text: the time in ISO 8601 local time with its offset and microseconds, the
// seconds since the session's start, the kind (event, start, end), the text quoted as CSV quotes.
std::string markersCsv(platform::Micros sessionStart, const std::vector<store::MarkerRecord>& markers);

// "# name: Run 1\n# machine: Pump 3\n...": the fields with a value, a line each (a line feed in
// the notes written as \n); empty for a session never described.
std::string identityCommentLines(const store::SessionIdentity& identity);

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A summary as one point of InfluxDB's line protocol, its time in microseconds (the writer posts
// with precision=u):
//
//   vibration,device=box-7 session=12,rate=1000,x_rms=0.0123,x_peak=0.051,
//     x_velocity_rms_mm_s=1.31,y_rms=...,z_velocity_rms_mm_s=1.72,dropped=0,publish_dropped=0 1714564800123456
//
// (one line). The measurement, tag and field names, and the fields' type (all floats), are those
// Telegraf's JSON parser gives the MQTT summary, so that points written directly and points that
// came through MQTT and Telegraf fit the same measurement. A velocity that was not measured is
// left out of the point, as Telegraf leaves out a null.
#include <string>

#include "platform/publish/Payloads.h"

namespace publish {

inline constexpr const char* kMeasurement = "vibration";

std::string summaryLine(const Summary& summary);

} // namespace publish

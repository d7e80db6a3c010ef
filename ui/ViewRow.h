// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One row of the view buffer and the buffer itself, shared by the main screen and the trace view.
#include <array>
#include <deque>
#include <memory>

struct ViewRow {
    float x = 0.0f; // g, tare subtracted: the newest reading the row covers
    float y = 0.0f;
    float z = 0.0f;
    // Above 200 readings a second a row covers several, so that the trace scrolls no faster:
    // their lowest and highest value per axis (X, Y, Z), drawn as the row's envelope.
    bool envelope = false;
    std::array<float, 3> low{};
    std::array<float, 3> high{};
};

// Rows enter at the back and leave at the front only.
using ViewBuffer = std::deque<ViewRow>;
using SharedViewBuffer = std::shared_ptr<ViewBuffer>;

#pragma once
// One row of the view buffer and the buffer itself, shared by the main screen and the trace view.
#include <deque>
#include <memory>


struct ViewRow {
    float x = 0.0f;              // g, tare subtracted
    float y = 0.0f;
    float z = 0.0f;
};

// Rows enter at the back and leave at the front only.
using ViewBuffer = std::deque<ViewRow>;
using SharedViewBuffer = std::shared_ptr<ViewBuffer>;

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The object context's reading statements, prepared once when the store opens. Saved rows with
// an id from the first unsaved one on are left out: they may already be written by a save under
// way, and are read from the unsaved list until it is done.
#include "platform/store/ObjectContext.h"

namespace store {

struct ObjectContext::Statements {
    explicit Statements(Database& db)
        : selectSample(db, "SELECT session_id, date_stamp, x_value, y_value, z_value FROM gdata WHERE id = ?1"),
          newestOfSession(db, "SELECT id, date_stamp, x_value, y_value, z_value FROM gdata"
                              " WHERE session_id = ?1 AND id > ?3 AND id < ?4"
                              " ORDER BY date_stamp DESC, id DESC LIMIT ?2")
    {
    }
    Statement selectSample, newestOfSession;
};

} // namespace store

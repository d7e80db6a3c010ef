#pragma once
// The object context's statements, prepared once when the store opens.
#include "platform/store/ObjectContext.h"

namespace store {

// Every statement of a save, prepared once when the store opens.
struct ObjectContext::Statements {
    explicit Statements(Database& db)
        : insertBaseModel(db, "INSERT OR REPLACE INTO base_model(id) VALUES(?1)"),
          deleteBaseModel(db, "DELETE FROM base_model WHERE id = ?1"),
          writeOptions(db, "INSERT OR REPLACE INTO options(id, base_model_id, framerate, cutoff_limit,"
                           " tare_x, tare_y, tare_z, active_session_id) VALUES(?1,?2,?3,?4,?5,?6,?7,?8)"),
          deleteOptions(db, "DELETE FROM options WHERE id = ?1"),
          writeSession(db, "INSERT OR REPLACE INTO session(id, base_model_id, date_stamp, sample_count)"
                           " VALUES(?1,?2,?3,?4)"),
          deleteSession(db, "DELETE FROM session WHERE id = ?1"),
          deleteSamplesOfSession(db, "DELETE FROM gdata WHERE session_id = ?1"),
          deleteSample(db, "DELETE FROM gdata WHERE id = ?1"),
          insertSample(db, "INSERT INTO gdata(id, session_id, date_stamp, x_value, y_value, z_value)"
                           " VALUES(?1,?2,?3,?4,?5,?6)"),
          replaceSample(db, "INSERT OR REPLACE INTO gdata(id, session_id, date_stamp, x_value, y_value,"
                            " z_value) VALUES(?1,?2,?3,?4,?5,?6)"),
          selectSample(db, "SELECT session_id, date_stamp, x_value, y_value, z_value FROM gdata WHERE id = ?1"),
          newestOfSession(db, "SELECT id, date_stamp, x_value, y_value, z_value FROM gdata"
                              " WHERE session_id = ?1 ORDER BY date_stamp DESC, id DESC LIMIT ?2")
    {
    }
    Statement insertBaseModel, deleteBaseModel, writeOptions, deleteOptions, writeSession,
        deleteSession, deleteSamplesOfSession, deleteSample, insertSample, replaceSample,
        selectSample, newestOfSession;
};

} // namespace store

#pragma once
// The object context's statements, prepared once when the store opens.
#include "platform/store/ObjectContext.h"

namespace store {

struct ObjectContext::Statements {
    explicit Statements(Database& db)
        : insertBaseModel(db, "INSERT OR REPLACE INTO base_model(id) VALUES(?1)"),
          writeOptions(db, "INSERT OR REPLACE INTO options(id, base_model_id, framerate, cutoff_limit,"
                           " tare_x, tare_y, tare_z, active_session_id) VALUES(?1,?2,?3,?4,?5,?6,?7,?8)"),
          writeSession(db, "INSERT OR REPLACE INTO session(id, base_model_id, date_stamp, sample_count)"
                           " VALUES(?1,?2,?3,?4)"),
          deleteSession(db, "DELETE FROM session WHERE id = ?1"),
          deleteSample(db, "DELETE FROM gdata WHERE id = ?1"),
          insertSample(db, "INSERT INTO gdata(id, session_id, date_stamp, x_value, y_value, z_value)"
                           " VALUES(?1,?2,?3,?4,?5,?6)"),
          replaceSample(db, "INSERT OR REPLACE INTO gdata(id, session_id, date_stamp, x_value, y_value,"
                            " z_value) VALUES(?1,?2,?3,?4,?5,?6)"),
          selectSample(db, "SELECT session_id, date_stamp, x_value, y_value, z_value FROM gdata WHERE id = ?1"),
          newestOfSession(db, "SELECT id, date_stamp, x_value, y_value, z_value FROM gdata"
                              " WHERE session_id = ?1 AND id > ?3 ORDER BY date_stamp DESC, id DESC LIMIT ?2"),
          insertTrashAction(db, "INSERT INTO trash_action(id, kind, session_id, session_base_model_id,"
                                " session_date_stamp, sample_count, through_id, active_in_options_id, removed_at)"
                                " VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9)"),
          copyToTrash(db, "INSERT INTO trash_gdata(action_id, id, session_id, date_stamp, x_value, y_value, z_value)"
                          " SELECT ?1, id, session_id, date_stamp, x_value, y_value, z_value FROM gdata"
                          " WHERE session_id = ?2 AND id <= ?3"),
          deleteThrough(db, "DELETE FROM gdata WHERE session_id = ?1 AND id <= ?2"),
          restoreFromTrash(db, "INSERT INTO gdata(id, session_id, date_stamp, x_value, y_value, z_value)"
                               " SELECT id, session_id, date_stamp, x_value, y_value, z_value FROM trash_gdata"
                               " WHERE action_id = ?1"),
          purgeTrashRows(db, "DELETE FROM trash_gdata WHERE action_id = ?1"),
          purgeTrashAction(db, "DELETE FROM trash_action WHERE id = ?1")
    {
    }
    Statement insertBaseModel, writeOptions, writeSession, deleteSession, deleteSample, insertSample,
        replaceSample, selectSample, newestOfSession, insertTrashAction, copyToTrash, deleteThrough,
        restoreFromTrash, purgeTrashRows, purgeTrashAction;
};

} // namespace store

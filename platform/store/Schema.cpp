#include "platform/store/Schema.h"

namespace store {

namespace {

constexpr const char* createSql = R"sql(
CREATE TABLE base_model (
    id INTEGER PRIMARY KEY
);
CREATE TABLE session (
    id            INTEGER PRIMARY KEY,
    base_model_id INTEGER REFERENCES base_model(id),
    date_stamp    INTEGER NOT NULL,           -- microseconds since 1970-01-01 00:00 UTC
    sample_count  INTEGER NOT NULL DEFAULT 0  -- rows of gdata with this session, kept by Quivra
);
CREATE TABLE options (
    id                INTEGER PRIMARY KEY,
    base_model_id     INTEGER REFERENCES base_model(id),
    framerate         INTEGER NOT NULL,
    cutoff_limit      REAL NOT NULL,
    tare_x            REAL NOT NULL,
    tare_y            REAL NOT NULL,
    tare_z            REAL NOT NULL,
    active_session_id INTEGER REFERENCES session(id)
);
CREATE TABLE gdata (
    id         INTEGER PRIMARY KEY,
    session_id INTEGER REFERENCES session(id),
    date_stamp INTEGER NOT NULL,              -- microseconds since 1970-01-01 00:00 UTC
    x_value    REAL NOT NULL,                 -- g, tare subtracted, single precision
    y_value    REAL NOT NULL,
    z_value    REAL NOT NULL
);
-- One session's samples in time order; rows of equal time follow their id (insertion order).
CREATE INDEX gdata_session_time ON gdata(session_id, date_stamp);
CREATE VIEW sample AS
    SELECT g.id, g.session_id,
           strftime('%Y-%m-%d %H:%M:%f', s.date_stamp / 1000000.0, 'unixepoch', 'localtime') AS session_start,
           strftime('%Y-%m-%d %H:%M:%f', g.date_stamp / 1000000.0, 'unixepoch', 'localtime') AS time,
           g.x_value AS x, g.y_value AS y, g.z_value AS z
    FROM gdata g LEFT JOIN session s ON s.id = g.session_id;
)sql";

bool readInt(Database& db, const char* sql, std::int64_t& value, StoreError& error)
{
    Statement s(db, sql);
    if (s.valid() && s.step()) value = s.int64(0);
    if (db.failed()) {
        error = db.failure();
        error.message = "The store could not be opened";
        db.clearError();
        return false;
    }
    return true;
}

} // namespace

bool prepareSchema(Database& db, StoreError& error)
{
    std::int64_t appId = 0, version = 0, objects = 0;
    if (!readInt(db, "PRAGMA application_id", appId, error)
        || !readInt(db, "PRAGMA user_version", version, error)
        || !readInt(db, "SELECT count(*) FROM sqlite_master", objects, error))
        return false;

    if (appId == 0 && version == 0 && objects == 0) {
        // A new file: WAL first (it cannot change inside a transaction), then the tables.
        if (!db.exec("PRAGMA journal_mode=WAL", error)) return false;
        std::string script = std::string("BEGIN;") + createSql
                             + "PRAGMA application_id=" + std::to_string(applicationId) + ";"
                             + "PRAGMA user_version=" + std::to_string(schemaVersion) + ";COMMIT;";
        if (!db.exec(script, error)) {
            StoreError ignored;
            db.exec("ROLLBACK", ignored);
            error.message = "The store could not be created";
            return false;
        }
    } else if (appId != applicationId) {
        error.code = StoreError::notAQuivraStore;
        error.message = "The store's contents do not fit: it is an SQLite database of another program";
        error.details["path"] = db.path();
        return false;
    } else if (version != schemaVersion) {
        error.code = StoreError::unknownSchemaVersion;
        error.message = "The store's contents do not fit: unknown schema version";
        error.details["path"] = db.path();
        error.details["version"] = std::to_string(version);
        error.details["known version"] = std::to_string(schemaVersion);
        return false;
    } else if (!db.exec("PRAGMA journal_mode=WAL", error)) {
        return false;
    }
    // FULL: a finished save survives a power cut, not only a crash of the program.
    return db.exec("PRAGMA synchronous=FULL", error);
}

} // namespace store

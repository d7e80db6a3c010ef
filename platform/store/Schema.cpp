// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/store/Schema.h"

#include <set>
#include <string>

#include "platform/store/SummaryPyramid.h"

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

// Version 2: the trash, where a clear or a deleted session waits until it is undone or forgotten.
constexpr const char* trashSql = R"sql(
CREATE TABLE trash_action (
    id                    INTEGER PRIMARY KEY,
    kind                  TEXT NOT NULL,      -- 'clear' or 'delete'
    session_id            INTEGER NOT NULL,
    session_base_model_id INTEGER,
    session_date_stamp    INTEGER NOT NULL,
    sample_count          INTEGER NOT NULL,
    through_id            INTEGER NOT NULL,   -- the session's samples up to this id went
    active_in_options_id  INTEGER,            -- the settings it was active in, for a delete
    removed_at            INTEGER NOT NULL
);
CREATE TABLE trash_gdata (
    action_id  INTEGER NOT NULL REFERENCES trash_action(id),
    id         INTEGER NOT NULL,
    session_id INTEGER,
    date_stamp INTEGER NOT NULL,
    x_value    REAL NOT NULL,
    y_value    REAL NOT NULL,
    z_value    REAL NOT NULL
);
CREATE INDEX trash_gdata_action ON trash_gdata(action_id);
)sql";

// Version 3: settings beyond the sample rate (the analysis), as readable name-value pairs.
constexpr const char* settingSql = R"sql(
CREATE TABLE setting (
    name  TEXT PRIMARY KEY,
    value TEXT NOT NULL
);
)sql";

// Version 4: the summary pyramid of every session for review at any zoom (see SummaryPyramid.h),
// and the blocks of a removal waiting in the trash with its rows.
constexpr const char* summarySql = R"sql(
CREATE TABLE summary (
    id         INTEGER PRIMARY KEY,           -- session_id << 40 | level << 32 | chunk
    session_id INTEGER NOT NULL,
    level      INTEGER NOT NULL,              -- blocks of 2^level samples in id order: 4, 8, 12, ...
    chunk      INTEGER NOT NULL,              -- holds the level's blocks 48 * chunk to 48 * chunk + 47
    samples    INTEGER NOT NULL,              -- samples its blocks cover
    last_id    INTEGER NOT NULL,              -- the id of the last of them
    blocks     BLOB NOT NULL                  -- 72 bytes a block; a row fits one page
);
CREATE TABLE trash_summary (
    action_id  INTEGER NOT NULL,
    level      INTEGER NOT NULL,
    chunk      INTEGER NOT NULL,
    samples    INTEGER NOT NULL,
    last_id    INTEGER NOT NULL,
    blocks     BLOB NOT NULL,
    PRIMARY KEY (action_id, level, chunk)
) WITHOUT ROWID;
)sql";

// Version 5: who and what each session is, and its markers. An identity row stays while its
// session waits in the trash after a delete; markers go to the trash as samples do.
constexpr const char* identitySql = R"sql(
CREATE TABLE session_identity (
    session_id INTEGER PRIMARY KEY,
    name       TEXT NOT NULL DEFAULT '',
    machine    TEXT NOT NULL DEFAULT '',
    point      TEXT NOT NULL DEFAULT '',      -- the measurement point on the machine
    direction  TEXT NOT NULL DEFAULT '',      -- the sensor's direction or mounting
    notes      TEXT NOT NULL DEFAULT '',
    source     TEXT NOT NULL DEFAULT '',      -- filled by Quivra: the accelerometer
    rate       REAL                           -- filled by Quivra: readings a second
);
CREATE TABLE marker (
    id         INTEGER PRIMARY KEY,
    session_id INTEGER NOT NULL,
    date_stamp INTEGER NOT NULL,              -- microseconds since 1970-01-01 00:00 UTC
    kind       TEXT NOT NULL DEFAULT 'event', -- 'event', 'start' or 'end' (of a run)
    text       TEXT NOT NULL DEFAULT ''
);
CREATE INDEX marker_session_time ON marker(session_id, date_stamp);
CREATE TABLE trash_marker (
    action_id  INTEGER NOT NULL REFERENCES trash_action(id),
    id         INTEGER NOT NULL,
    session_id INTEGER NOT NULL,
    date_stamp INTEGER NOT NULL,
    kind       TEXT NOT NULL,
    text       TEXT NOT NULL
);
CREATE INDEX trash_marker_action ON trash_marker(action_id);
)sql";

// Version 6: the baseline session of each machine and point, and a summary of each session's
// levels for the trend, made from the samples it names (count, first and last time) with the
// analysis settings it names; one that no longer fits is made again.
constexpr const char* reportSql = R"sql(
CREATE TABLE baseline (
    machine    TEXT NOT NULL,
    point      TEXT NOT NULL,
    session_id INTEGER NOT NULL,
    PRIMARY KEY (machine, point)
);
CREATE TABLE session_summary (
    session_id   INTEGER PRIMARY KEY,
    sample_count INTEGER NOT NULL,
    first_stamp  INTEGER NOT NULL,          -- microseconds since 1970-01-01 00:00 UTC
    last_stamp   INTEGER NOT NULL,
    last_id      INTEGER NOT NULL,          -- the id of its last sample in time order
    settings     TEXT NOT NULL,             -- the analysis settings, as name=value;...
    rate         REAL NOT NULL,             -- samples a second
    rms_x        REAL NOT NULL,             -- g
    rms_y        REAL NOT NULL,
    rms_z        REAL NOT NULL,
    rms          REAL NOT NULL,             -- of the magnitude
    velocity_x   REAL,                      -- mm/s RMS over the band; NULL without a spectrum
    velocity_y   REAL,
    velocity_z   REAL,
    zone         TEXT,                      -- ISO 10816-3 zone of the largest
    iso_verdict  INTEGER NOT NULL DEFAULT 0 -- 1 when the band covers the zones' own
);
)sql";

bool failed(Database& db, StoreError& error)
{
    if (!db.failed()) return false;
    error = db.failure();
    error.message = "The store could not be opened";
    db.clearError();
    return true;
}

bool readInt(Database& db, const char* sql, std::int64_t& value, StoreError& error)
{
    Statement s(db, sql);
    if (s.valid() && s.step()) value = s.int64(0);
    return !failed(db, error);
}

// The tables and their columns as the file has them.
bool readLayout(Database& db, std::set<std::string>& columns, StoreError& error)
{
    Statement s(db, "SELECT m.name || '.' || p.name FROM sqlite_master m, pragma_table_info(m.name) p"
                    " WHERE m.type = 'table'");
    while (s.valid() && s.step()) columns.insert(s.text(0));
    return !failed(db, error);
}

bool hasColumns(const std::set<std::string>& layout, std::initializer_list<const char*> wanted)
{
    for (const char* c : wanted)
        if (!layout.count(c)) return false;
    return true;
}

bool refuse(Database& db, StoreError& error, int code, const std::string& message)
{
    error.code = code;
    error.message = message;
    error.details["path"] = db.path();
    return false;
}

bool runScript(Database& db, const std::string& body, const char* what, StoreError& error)
{
    if (db.exec("BEGIN;" + body + "COMMIT;", error)) return true;
    StoreError ignored;
    db.exec("ROLLBACK", ignored);
    error.message = what;
    return false;
}

std::string versionPragmas(int version)
{
    return "PRAGMA application_id=" + std::to_string(applicationId) + ";PRAGMA user_version=" + std::to_string(version)
           + ";";
}

// Brings a store of an older version up to this one, one numbered step after another, in one
// transaction: a failure leaves it as it was.
bool migrate(Database& db, int from, const MigrationProgress& progress, StoreError& error)
{
    if (!db.exec("BEGIN", error)) return false;
    bool ok = true;
    // 1 -> 2: the trash.
    if (ok && from < 2) ok = db.exec(trashSql, error);
    // 2 -> 3: named settings.
    if (ok && from < 3) ok = db.exec(settingSql, error);
    // 3 -> 4: the summaries, made once from every stored row.
    if (ok && from < 4) {
        ok = db.exec(summarySql, error);
        if (ok) SummaryPyramid(db).rebuildAll(progress);
        ok = ok && !failed(db, error);
    }
    // 4 -> 5: who and what each session is, and its markers.
    if (ok && from < 5) ok = db.exec(identitySql, error);
    // 5 -> 6: baselines, and the sessions' summaries for trends.
    if (ok && from < 6) ok = db.exec(reportSql, error);
    ok = ok && db.exec(versionPragmas(schemaVersion), error) && db.exec("COMMIT", error);
    if (ok) return true;
    StoreError ignored;
    db.exec("ROLLBACK", ignored);
    error.message = "The store could not be brought up to date";
    return false;
}

} // namespace

bool prepareSchema(Database& db, StoreError& error, const MigrationProgress& progress)
{
    std::int64_t appId = 0, version = 0, objects = 0;
    if (!readInt(db, "PRAGMA application_id", appId, error) || !readInt(db, "PRAGMA user_version", version, error)
        || !readInt(db, "SELECT count(*) FROM sqlite_master", objects, error))
        return false;

    if (appId == 0 && version == 0 && objects == 0) {
        // A new file: WAL first (it cannot change inside a transaction), then the tables.
        if (!db.exec("PRAGMA journal_mode=WAL", error)) return false;
        if (!runScript(db,
                       std::string(createSql) + trashSql + settingSql + summarySql + identitySql + reportSql
                           + versionPragmas(schemaVersion),
                       "The store could not be created", error))
            return false;
        return db.exec("PRAGMA synchronous=FULL", error);
    }
    if (appId != applicationId)
        return refuse(db, error, StoreError::notAQuivraStore,
                      "The store's contents do not fit: it is an SQLite database of another program");
    if (version < 1 || version > schemaVersion) {
        refuse(db, error, StoreError::unknownSchemaVersion, "The store's contents do not fit: unknown schema version");
        error.details["version"] = std::to_string(version);
        error.details["known version"] = std::to_string(schemaVersion);
        return false;
    }
    std::set<std::string> layout;
    if (!readLayout(db, layout, error)) return false;
    const bool core = hasColumns(
        layout, {"base_model.id", "session.id", "session.base_model_id", "session.date_stamp", "session.sample_count",
                 "options.id", "options.base_model_id", "options.framerate", "options.cutoff_limit", "options.tare_x",
                 "options.tare_y", "options.tare_z", "options.active_session_id", "gdata.id", "gdata.session_id",
                 "gdata.date_stamp", "gdata.x_value", "gdata.y_value", "gdata.z_value"});
    const bool trash = hasColumns(layout, {"trash_action.id", "trash_action.through_id", "trash_gdata.action_id",
                                           "trash_gdata.id", "trash_gdata.z_value"});
    const bool setting = hasColumns(layout, {"setting.name", "setting.value"});
    const bool identity = hasColumns(layout, {"session_identity.session_id", "session_identity.rate", "marker.id",
                                              "marker.text", "trash_marker.action_id", "trash_marker.text"});
    const bool report = hasColumns(layout, {"baseline.machine", "baseline.session_id", "session_summary.session_id",
                                            "session_summary.last_id", "session_summary.iso_verdict"});
    if (!core || (version >= 2 && !trash) || (version >= 3 && !setting) || (version >= 5 && !identity)
        || (version >= 6 && !report))
        return refuse(db, error, StoreError::missingTables, "The store's contents do not fit: tables are missing");

    const bool summary =
        hasColumns(layout, {"summary.session_id", "summary.blocks", "trash_summary.action_id", "trash_summary.blocks"});
    if (version >= 4 && !summary)
        return refuse(db, error, StoreError::missingTables, "The store's contents do not fit: tables are missing");

    // Checked: from here on the file is ours to write.
    if (!db.exec("PRAGMA journal_mode=WAL", error)) return false;
    if (version < schemaVersion && !migrate(db, int(version), progress, error)) return false;
    // FULL: a finished save survives a power cut, not only a crash of the program.
    return db.exec("PRAGMA synchronous=FULL", error);
}

bool repairSampleCounts(Database& db, std::vector<std::string>& repaired, StoreError& error)
{
    struct Wrong {
        std::int64_t session, kept, rows, summarised;
    };
    std::vector<Wrong> wrong;
    {
        // One pass over the (session_id, date_stamp) index, not a count for each session.
        // A session's summary rows are keyed from s.id << 40 on; its last row covers all it holds.
        Statement s(db, "SELECT s.id, s.sample_count, coalesce(r.n, 0), coalesce((SELECT samples FROM summary"
                        " WHERE summary.id BETWEEN s.id << 40 AND ((s.id + 1) << 40) - 1"
                        " ORDER BY summary.id DESC LIMIT 1), 0) AS summarised FROM session s"
                        " LEFT JOIN (SELECT session_id, count(*) AS n FROM gdata GROUP BY session_id) r"
                        " ON r.session_id = s.id WHERE s.sample_count IS NOT coalesce(r.n, 0)"
                        " OR summarised IS NOT coalesce(r.n, 0)");
        while (s.step()) wrong.push_back({s.int64(0), s.int64(1), s.int64(2), s.int64(3)});
    }
    if (failed(db, error)) return false;
    if (!db.exec("BEGIN", error)) return false;
    // Summaries of sessions that are no more.
    db.exec("DELETE FROM summary WHERE session_id NOT IN (SELECT id FROM session)", error);
    SummaryPyramid pyramid(db);
    for (const Wrong& w : wrong) {
        const std::string session = "session " + std::to_string(w.session);
        if (w.kept != w.rows) {
            Statement(db, "UPDATE session SET sample_count = ?1 WHERE id = ?2")
                .bind(1, w.rows)
                .bind(2, w.session)
                .run();
            repaired.push_back(session + " was said to hold " + std::to_string(w.kept) + " samples but holds "
                               + std::to_string(w.rows) + ": its count is repaired");
        }
        if (w.summarised != w.rows) {
            pyramid.rebuild(w.session);
            repaired.push_back(session + "'s summary covered " + std::to_string(w.summarised) + " of its "
                               + std::to_string(w.rows) + " samples: it is made afresh");
        }
    }
    if (!failed(db, error) && db.exec("COMMIT", error)) return true;
    StoreError ignored;
    db.exec("ROLLBACK", ignored);
    error.message = "The store's sample counts could not be repaired";
    return false;
}

} // namespace store

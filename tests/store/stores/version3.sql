-- SPDX-License-Identifier: GPL-3.0-or-later
-- A store of schema version 3: the tables exactly as Quivra made them then (platform/store/Schema.cpp
-- at 46d6372), with two sessions, their samples, a clear waiting in the trash and a setting.
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
CREATE TABLE setting (
    name  TEXT PRIMARY KEY,
    value TEXT NOT NULL
);
INSERT INTO base_model(id) VALUES(1);
INSERT INTO session VALUES(1, 1, 1714550400000000, 3);
INSERT INTO session VALUES(2, 1, 1714554000000000, 2);
INSERT INTO options VALUES(1, 1, 100, 5.0, 0.0, 0.0, -1.0, 2);
INSERT INTO gdata VALUES(1, 1, 1714550400010000, 0.5, -0.25, 0.0);
INSERT INTO gdata VALUES(2, 1, 1714550400020000, 0.25, 0.125, -0.5);
INSERT INTO gdata VALUES(3, 1, 1714550400030000, -0.5, 0.0, 1.0);
INSERT INTO gdata VALUES(5, 2, 1714554000020000, 0.75, 0.0, 0.0);
INSERT INTO gdata VALUES(6, 2, 1714554000030000, 1.0, 0.0, 0.0);
INSERT INTO trash_action VALUES(1, 'clear', 2, 1, 1714554000000000, 1, 4, NULL, 1714554000015000);
INSERT INTO trash_gdata VALUES(1, 4, 2, 1714554000010000, 0.125, 0.0, 0.0);
INSERT INTO setting VALUES('analysis.window', 'flattop');
PRAGMA application_id=1364609362; PRAGMA user_version=3;

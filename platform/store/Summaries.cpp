// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/store/Summaries.h"

namespace store {

namespace {

bool done(Database& db, StoreError& error, const char* what)
{
    if (!db.failed()) return true;
    error = db.failure();
    error.message = what;
    db.clearError();
    return false;
}

} // namespace

bool readSummaries(Database& db, std::int64_t version, std::map<ObjectId, SessionSummary>& out, StoreError& error)
{
    if (version < 6) return true;
    db.clearError();
    Statement q(db, "SELECT session_id, sample_count, first_stamp, last_stamp, last_id, settings, rate, rms_x, rms_y,"
                    " rms_z, rms, velocity_x, velocity_y, velocity_z, zone, iso_verdict FROM session_summary");
    while (q.valid() && q.step()) {
        SessionSummary s;
        s.session = q.int64(0);
        s.from = {q.int64(1), q.int64(2), q.int64(3), q.int64(4)};
        s.settings = q.text(5);
        s.rate = q.real(6);
        s.rms = {q.real(7), q.real(8), q.real(9)};
        s.rmsMagnitude = q.real(10);
        s.hasVelocity = !q.isNull(11);
        s.velocity = {q.real(11), q.real(12), q.real(13)};
        s.zone = q.text(14);
        s.isoVerdict = q.int64(15) != 0;
        out[s.session] = std::move(s);
    }
    return done(db, error, "The sessions' summaries could not be read");
}

bool writeSummary(Database& db, const SessionSummary& s, StoreError& error)
{
    db.clearError();
    putSummary(db, s);
    return done(db, error, "A session's summary could not be kept");
}

void putSummary(Database& db, const SessionSummary& s)
{
    Statement q(db, "INSERT OR REPLACE INTO session_summary VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11,"
                    " ?12, ?13, ?14, ?15, ?16)");
    q.bind(1, s.session).bind(2, s.from.samples).bind(3, s.from.first).bind(4, s.from.last).bind(5, s.from.lastId);
    q.bind(6, std::string_view(s.settings)).bind(7, s.rate).bind(8, s.rms[0]).bind(9, s.rms[1]).bind(10, s.rms[2]);
    q.bind(11, s.rmsMagnitude);
    if (s.hasVelocity)
        q.bind(12, s.velocity[0]).bind(13, s.velocity[1]).bind(14, s.velocity[2]).bind(15, std::string_view(s.zone));
    q.bind(16, std::int64_t(s.isoVerdict));
    if (q.valid()) q.step();
}

bool readFingerprint(Database& db, ObjectId session, std::int64_t samples, SampleFingerprint& out, StoreError& error)
{
    db.clearError();
    out = {};
    // Each subquery one look-up in the (session_id, date_stamp) index.
    Statement q(db, "SELECT (SELECT min(date_stamp) FROM gdata WHERE session_id = ?1),"
                    " (SELECT date_stamp FROM gdata WHERE session_id = ?1 ORDER BY date_stamp DESC, id DESC LIMIT 1),"
                    " (SELECT id FROM gdata WHERE session_id = ?1 ORDER BY date_stamp DESC, id DESC LIMIT 1)");
    q.bind(1, session);
    if (q.valid() && q.step() && !q.isNull(0)) out = {samples, q.int64(0), q.int64(1), q.int64(2)};
    return done(db, error, "The session's samples could not be read");
}

bool readBaseline(Database& db, std::int64_t version, const std::string& machine, const std::string& point,
                  ObjectId& session, StoreError& error)
{
    session = 0;
    if (version < 6) return true;
    db.clearError();
    Statement q(db, "SELECT session_id FROM baseline WHERE machine = ?1 AND point = ?2");
    q.bind(1, std::string_view(machine)).bind(2, std::string_view(point));
    if (q.valid() && q.step()) session = q.int64(0);
    return done(db, error, "The baseline could not be read");
}

bool writeBaseline(Database& db, const std::string& machine, const std::string& point, ObjectId session,
                   StoreError& error)
{
    db.clearError();
    Statement q(db, session ? "INSERT OR REPLACE INTO baseline VALUES (?1, ?2, ?3)"
                            : "DELETE FROM baseline WHERE machine = ?1 AND point = ?2");
    q.bind(1, std::string_view(machine)).bind(2, std::string_view(point));
    if (session) q.bind(3, session);
    if (q.valid()) q.step();
    return done(db, error, "The baseline could not be kept");
}

} // namespace store

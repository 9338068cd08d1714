#include "ops/store/PgStore.h"

#include <cstring>
#include <vector>

#include <libpq-fe.h>

namespace {

// Results freed on every path.
struct Result {
    PGresult* r;
    explicit Result(PGresult* result) : r(result) {}
    ~Result() { PQclear(r); }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    bool Ok() const { return r != nullptr && PQresultStatus(r) == PGRES_COMMAND_OK; }
    bool Rows() const { return r != nullptr && PQresultStatus(r) == PGRES_TUPLES_OK; }
    std::string State() const {
        const char* state = r != nullptr ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
        return state != nullptr ? state : "";
    }
};

// libpq's message in one line, without its trailing newline.
std::string Reason(pg_conn* conn) {
    std::string text = conn != nullptr ? PQerrorMessage(conn) : "out of memory";
    for (char& c : text)
        if (c == '\n')
            c = ' ';
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text.empty() ? "no reason given" : text;
}

Result Exec(pg_conn* conn, const char* sql, const std::vector<const char*>& values = {}) {
    return Result(PQexecParams(conn, sql, static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                               nullptr, 0));
}

constexpr const char* SCHEMA_SQL = R"(CREATE SCHEMA IF NOT EXISTS veltro51;
CREATE TABLE IF NOT EXISTS veltro51.schema_version (version integer NOT NULL);
CREATE TABLE IF NOT EXISTS veltro51.series (
    name text PRIMARY KEY,
    next bigint NOT NULL CHECK (next >= 0));
CREATE TABLE IF NOT EXISTS veltro51.serials (
    series text NOT NULL REFERENCES veltro51.series (name),
    serial bigint NOT NULL,
    host text,
    taken_at timestamptz NOT NULL DEFAULT now(),
    PRIMARY KEY (series, serial));
CREATE TABLE IF NOT EXISTS veltro51.chips (
    id bigserial PRIMARY KEY,
    time timestamptz NOT NULL,
    host text, version text, programmer text, product text, signature text, chip text,
    chip_requested text, file text, file_sha256 text, file_crc32 text, file_sum16 text,
    series text, serial bigint, lock_mode integer,
    outcome text NOT NULL, failure text, duration_ms bigint NOT NULL);
INSERT INTO veltro51.schema_version (version)
    SELECT 1 WHERE NOT EXISTS (SELECT 1 FROM veltro51.schema_version);
)";

// Under a lock of the transaction, so that stations starting together make it once.
bool MakeSchema(pg_conn* conn, std::string& error) {
    const std::string sql =
        std::string("BEGIN; SELECT pg_advisory_xact_lock(51051051); ") + SCHEMA_SQL + "COMMIT;";
    PGresult* last = PQexec(conn, sql.c_str());
    const bool ok = last != nullptr && PQresultStatus(last) == PGRES_COMMAND_OK;
    PQclear(last);
    if (!ok) {
        error = "cannot make the schema veltro51: " + Reason(conn);
        PQclear(PQexec(conn, "ROLLBACK"));
    }
    return ok;
}

bool Aborted(const std::atomic<int32_t>* abort) {
    return abort != nullptr && abort->load() != 0;
}

} // namespace

bool IsConnectionString(const std::string& text) {
    return text.rfind("postgresql://", 0) == 0 || text.rfind("postgres://", 0) == 0;
}

std::string ShownConnection(const std::string& text) {
    std::string shown = text;
    const size_t scheme = shown.find("://");
    if (scheme != std::string::npos) {
        const size_t authority = scheme + 3;
        const size_t end = shown.find_first_of("/?", authority);
        const size_t at = shown.rfind('@', end == std::string::npos ? shown.size() : end);
        if (at != std::string::npos && at >= authority) {
            const size_t colon = shown.find(':', authority);
            if (colon != std::string::npos && colon < at)
                shown.replace(colon + 1, at - colon - 1, "****");
        }
    }
    for (size_t at = shown.find("password="); at != std::string::npos; at = shown.find("password=", at + 1)) {
        if (at > 0 && shown[at - 1] != '?' && shown[at - 1] != '&' && shown[at - 1] != ' ')
            continue;
        const size_t value = at + 9;
        const size_t end = shown.find_first_of("& ", value);
        shown.replace(value, (end == std::string::npos ? shown.size() : end) - value, "****");
    }
    return shown;
}

const char* SchemaSql() {
    return SCHEMA_SQL;
}

CPgConnection::CPgConnection(std::string connection) : m_given(std::move(connection)) {
    if (ShownConnection(m_given) != m_given)
        m_invalid = "the connection string " + Shown() +
                    " holds a password; give it in ~/.pgpass (PGPASSFILE), a service file or PGPASSWORD";
    // series= is ours; every other parameter goes to libpq as it is.
    std::string rest = m_given;
    const size_t query = rest.find('?');
    std::string kept;
    bool timeout = false;
    if (query != std::string::npos) {
        std::string params = rest.substr(query + 1);
        rest.resize(query);
        size_t begin = 0;
        while (begin <= params.size()) {
            size_t end = params.find('&', begin);
            if (end == std::string::npos)
                end = params.size();
            const std::string param = params.substr(begin, end - begin);
            begin = end + 1;
            if (param.rfind("series=", 0) == 0) {
                m_series = param.substr(7);
                continue;
            }
            timeout = timeout || param.rfind("connect_timeout=", 0) == 0;
            if (!param.empty())
                kept += (kept.empty() ? "" : "&") + param;
        }
    }
    if (!timeout)
        kept += (kept.empty() ? "" : "&") + std::string("connect_timeout=10");
    m_libpq = rest + "?" + kept;
    if (m_series.empty() && m_invalid.empty())
        m_invalid = "the connection string " + Shown() + " names an empty series";
}

CPgConnection::~CPgConnection() {
    Drop();
}

void CPgConnection::Drop() {
    if (m_conn != nullptr)
        PQfinish(m_conn);
    m_conn = nullptr;
}

bool CPgConnection::Ready(std::string& error) {
    if (!m_invalid.empty()) {
        error = m_invalid;
        return false;
    }
    if (m_conn != nullptr && PQstatus(m_conn) == CONNECTION_OK && PQtransactionStatus(m_conn) == PQTRANS_IDLE)
        return true;
    Drop();
    m_conn = PQconnectdb(m_libpq.c_str());
    if (m_conn == nullptr || PQstatus(m_conn) != CONNECTION_OK) {
        error = "cannot connect to " + Shown() + ": " + Reason(m_conn);
        Drop();
        return false;
    }
    // Every commit of ours waits for the server's disk, whatever the server's default.
    if (!Exec(m_conn, "SET synchronous_commit TO on").Ok() ||
        !Exec(m_conn, "SET lock_timeout TO '10s'").Ok()) {
        error = "cannot set up the session with " + Shown() + ": " + Reason(m_conn);
        Drop();
        return false;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        Result version = Exec(m_conn, "SELECT version FROM veltro51.schema_version");
        if (version.Rows() && PQntuples(version.r) == 1) {
            const int found = std::atoi(PQgetvalue(version.r, 0, 0));
            if (found == PG_SCHEMA_VERSION)
                return true;
            error = "the database " + Shown() + " holds the schema veltro51 of version " +
                    std::to_string(found) + "; this program uses version " +
                    std::to_string(PG_SCHEMA_VERSION) + " and leaves it alone";
            Drop();
            return false;
        }
        // Missing (undefined table or schema): made here, once.
        const std::string state = version.State();
        if (attempt > 0 || (state != "42P01" && state != "3F000")) {
            error = "cannot read the schema version of " + Shown() + ": " + Reason(m_conn);
            Drop();
            return false;
        }
        if (!MakeSchema(m_conn, error)) {
            error += " (" + Shown() + "; see 'store init')";
            Drop();
            return false;
        }
    }
    return false;
}

bool InitPgSchema(const std::string& connection, std::string& error) {
    CPgConnection db(connection);
    return db.Ready(error);
}

bool CPgSerialStore::Prepare(std::string& error, const std::atomic<int32_t>* abort, const WaitNotice&) {
    if (Aborted(abort)) {
        error = "not taken: aborted";
        return false;
    }
    return m_db.Ready(error);
}

bool CPgSerialStore::Take(const SerialSpec& spec, uint64_t& number, std::string& error,
                          const std::atomic<int32_t>* abort) {
    if (!Prepare(error, abort, {}))
        return false;
    pg_conn* conn = m_db.Get();
    const std::string series = m_db.Series();
    const std::string start = std::to_string(spec.start);
    const std::string shown = m_db.Shown();
    const auto fail = [&](const std::string& what) {
        error = what + " (" + shown + ", series " + series + "): " + Reason(conn);
        // A connection in an unknown state is made again for the next number.
        m_db.Drop();
        return false;
    };
    if (!Exec(conn, "BEGIN").Ok())
        return fail("not taken: cannot begin");
    if (!Exec(conn, "INSERT INTO veltro51.series (name, next) VALUES ($1, $2) ON CONFLICT (name) DO NOTHING",
              {series.c_str(), start.c_str()})
             .Ok())
        return fail("not taken: cannot make the series");
    Result row = Exec(conn, "SELECT next FROM veltro51.series WHERE name = $1 FOR UPDATE", {series.c_str()});
    if (!row.Rows() || PQntuples(row.r) != 1)
        return fail("not taken: cannot read the series");
    const uint64_t taken = std::strtoull(PQgetvalue(row.r, 0, 0), nullptr, 10);
    uint64_t next = 0;
    if (taken > SerialMaximum(spec) || __builtin_add_overflow(taken, spec.step, &next) || next > INT64_MAX) {
        PQclear(PQexec(conn, "ROLLBACK"));
        error = "the serial numbers of series " + series + " are used up: the next, " +
                std::to_string(taken) + ", does not fit " + SerialFormatName(spec) + " (at most " +
                std::to_string(SerialMaximum(spec)) + ")";
        return false;
    }
    const std::string takenText = std::to_string(taken);
    const std::string nextText = std::to_string(next);
    const std::string host = HostName();
    if (!Exec(conn, "UPDATE veltro51.series SET next = $2 WHERE name = $1",
              {series.c_str(), nextText.c_str()})
             .Ok())
        return fail("not taken: cannot store the next number");
    Result given = Exec(conn, "INSERT INTO veltro51.serials (series, serial, host) VALUES ($1, $2, $3)",
                        {series.c_str(), takenText.c_str(), host.c_str()});
    if (!given.Ok()) {
        if (given.State() == "23505") {
            PQclear(PQexec(conn, "ROLLBACK"));
            error = "the series " + series + " says next=" + takenText +
                    ", a number given before (the series was set back); nothing taken (" + shown + ")";
            return false;
        }
        return fail("not taken: cannot record the number");
    }
    if (Aborted(abort)) {
        PQclear(PQexec(conn, "ROLLBACK"));
        error = "not taken: aborted";
        return false;
    }
    // Lost here, the commit may have happened or not: the number is not used either way.
    if (!Exec(conn, "COMMIT").Ok())
        return fail("not taken: the commit was not confirmed, the number is spent");
    number = taken;
    return true;
}

bool CPgRecordSink::Write(const ProductionRecord& r, std::string& error, const std::atomic<int32_t>*) {
    if (!m_db.Ready(error))
        return false;
    const auto text = [](const std::string& value) { return value.empty() ? nullptr : value.c_str(); };
    char signature[16];
    std::snprintf(signature, sizeof signature, "%02X %02X %02X", r.signature[0], r.signature[1],
                  r.signature[2]);
    char crc[16];
    char sum[8];
    std::snprintf(crc, sizeof crc, "%08x", r.fileCrc32);
    std::snprintf(sum, sizeof sum, "%04x", unsigned{r.fileSum16});
    const bool image = !r.fileSha256.empty();
    const std::string time = UtcTimeText(r.time);
    const std::string serial = std::to_string(r.serial);
    const std::string lock = std::to_string(r.lockMode);
    const std::string duration = std::to_string(r.durationMs);
    const std::string& series = r.series;
    Result insert =
        Exec(m_db.Get(),
             "INSERT INTO veltro51.chips (time, host, version, programmer, product, signature, chip, "
             "chip_requested, "
             "file, file_sha256, file_crc32, file_sum16, series, serial, lock_mode, outcome, failure, "
             "duration_ms) "
             "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16, $17, $18)",
             {time.c_str(), text(r.host), text(r.version), text(r.programmerLocation),
              text(r.programmerProduct), r.signatureRead ? signature : nullptr, text(r.chip),
              text(r.chipRequested), text(r.filePath), text(r.fileSha256), image ? crc : nullptr,
              image ? sum : nullptr, r.hasSerial ? text(series) : nullptr,
              r.hasSerial ? serial.c_str() : nullptr, r.lockMode > 0 ? lock.c_str() : nullptr,
              CycleOutcomeName(r.outcome), text(r.failure), duration.c_str()});
    if (!insert.Ok()) {
        error = "cannot record the chip in " + m_db.Shown() + ": " + Reason(m_db.Get());
        m_db.Drop();
        return false;
    }
    return true;
}

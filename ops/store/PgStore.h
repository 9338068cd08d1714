#pragma once
// A series of serial numbers and the production record in PostgreSQL, for several stations.
//
// Connection strings are libpq's ("postgresql://user@host/db?sslmode=verify-full"), passed through
// as they are, but for one parameter of ours, series=NAME (default "default"), which names the
// series, and a connect_timeout of 10 s when none is given. The password never comes from the
// command line: a connection string carrying one is refused; libpq takes it from ~/.pgpass
// (PGPASSFILE), a service file (PGSERVICEFILE) or PGPASSWORD.
//
// The schema "veltro51" (tables schema_version, series, serials, chips; SchemaSql) is made on first
// use or by "store init"; a schema of another version is refused.
//
// Taking a number is one transaction, committed with synchronous commit before the number is
// returned: the series' next number moves on and the number goes into the table of given numbers,
// whose key refuses any number given before. A connection lost before the commit takes nothing; one
// lost after it leaves a gap (the number is spent, no chip has it), never a repeat.

#include <memory>
#include <string>

#include "ops/ProductionLog.h"
#include "ops/Serial.h"

struct pg_conn;

constexpr int PG_SCHEMA_VERSION = 1;

// Whether text names a PostgreSQL database rather than a file.
bool IsConnectionString(const std::string& text);

// The connection string as it may be shown: any password in it replaced by "****".
std::string ShownConnection(const std::string& text);

// The statements that make the schema of PG_SCHEMA_VERSION.
const char* SchemaSql();

// One connection, made on first need and made again after it was lost.
class CPgConnection {
public:
    explicit CPgConnection(std::string connection);
    ~CPgConnection();
    CPgConnection(const CPgConnection&) = delete;
    CPgConnection& operator=(const CPgConnection&) = delete;

    // Connected, with the schema there and of our version (made when missing); false with a reason.
    bool Ready(std::string& error);
    pg_conn* Get() const { return m_conn; }
    const std::string& Series() const { return m_series; }
    std::string Shown() const { return ShownConnection(m_given); }
    // Forgets a connection that failed, so that the next Ready connects again.
    void Drop();

private:
    std::string m_given; // as given, shown without a password
    std::string m_libpq; // what libpq gets: without series=, with a connect_timeout
    std::string m_series = "default";
    std::string m_invalid; // why the string itself is refused, empty when it is not
    pg_conn* m_conn = nullptr;
};

// Makes the schema (store init); false with a reason.
bool InitPgSchema(const std::string& connection, std::string& error);

class CPgSerialStore : public ISerialStore {
public:
    explicit CPgSerialStore(const std::string& connection) : m_db(connection) {}
    bool Prepare(std::string& error, const std::atomic<int32_t>* abort, const WaitNotice& waiting) override;
    bool Take(const SerialSpec& spec, uint64_t& number, std::string& error,
              const std::atomic<int32_t>* abort) override;
    void Release() override {}
    std::string Shown() const override { return m_db.Shown(); }
    std::string Series() const override { return m_db.Series(); }

private:
    CPgConnection m_db;
};

class CPgRecordSink : public IRecordSink {
public:
    explicit CPgRecordSink(const std::string& connection) : m_db(connection) {}
    bool Write(const ProductionRecord& record, std::string& error,
               const std::atomic<int32_t>* abort) override;
    std::string Shown() const override { return m_db.Shown(); }

private:
    CPgConnection m_db;
};

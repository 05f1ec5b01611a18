// The store on a PostgreSQL server, shared by gateways on one or more machines, through libpq.
#include <libpq-fe.h>

#include "Database.h"
#include "Log.h"

namespace tidewire::gateway {

namespace {

// libpq's messages end in a newline; the log adds its own.
std::string Reason(const char* message) {
    std::string text = message != nullptr ? message : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

// The server's notices ("relation already exists, skipping") are of no use to an operator.
void QuietNotice(void*, const char* message) {
    LogDebug("postgresql: " + Reason(message));
}

class PostgresDatabase : public Database {
  public:
    explicit PostgresDatabase(const std::string& uri) : connection_(Connect(uri)) {
        if (PQstatus(connection_) != CONNECTION_OK) {
            const std::string reason = Reason(PQerrorMessage(connection_));
            PQfinish(connection_);
            connection_ = nullptr;
            throw StoreError("cannot connect to the PostgreSQL store: " + reason);
        }
        Prepare();
    }
    ~PostgresDatabase() override { PQfinish(connection_); }

    Dialect Kind() const override { return Dialect::Postgres; }

    std::vector<Row> Query(const std::string& sql, const std::vector<Value>& parameters) override {
        std::vector<const char*> values;
        values.reserve(parameters.size());
        for (const Value& value : parameters) {
            values.push_back(value ? value->c_str() : nullptr);
        }
        PGresult* const result =
            PQexecParams(connection_, sql.c_str(), static_cast<int>(values.size()), nullptr,
                         values.data(), nullptr, nullptr, 0);
        const ExecStatusType status = PQresultStatus(result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            const std::string reason = Reason(result != nullptr ? PQresultErrorMessage(result)
                                                                : PQerrorMessage(connection_));
            PQclear(result);
            throw StoreError(reason);
        }
        std::vector<Row> rows;
        const int count = PQntuples(result);
        const int columns = PQnfields(result);
        for (int line = 0; line < count; ++line) {
            Row row;
            for (int column = 0; column < columns; ++column) {
                if (PQgetisnull(result, line, column)) {
                    row.emplace_back();
                } else {
                    row.emplace_back(std::string(PQgetvalue(result, line, column),
                                                 PQgetlength(result, line, column)));
                }
            }
            rows.push_back(std::move(row));
        }
        PQclear(result);
        return rows;
    }

    bool Recover() override {
        if (PQstatus(connection_) == CONNECTION_OK) {
            return true;
        }
        PQreset(connection_);
        if (PQstatus(connection_) != CONNECTION_OK) {
            return false;
        }
        Prepare();
        return true;
    }

  private:
    // A server that does not answer must not hold the gateway for minutes at each reconnect,
    // when every minute counts towards systemd's stop timeout: ten seconds, unless the URI
    // sets its own connect_timeout (a keyword after the expanded URI would override it).
    static PGconn* Connect(const std::string& uri) {
        const char* const keywords[] = {"connect_timeout", "dbname", nullptr};
        const char* const values[] = {"10", uri.c_str(), nullptr};
        return PQconnectdbParams(keywords, values, 1);
    }

    // Texts cross the library in UTF-8: the gateway never sets a locale, so the library
    // converts to and from UTF-8, whatever the environment's locale says.
    void Prepare() {
        PQsetNoticeProcessor(connection_, QuietNotice, nullptr);
        if (PQsetClientEncoding(connection_, "UTF8") != 0) {
            throw StoreError("the PostgreSQL server refused the UTF8 client encoding");
        }
    }

    PGconn* connection_;
};

}  // namespace

std::unique_ptr<Database> OpenPostgres(const std::string& uri) {
    return std::make_unique<PostgresDatabase>(uri);
}

}  // namespace tidewire::gateway

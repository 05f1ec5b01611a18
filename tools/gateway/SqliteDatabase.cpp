// The store in one SQLite file: WAL, so that applications read while a gateway writes, and a
// busy wait, so that several processes on the file (gateways, --queue, applications) take turns
// instead of failing.
#include <sqlite3.h>

#include "Database.h"

namespace tidewire::gateway {

namespace {

constexpr int kBusyMilliseconds = 10000;

class SqliteDatabase : public Database {
  public:
    SqliteDatabase(const std::string& path, bool readOnly) {
        const int flags =
            readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
        if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
            const std::string reason = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            db_ = nullptr;
            throw StoreError("cannot open the SQLite store " + path + ": " + reason);
        }
        sqlite3_busy_timeout(db_, kBusyMilliseconds);
        if (!readOnly) {
            try {
                // A received message is acknowledged once its row is committed, so a commit
                // must survive a power cut: synchronous FULL.
                Query("PRAGMA journal_mode=WAL", {});
                Query("PRAGMA synchronous=FULL", {});
            } catch (const StoreError& failure) {
                sqlite3_close(db_);
                db_ = nullptr;
                throw StoreError("cannot use the SQLite store " + path + ": " + failure.what());
            }
        }
    }
    ~SqliteDatabase() override { sqlite3_close(db_); }

    Dialect Kind() const override { return Dialect::Sqlite; }

    std::vector<Row> Query(const std::string& sql, const std::vector<Value>& parameters) override {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
            throw StoreError(sqlite3_errmsg(db_));
        }
        // The statements name their parameters $1, $2, ... as PostgreSQL's do.
        for (size_t i = 0; i < parameters.size(); ++i) {
            const std::string name = "$" + std::to_string(i + 1);
            const int index = sqlite3_bind_parameter_index(statement, name.c_str());
            if (index == 0) {
                continue;
            }
            const Value& value = parameters[i];
            const int bound =
                value ? sqlite3_bind_text(statement, index, value->data(),
                                          static_cast<int>(value->size()), SQLITE_TRANSIENT)
                      : sqlite3_bind_null(statement, index);
            if (bound != SQLITE_OK) {
                sqlite3_finalize(statement);
                throw StoreError(sqlite3_errmsg(db_));
            }
        }
        std::vector<Row> rows;
        int step = SQLITE_ROW;
        while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
            Row row;
            const int columns = sqlite3_column_count(statement);
            for (int column = 0; column < columns; ++column) {
                if (sqlite3_column_type(statement, column) == SQLITE_NULL) {
                    row.emplace_back();
                    continue;
                }
                const auto* text =
                    reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
                row.emplace_back(std::string(
                    text, static_cast<size_t>(sqlite3_column_bytes(statement, column))));
            }
            rows.push_back(std::move(row));
        }
        sqlite3_finalize(statement);
        if (step != SQLITE_DONE) {
            throw StoreError(sqlite3_errmsg(db_));
        }
        return rows;
    }

    bool Recover() override { return true; }

  private:
    sqlite3* db_ = nullptr;
};

}  // namespace

std::unique_ptr<Database> OpenSqlite(const std::string& path, bool readOnly) {
    return std::make_unique<SqliteDatabase>(path, readOnly);
}

}  // namespace tidewire::gateway

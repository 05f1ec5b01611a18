// The one thing the store needs of a database: run a statement with $1, $2, ... parameters and
// get its rows back as text. SQLite and PostgreSQL each implement it over their C client; the
// SQL differs between them only where Dialect says.
#ifndef TIDEWIRE_TOOLS_GATEWAY_DATABASE_H
#define TIDEWIRE_TOOLS_GATEWAY_DATABASE_H

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tidewire::gateway {

// A parameter or a column: text, or NULL.
using Value = std::optional<std::string>;
using Row = std::vector<Value>;

class StoreError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum class Dialect { Sqlite, Postgres };

class Database {
  public:
    virtual ~Database() = default;

    virtual Dialect Kind() const = 0;

    // Runs one statement; throws StoreError with the database's reason.
    virtual std::vector<Row> Query(const std::string& sql,
                                   const std::vector<Value>& parameters = {}) = 0;

    // After a failed statement: tries to make the connection usable again (a PostgreSQL server
    // that restarted); true when it is.
    virtual bool Recover() = 0;

    // A file path for SQLite (created when missing unless readOnly), or a postgresql:// URI.
    // Throws StoreError when it cannot be opened.
    static std::unique_ptr<Database> Open(const std::string& store, bool readOnly);
};

// Opens a transaction that takes the write lock at once (SQLite's BEGIN IMMEDIATE, so that two
// gateways on one file never both read a row as free), and rolls it back unless committed.
class Transaction {
  public:
    explicit Transaction(Database& database);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void Commit();

  private:
    Database& database_;
    bool open_ = true;
};

}  // namespace tidewire::gateway

#endif

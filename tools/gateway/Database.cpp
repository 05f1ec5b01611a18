#include "Database.h"

#include "GatewayConfig.h"

namespace tidewire::gateway {

std::unique_ptr<Database> OpenSqlite(const std::string& path, bool readOnly);
std::unique_ptr<Database> OpenPostgres(const std::string& uri);

std::unique_ptr<Database> Database::Open(const std::string& store, bool readOnly) {
    return IsPostgresStore(store) ? OpenPostgres(store) : OpenSqlite(store, readOnly);
}

Transaction::Transaction(Database& database) : database_(database) {
    database_.Query(database_.Kind() == Dialect::Sqlite ? "BEGIN IMMEDIATE" : "BEGIN");
}

Transaction::~Transaction() {
    if (open_) {
        try {
            database_.Query("ROLLBACK");
        } catch (const StoreError&) {
            // A connection that broke has rolled the transaction back already.
        }
    }
}

void Transaction::Commit() {
    database_.Query("COMMIT");
    open_ = false;
}

}  // namespace tidewire::gateway

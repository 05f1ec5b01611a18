// The gateways' shared state in one schema for SQLite and PostgreSQL: the outbox applications
// fill and gateways claim, the inbox gateways fill, and one row of counters per gateway. The
// schema is created and upgraded here, by numbered migrations (docs/gateway.md).
#ifndef TIDEWIRE_TOOLS_GATEWAY_STORE_H
#define TIDEWIRE_TOOLS_GATEWAY_STORE_H

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "Database.h"

namespace tidewire::gateway {

struct OutboxRow {
    int64_t id = 0;
    std::string recipient;
    std::string text;
    bool longMessage = false;
    bool deliveryReport = false;
    int attempts = 0;
};

struct InboxRecord {
    std::string sender;
    std::string networkTime;  // as the library's record gives it
    std::string text;
};

class Store {
  public:
    // The schema version this gateway creates and works with.
    static const int kSchemaVersion;
    // A row whose lease has run out this many times (its gateways died sending it) is failed
    // instead of being claimed again.
    static const int kMaxAttempts;

    explicit Store(std::unique_ptr<Database> database);

    Database& database() { return *database_; }

    // Creates the schema or brings it up to kSchemaVersion; several gateways starting at once
    // take turns. Throws StoreError, also for a schema newer than this gateway knows.
    void Migrate();

    // The version recorded in the store, 0 when it has no schema yet. Changes nothing.
    int SchemaVersion();

    // Counters row of this gateway, created on its first start; marks the start.
    void RegisterGateway(const std::string& gateway);

    // Claims the oldest row that is pending or whose lease ran out, for leaseSeconds.
    std::optional<OutboxRow> Claim(const std::string& gateway, int leaseSeconds);

    // Extends this gateway's lease on a row it is sending; false when the row is no longer
    // its own (the lease ran out and another gateway took it).
    bool RenewLease(int64_t id, const std::string& gateway, int leaseSeconds);

    // Writes the outcome and counts it; false when the row was no longer this gateway's.
    bool Finish(int64_t id, const std::string& gateway, bool sent, const std::string& outcome,
                int32_t messageId);

    // Writes what the status reports of a row this gateway sent tell, with the time it learnt it.
    void RecordDelivery(int64_t id, const std::string& gateway, bool delivered);

    // Gives a claimed row back untried (a stop before the module took it).
    void Release(int64_t id, const std::string& gateway);

    // Writes one received message and counts it, in one transaction.
    void StoreReceived(const InboxRecord& record, const std::string& gateway);

    // Counts returns of the gateway's module after it went away.
    void CountReconnects(const std::string& gateway, int returns);

    // The queue depth and the time, for monitoring.
    void Heartbeat(const std::string& gateway);

    // Inserts one message for the gateways to send; its row id.
    int64_t Queue(const std::string& recipient, const std::string& text);

  private:
    std::string Sql(const char* statement) const;
    bool HasSchemaTable();

    std::unique_ptr<Database> database_;
};

// The inbox's duplicate key: FNV-1a (64 bits) over sender, NUL, time stamp, NUL, text, as 16
// lower-case hex digits.
std::string DedupKey(const InboxRecord& record);

}  // namespace tidewire::gateway

#endif

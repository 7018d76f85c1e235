// Store connections for the workers: opened when first needed, reused, and
// dropped after a failure, so that a store that went away and came back is
// reached again by the next request without restarting the server.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/result.h"
#include "store/inventory_store.h"

namespace veltrix::server {

class StorePool {
public:
    explicit StorePool(std::string target) : target_(std::move(target)) {}

    class Lease {
    public:
        Lease(StorePool& pool, std::unique_ptr<store::InventoryStore> store) : pool_(&pool), store_(std::move(store)) {}
        Lease(Lease&& other) noexcept : pool_(other.pool_), store_(std::move(other.store_)) {}
        Lease(const Lease&) = delete;
        ~Lease() {
            if (store_) pool_->giveBack(std::move(store_));
        }
        store::InventoryStore& operator*() { return *store_; }
        store::InventoryStore* operator->() { return store_.get(); }
        // The connection failed: it is closed instead of kept.
        void discard() { store_.reset(); }

    private:
        StorePool* pool_;
        std::unique_ptr<store::InventoryStore> store_;
    };

    // A failure means the store cannot be reached now.
    Result<Lease> acquire();

private:
    void giveBack(std::unique_ptr<store::InventoryStore> store);

    std::string target_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<store::InventoryStore>> idle_;
};

}  // namespace veltrix::server

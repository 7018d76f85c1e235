#include "server/store_pool.h"

namespace veltrix::server {

Result<StorePool::Lease> StorePool::acquire() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!idle_.empty()) {
            auto store = std::move(idle_.back());
            idle_.pop_back();
            return Lease(*this, std::move(store));
        }
    }
    // The server made or upgraded the store when it started; a worker only
    // ever uses it as it is.
    auto opened = store::InventoryStore::open(target_, store::OpenMode::Existing);
    if (!opened) return opened.failure();
    return Lease(*this, std::move(*opened));
}

void StorePool::giveBack(std::unique_ptr<store::InventoryStore> store) {
    std::lock_guard<std::mutex> lock(mutex_);
    idle_.push_back(std::move(store));
}

}  // namespace veltrix::server

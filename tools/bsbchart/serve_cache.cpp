#include "serve_cache.h"

namespace serve {

std::shared_ptr<const std::string> TileCache::Find(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = index_.find(key);
    if (found == index_.end()) {
        ++misses_;
        return nullptr;
    }
    ++hits_;
    order_.splice(order_.begin(), order_, found->second);
    return found->second->second;
}

void TileCache::Insert(const std::string& key, std::shared_ptr<const std::string> tile) {
    if (!tile) return;
    Entry entry(key, std::move(tile));
    const size_t cost = Cost(entry);
    if (cost > capacity_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = index_.find(key);
    if (found != index_.end()) {
        // Made twice by requests that came at once: the first one stays.
        order_.splice(order_.begin(), order_, found->second);
        return;
    }
    while (bytes_ + cost > capacity_ && !order_.empty()) {
        bytes_ -= Cost(order_.back());
        index_.erase(order_.back().first);
        order_.pop_back();
    }
    order_.push_front(std::move(entry));
    index_.emplace(order_.front().first, order_.begin());
    bytes_ += cost;
}

TileCache::Counts TileCache::counts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    Counts counts;
    counts.bytes = bytes_;
    counts.entries = order_.size();
    counts.hits = hits_;
    counts.misses = misses_;
    return counts;
}

}  // namespace serve

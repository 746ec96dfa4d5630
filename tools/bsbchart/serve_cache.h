// The viewer's tile cache: finished PNG tiles by request, the least recently
// used dropped first once their bytes would pass the bound. Shared by the
// server's worker threads.
#ifndef BSBCHART_COMMAND_SERVE_CACHE_H
#define BSBCHART_COMMAND_SERVE_CACHE_H

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace serve {

class TileCache {
public:
    // capacity 0: nothing is kept.
    explicit TileCache(size_t capacityBytes) : capacity_(capacityBytes) {}

    // The tile, or null; a hit makes it the most recently used.
    std::shared_ptr<const std::string> Find(const std::string& key);
    void Insert(const std::string& key, std::shared_ptr<const std::string> tile);

    struct Counts {
        size_t bytes = 0;    // counted as each entry's key, tile and bookkeeping
        size_t entries = 0;
        uint64_t hits = 0;
        uint64_t misses = 0;
    };
    Counts counts() const;

    // What one entry is counted as beyond its key and tile.
    static constexpr size_t kEntryOverhead = 128;

private:
    using Entry = std::pair<std::string, std::shared_ptr<const std::string>>;
    static size_t Cost(const Entry& entry) { return entry.first.size() + entry.second->size() + kEntryOverhead; }

    mutable std::mutex mutex_;
    const size_t capacity_;
    size_t bytes_ = 0;
    uint64_t hits_ = 0, misses_ = 0;
    std::list<Entry> order_;  // most recently used first
    std::unordered_map<std::string, std::list<Entry>::iterator> index_;
};

}  // namespace serve

#endif

// The call journal: one JSON object per SDK call, kept in memory until cleared and, when the
// environment names a file, appended to that file as one line per entry.
// Thread-safe: calls arrive from any thread; one mutex orders the entries.
#ifndef KOVA_STANDIN_JOURNAL_H
#define KOVA_STANDIN_JOURNAL_H

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "Json.h"

namespace kova_standin {

class Journal {
public:
    // Appends {"op":op,"args":args} (plus "lib" for a tagged build) in memory and, when
    // KOVA_STANDIN_JOURNAL_FILE is set, to that file (opened, appended and closed per entry so
    // another process can read it while this one runs).
    void Append(const char* op, Json args);
    // The JSON array of all entries since the last Clear.
    std::string Text() const;
    void Clear();
    // Journaling is on from the start; while it is off, Append records nothing, so that a benchmark
    // measures the caller rather than the journal.
    void SetEnabled(bool on) { enabled_.store(on, std::memory_order_relaxed); }
    bool Enabled() const { return enabled_.load(std::memory_order_relaxed); }

private:
    std::atomic<bool> enabled_{true};
    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
};

// The tag of this build's journal entries, or null (defined per library variant).
const char* LibraryTag();

}  // namespace kova_standin

#endif  // KOVA_STANDIN_JOURNAL_H

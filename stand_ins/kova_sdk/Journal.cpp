#include "Journal.h"

#include <cstdio>
#include <cstdlib>

namespace kova_standin {

void Journal::Append(const char* op, Json args) {
    if (!Enabled()) return;
    Json entry = Json::object();
    entry["op"] = op;
    entry["args"] = std::move(args);
    if (const char* tag = LibraryTag()) entry["lib"] = tag;
    // Replacement characters instead of an exception: every string here is built from latin1
    // bytes and so is valid UTF-8, but a journal line must never throw into the caller.
    std::string line = entry.dump(-1, ' ', false, Json::error_handler_t::replace);

    std::lock_guard<std::mutex> lock(mutex_);
    if (const char* path = std::getenv("KOVA_STANDIN_JOURNAL_FILE"); path != nullptr && *path != '\0') {
        if (FILE* file = std::fopen(path, "a")) {
            std::fprintf(file, "%s\n", line.c_str());
            std::fclose(file);
        }
    }
    entries_.push_back(std::move(line));
}

std::string Journal::Text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text = "[";
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (i > 0) text += ',';
        text += entries_[i];
    }
    text += ']';
    return text;
}

void Journal::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
}

}  // namespace kova_standin

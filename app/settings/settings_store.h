// The one settings record of a run, shared by the window's thread (which changes and saves
// it) and the page server's threads (which read it for each request).
#pragma once

#include <filesystem>
#include <mutex>
#include <utility>

#include "app/settings/settings.h"

namespace ringolan::setup {

class SettingsStore {
public:
    // The record starts at its defaults; LoadSettings fills it from the file.
    explicit SettingsStore(std::filesystem::path file) : file_(std::move(file)) {}

    const std::filesystem::path& file() const { return file_; }

    // Fills the record from the file (once, at program start).
    void LoadSettings();
    // Writes the record as it stands now; throws IniWriteError (see Settings::save).
    void SaveSettings() const;

    // A copy of the current record.
    Settings get() const {
        std::lock_guard lock(mutex_);
        return settings_;
    }

    // Changes the record under the lock: fn(Settings&). Keep fn short; readers wait for it.
    template <class Fn>
    void update(Fn&& fn) {
        std::lock_guard lock(mutex_);
        std::forward<Fn>(fn)(settings_);
    }

private:
    std::filesystem::path file_;
    mutable std::mutex mutex_;       // guards settings_
    mutable std::mutex save_mutex_;  // one save at a time, so saves do not interleave keys
    Settings settings_;
};

}  // namespace ringolan::setup

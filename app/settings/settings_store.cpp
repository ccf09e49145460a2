#include "app/settings/settings_store.h"

namespace ringolan::setup {

void SettingsStore::LoadSettings() {
    Settings loaded = Settings::load(file_);
    std::lock_guard lock(mutex_);
    settings_ = std::move(loaded);
}

void SettingsStore::SaveSettings() const {
    std::lock_guard saving(save_mutex_);
    get().save(file_);  // written from a copy, so readers are not held up by the disk
}

}  // namespace ringolan::setup

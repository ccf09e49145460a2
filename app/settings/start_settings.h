// The start page's part of the settings record.
#pragma once

#include "app/settings/settings.h"
#include "app/settings/settings_store.h"
#include "pages/page_context.h"

namespace ringolan::setup {

inline pages::StartSettings to_start_settings(const Settings& s) {
    return pages::StartSettings{s.StartPicture, s.LinkText, s.LinkTarget};
}

// For the page server's handler: the values as they are at this request.
inline pages::StartSettings current_start_settings(const SettingsStore& store) {
    return to_start_settings(store.get());
}

}  // namespace ringolan::setup

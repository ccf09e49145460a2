// What a page generator works with: the snapshot it reads and the regional settings.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "common/error.h"
#include "db/snapshot/snapshot.h"

namespace ringolan::pages {

// A request value that cannot be what its column holds. The message is plain German, names
// the parameter and holds no SQL; the answer is an error page, never a database message.
class InputError : public Error {
public:
    using Error::Error;
};

// The start page's settings (section "Startseite"), read at each request so that a change
// takes effect on the next one. Windows-1252.
struct StartSettings {
    std::string StartPicture = "SScheibe.jpg";
    std::string LinkText = "Aktuelle Termine";
    std::string LinkTarget = "Termine.htm";
};

struct PageContext {
    std::shared_ptr<const db::Snapshot> snapshot;  // one snapshot for the whole page
    StartSettings start;
};

// The snapshot a page reads; throws db::QueryError when no competition file is open.
const db::Snapshot& page_snapshot(const PageContext& ctx);

}  // namespace ringolan::pages

// What a page generator works with: the snapshot it reads and the regional settings.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "db/snapshot/snapshot.h"

namespace ringolan::pages {

// A request value that cannot be what its column holds. The message is plain German, names
// the parameter and holds no SQL; the answer is an error page, never a database message.
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct PageContext {
    std::shared_ptr<const db::Snapshot> snapshot;  // one snapshot for the whole page
};

}  // namespace ringolan::pages

#include "server/body_file.h"

namespace ringolan::server {

std::shared_ptr<const BodyFile> make_body_file(std::string_view bytes) { return BodyFile::of("ringolan-page", bytes); }

}  // namespace ringolan::server

// parse_dump_stream on a thread of its own: the statements reach the sink on the calling thread
// in order, in batches, so unpacking and parsing run beside the sink's work.
#pragma once

#include <functional>

#include "site/statement_parser.h"

namespace ringolan::site {

// As parse_dump_stream(source, sink); source is read on the other thread only. What either side
// throws ends both and is thrown here: the sink's error at once, the parser's after the
// statements before it have reached the sink.
void parse_dump_beside(const DumpSource& source, const std::function<void(Statement&&)>& sink);

}  // namespace ringolan::site

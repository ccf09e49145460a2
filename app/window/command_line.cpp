#include "app/window/command_line.h"

#include <stdexcept>

namespace ringolan::window {

CommandLine parse_command_line(const std::vector<std::string>& args) {
    CommandLine out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            out.help = true;
            continue;
        }
        if (arg != "--ini" && arg != "--port") throw std::invalid_argument("unknown option " + arg);
        if (i + 1 >= args.size()) throw std::invalid_argument(arg + " needs a value");
        const std::string& value = args[++i];
        if (arg == "--ini") {
            if (value.empty()) throw std::invalid_argument("--ini needs a file name");
            out.ini = std::filesystem::path(value);
            continue;
        }
        bool digits = !value.empty() && value.size() <= 5;
        for (char c : value) digits = digits && c >= '0' && c <= '9';
        if (!digits || std::stoul(value) > 65535) throw std::invalid_argument("invalid port \"" + value + "\"");
        out.port = static_cast<uint16_t>(std::stoul(value));
    }
    return out;
}

}  // namespace ringolan::window

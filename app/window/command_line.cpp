#include "app/window/command_line.h"

#include <stdexcept>
#include <string_view>

namespace ringolan::window {

std::string command_line_help() {
    const std::string_view usage = kCommandLineUsage;
    const std::size_t synopsis_end = usage.find('\n') + 1;
    return std::string(usage.substr(0, synopsis_end)) +
           "The desktop program: serves the result pages of a competition file, uploads it to the\n"
           "results site and keeps its settings, with a window and a tray icon. Qt's own options\n"
           "(-platform, -style, ...) are accepted too. Without a display, ringolan-server serves the\n"
           "pages alone.\n"
           "\n"
           "Options:\n" +
           std::string(usage.substr(synopsis_end)) +
           "  -h, --help  show this help and exit\n"
           "  --version   show the version and exit\n"
           "\n"
           "Examples:\n"
           "  $ ringolan --port 8080\n"
           "  $ ringolan --ini test.ini -platform offscreen\n"
           "\n"
           "Exit status:\n"
           "  0  the program was ended from its window or tray icon\n"
           "  1  no display\n"
           "  2  usage error\n";
}

CommandLine parse_command_line(const std::vector<std::string>& args) {
    CommandLine out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h" || arg == "--version") {
            (arg == "--version" ? out.version : out.help) = true;
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

// ringolan-mkdemo: writes a demo competition database.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

#include "common/cli.h"
#include "common/error.h"
#include "common/number.h"
#include "tools/mkdemo/demo.h"

namespace {

constexpr int kMaxShooters = 200000;
constexpr long long kMaxRound = 999999999;  // nine digits in the marker

const char* kSynopsis = "usage: ringolan-mkdemo [--shooters N] [--seed S] [--round R] [--no-itdatum] -o FILE.mdb\n";

const char* kOptions =
    "  --shooters N   number of shooters, 1 to 200000 (default 300)\n"
    "  --seed S       random seed, 0 to 18446744073709551615 (default 1); the same seed\n"
    "                 gives the same file\n"
    "  --round R      a later state, 0 to 999999999 (default 0): the same shooters, numbers\n"
    "                 and lists, other results, and \"~R<R>~\" in the names and titles\n"
    "  --no-itdatum   leave out the \"itdatum\" row of Veranstaltung\n"
    "  -o FILE.mdb    the database to write (replaced if it exists)\n";

const std::string kHelp = std::string(kSynopsis) +
    "Writes a demo competition database: shooters, clubs, lists and results made up from a seed.\n"
    "\n"
    "Options:\n" + kOptions +
    "  -h, --help     show this help and exit\n"
    "  --version      show the version and exit\n"
    "\n"
    "Examples:\n"
    "  $ ringolan-mkdemo --shooters 300 --seed 1 -o demo.mdb\n"
    "  $ ringolan-mkdemo --shooters 300 --seed 1 --round 2 -o demo.mdb\n"
    "\n"
    "Exit status:\n"
    "  0  the file was written\n"
    "  1  the file could not be written\n"
    "  2  usage error\n";

struct UsageError : ringolan::Error {
    using Error::Error;
};

template <class T>
T number_option(std::string_view option, std::string_view text) {
    if (const std::optional<T> value = ringolan::text::parse_number<T>(text)) return *value;
    throw UsageError(std::string(option) + " needs a whole number, not \"" + std::string(text) + "\"");
}

struct Args {
    ringolan::demo::DemoOptions options;
    std::string output;
    ringolan::cli::StandardOption standard = ringolan::cli::StandardOption::none;
};

Args parse(int argc, char** argv) {
    Args a;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string_view value;
        bool inline_value = false;
        if (arg.rfind("--", 0) == 0) {
            if (const auto eq = arg.find('='); eq != std::string_view::npos) {
                value = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                inline_value = true;
            }
        }
        auto take = [&]() -> std::string_view {
            if (inline_value) return value;
            if (i + 1 >= argc) throw UsageError(std::string(arg) + " needs a value");
            return argv[++i];
        };
        if (const auto standard = ringolan::cli::standard_option(arg); standard != ringolan::cli::StandardOption::none && !inline_value) {
            a.standard = standard;
        } else if (arg == "--shooters") {
            const long long n = number_option<long long>(arg, take());
            if (n < 1 || n > kMaxShooters)
                throw UsageError("--shooters must be between 1 and " + std::to_string(kMaxShooters));
            a.options.shooters = static_cast<int>(n);
        } else if (arg == "--seed") {
            a.options.seed = number_option<uint64_t>(arg, take());
        } else if (arg == "--round") {
            const long long r = number_option<long long>(arg, take());
            if (r < 0 || r > kMaxRound) throw UsageError("--round must be between 0 and " + std::to_string(kMaxRound));
            a.options.round = static_cast<uint32_t>(r);
        } else if (arg == "-o" || arg == "--output") {
            const std::string_view out = take();
            if (out.empty()) throw UsageError("the output file name is empty");
            a.output = out;
        } else if (arg == "--no-itdatum" && !inline_value) {
            a.options.itdatum = false;
        } else {
            throw UsageError("unknown argument \"" + std::string(argv[i]) + "\"");
        }
    }
    if (a.standard == ringolan::cli::StandardOption::none && a.output.empty()) throw UsageError("no output file given (-o FILE.mdb)");
    return a;
}

}  // namespace

int main(int argc, char** argv) {
    Args args;
    try {
        args = parse(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "ringolan-mkdemo: %s\n%s%s", e.what(), kSynopsis, kOptions);
        return ringolan::cli::kExitUsage;
    }
    if (args.standard != ringolan::cli::StandardOption::none)
        return ringolan::cli::answer(args.standard, "ringolan-mkdemo", kHelp);
    try {
        const auto s = ringolan::demo::write_demo(args.options, args.output);
        std::printf("%s: %zu tables, %zu rows, %ju bytes (%d shooters, seed %ju", args.output.c_str(), s.tables, s.rows,
                    s.bytes, args.options.shooters, static_cast<uintmax_t>(args.options.seed));
        if (args.options.round != 0) std::printf(", round %u", args.options.round);
        std::printf(")\n");
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ringolan-mkdemo: cannot write %s: %s\n", args.output.c_str(), e.what());
        return 1;
    }
}

// ringolan-mkdemo: writes a demo competition database, or changes one as a running competition.
#include <atomic>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "common/cli.h"
#include "common/error.h"
#include "common/number.h"
#include "tools/mkdemo/demo.h"
#include "tools/mkdemo/live.h"

namespace {

constexpr int kMaxShooters = 200000;
constexpr long long kMaxRound = 999999999;  // nine digits in the marker

constexpr double kMinRate = 0.5, kMaxRate = 1000;
constexpr double kMaxSeconds = 366.0 * 86400;

const char* kSynopsis =
    "usage: ringolan-mkdemo [--shooters N] [--seed S] [--round R] [--no-itdatum] -o FILE.mdb\n"
    "       ringolan-mkdemo --live FILE.mdb [--changes-per-second N] [--seconds S] [--changes C] [--seed S]\n"
    "                       [--trace FILE]\n";

const char* kOptions =
    "  --shooters N            number of shooters, 1 to 200000 (default 300)\n"
    "  --seed S                random seed, 0 to 18446744073709551615 (default 1); the same\n"
    "                          seed gives the same file (with --live: the same changes)\n"
    "  --round R               a later state, 0 to 999999999 (default 0): the same shooters,\n"
    "                          numbers and lists, other results, and \"~R<R>~\" in the names\n"
    "                          and titles\n"
    "  --no-itdatum            leave out the \"itdatum\" row of Veranstaltung\n"
    "  -o FILE.mdb             the database to write (replaced if it exists)\n"
    "  --live FILE.mdb         change a demo file in place as a running competition does:\n"
    "                          shots added, new cards, corrections; ranks and teams follow\n"
    "  --changes-per-second N  pace of --live, 0.5 to 1000 changes a second (default: as\n"
    "                          fast as it can)\n"
    "  --seconds S             stop after N * S changes (needs --changes-per-second)\n"
    "  --changes C             stop after C changes\n"
    "  --trace FILE            one line per change to FILE: time in ms since 1970, start number,\n"
    "                          shots and rings in tenths of the changed result (\"-\": stdout)\n";

const std::string kHelp = std::string(kSynopsis) +
    "Writes a demo competition database: shooters, clubs, lists and results made up from a seed.\n"
    "\n"
    "With --live it changes such a file in place, page by page with plain writes and without a\n"
    "journal, so that readers may catch it in the middle of a change. Between two changes every\n"
    "shooter's results equal what his targets give (Teiler lists: the best Teiler; otherwise the\n"
    "sum of the card totals, each the sum of its shots); a change writes the targets first and\n"
    "the ranks last. Without --seconds and --changes it runs until SIGINT or SIGTERM and stops\n"
    "between two changes. It prints one line a second with the changes and pages written.\n"
    "\n"
    "Options:\n" + kOptions +
    "  -h, --help              show this help and exit\n"
    "  --version               show the version and exit\n"
    "\n"
    "Examples:\n"
    "  $ ringolan-mkdemo --shooters 300 --seed 1 -o demo.mdb\n"
    "  $ ringolan-mkdemo --shooters 300 --seed 1 --round 2 -o demo.mdb\n"
    "  $ ringolan-mkdemo --live demo.mdb --changes-per-second 20\n"
    "\n"
    "Exit status:\n"
    "  0  the file was written (--live: changed, also when stopped by a signal)\n"
    "  1  the file could not be written (--live: not read, not a demo file or not written)\n"
    "  2  usage error\n";

struct UsageError : ringolan::Error {
    using Error::Error;
};

template <class T>
T number_option(std::string_view option, std::string_view text) {
    if (const std::optional<T> value = ringolan::text::parse_number<T>(text)) return *value;
    throw UsageError(std::string(option) + " needs a whole number, not \"" + std::string(text) + "\"");
}

// A decimal number such as "0.5" or "20" (no exponent, no sign).
double decimal_option(std::string_view option, std::string_view text) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
    if (text.empty() || text.front() == '-' || ec != std::errc() || stop != end || !std::isfinite(value))
        throw UsageError(std::string(option) + " needs a number, not \"" + std::string(text) + "\"");
    return value;
}

struct Args {
    ringolan::demo::DemoOptions options;
    std::string output;
    bool generator_options = false;  // --shooters, --round or --no-itdatum given
    std::optional<ringolan::demo::LiveOptions> live;
    std::optional<double> per_second, seconds;
    std::optional<uint64_t> changes;
    std::string trace;
    ringolan::cli::StandardOption standard = ringolan::cli::StandardOption::none;
};

// The options that go together; the live options checked and set.
void check(Args& a) {
    if (a.standard != ringolan::cli::StandardOption::none) return;
    if (!a.live) {
        if (a.per_second || a.seconds || a.changes || !a.trace.empty())
            throw UsageError("--changes-per-second, --seconds, --changes and --trace go with --live only");
        if (a.output.empty()) throw UsageError("no output file given (-o FILE.mdb)");
        return;
    }
    if (!a.output.empty() || a.generator_options)
        throw UsageError("--live changes an existing file; -o, --shooters, --round and --no-itdatum do not go with it");
    if (a.per_second && (*a.per_second < kMinRate || *a.per_second > kMaxRate))
        throw UsageError("--changes-per-second must be between 0.5 and 1000");
    if (a.seconds && !a.per_second) throw UsageError("--seconds needs --changes-per-second");
    if (a.seconds && (*a.seconds <= 0 || *a.seconds > kMaxSeconds))
        throw UsageError("--seconds must be above 0 and at most " + std::to_string(int64_t(kMaxSeconds)));
    a.live->seed = a.options.seed;
    a.live->per_second = a.per_second.value_or(0);
    a.live->seconds = a.seconds;
    a.live->changes = a.changes;
}

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
            a.generator_options = true;
        } else if (arg == "--seed") {
            a.options.seed = number_option<uint64_t>(arg, take());
        } else if (arg == "--round") {
            const long long r = number_option<long long>(arg, take());
            if (r < 0 || r > kMaxRound) throw UsageError("--round must be between 0 and " + std::to_string(kMaxRound));
            a.options.round = static_cast<uint32_t>(r);
            a.generator_options = true;
        } else if (arg == "-o" || arg == "--output") {
            const std::string_view out = take();
            if (out.empty()) throw UsageError("the output file name is empty");
            a.output = out;
        } else if (arg == "--no-itdatum" && !inline_value) {
            a.options.itdatum = false;
            a.generator_options = true;
        } else if (arg == "--live") {
            const std::string_view file = take();
            if (file.empty()) throw UsageError("the file name after --live is empty");
            a.live = ringolan::demo::LiveOptions{};
            a.live->file = std::string(file);
        } else if (arg == "--changes-per-second") {
            a.per_second = decimal_option(arg, take());
        } else if (arg == "--seconds") {
            a.seconds = decimal_option(arg, take());
        } else if (arg == "--changes") {
            a.changes = number_option<uint64_t>(arg, take());
        } else if (arg == "--trace") {
            a.trace = take();
        } else {
            throw UsageError("unknown argument \"" + std::string(argv[i]) + "\"");
        }
    }
    check(a);
    return a;
}

std::atomic<bool> g_stop{false};
extern "C" void on_stop_signal(int) { g_stop = true; }

int run_live(ringolan::demo::LiveOptions options, const std::string& trace) {
    std::FILE* trace_file = nullptr;
    if (!trace.empty()) {
        trace_file = trace == "-" ? stdout : std::fopen(trace.c_str(), "w");
        if (!trace_file) {
            std::fprintf(stderr, "ringolan-mkdemo: cannot write %s\n", trace.c_str());
            return 1;
        }
        options.trace = trace_file;
    }
    struct Close {
        std::FILE* f;
        ~Close() {
            if (f && f != stdout) std::fclose(f);
        }
    } close{trace_file};
    std::signal(SIGINT, on_stop_signal);
    std::signal(SIGTERM, on_stop_signal);
    const std::string name = options.file.string();
    try {
        const auto s = ringolan::demo::run_live(options, g_stop, stdout);
        const auto& c = s.counts;
        std::printf("%s: %ju changes (%ju shots, %ju new cards, %ju corrections), %ju pages written in %.2f s",
                    name.c_str(), static_cast<uintmax_t>(c.changes), static_cast<uintmax_t>(c.shots),
                    static_cast<uintmax_t>(c.cards), static_cast<uintmax_t>(c.corrections),
                    static_cast<uintmax_t>(c.pages), s.seconds);
        if (c.repaired) std::printf("; %ju rows put right first", static_cast<uintmax_t>(c.repaired));
        if (s.interrupted) std::printf("; stopped by a signal");
        if (s.exhausted) std::printf("; nothing left to change");
        std::printf("\n");
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ringolan-mkdemo: %s\n", e.what());
        return 1;
    }
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
    if (args.live) return run_live(*args.live, args.trace);
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

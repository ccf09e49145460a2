// ringolan: the desktop program. Loads the settings, creates the results database and the main
// window, and runs until the window is closed.
#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "app/settings/paths.h"
#include "app/settings/settings_store.h"
#include "app/window/command_line.h"
#include "app/window/main_window.h"
#include "common/cli.h"
#include "common/version.h"
#include "db/dm/results_database.h"

int main(int argc, char** argv) {
    using namespace ringolan;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    // Qt's own options (-platform offscreen, ...) are left to QApplication; ours are read
    // from what it leaves.
    // Answered before QApplication, which would need a display.
    for (const auto& a : args)
        if (const auto standard = cli::standard_option(a); standard != cli::StandardOption::none)
            return cli::answer(standard, "ringolan", window::command_line_help());

    bool platform_given = std::getenv("QT_QPA_PLATFORM") != nullptr;
    for (const auto& a : args) platform_given = platform_given || a == "-platform";
    if (!platform_given && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
        std::fputs("ringolan: no display; without one, ringolan-server serves the pages alone\n", stderr);
        return cli::kExitFailure;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ringolan"));
    QApplication::setApplicationVersion(QString::fromLatin1(build_info::kVersion));
    QApplication::setQuitOnLastWindowClosed(false);  // a window hidden in the tray is not closed

    window::CommandLine options;
    try {
        std::vector<std::string> left;
        for (int i = 1; i < argc; ++i) left.emplace_back(argv[i]);
        options = window::parse_command_line(left);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ringolan: %s\n%s", e.what(), window::kCommandLineUsage);
        return cli::kExitUsage;
    }

    const std::filesystem::path program_dir = setup::program_file().parent_path();
    setup::SettingsPath where{};
    std::optional<setup::SettingsLocation> location;
    if (options.ini) {
        where.file = std::filesystem::absolute(*options.ini);
    } else {
        where = setup::settings_path(program_dir);
        location = where.location;
    }

    // LoadSettings, then the database, then the window (which opens the database file).
    setup::SettingsStore settings(where.file);
    settings.LoadSettings();
    db::ResultsDatabase database;
    window::WindowOptions window_options;
    window_options.program_dir = program_dir;
    window_options.settings_location = location;
    window_options.port = options.port;
    window::MainWindow window(settings, database, window_options);
    QObject::connect(&window, &window::MainWindow::closed, &app, &QApplication::quit, Qt::QueuedConnection);
    window.show();
    return app.exec();
}

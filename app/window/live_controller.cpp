#include "app/window/live_controller.h"

#include "app/window/upload_controller.h"

namespace ringolan::window {

LiveController::~LiveController() { stop(); }

void LiveController::stop() {
    if (publisher_) publisher_->cancel();
    if (worker_.joinable()) worker_.join();
    publisher_.reset();
}

bool LiveController::start(upload::LiveSettings settings) {
    if (running_.exchange(true)) return false;
    stop();  // the thread of the last run has ended or is about to

    upload::LiveEvents events;
    events.status = [this](const std::string& l) { emit lineAppended(upload_text(l)); };
    events.acknowledged = [this](const upload::BatchReport& r) {
        QString line = QStringLiteral("Live: Stapel %1 eingetragen (%2 Tabellen, %3 gel\u00f6scht, %4 eingef\u00fcgt, %5 ms)")
                           .arg(r.sequence)
                           .arg(r.tables)
                           .arg(r.deleted)
                           .arg(r.inserted)
                           .arg(r.elapsed.count());
        emit lineAppended(line);
    };
    publisher_ = std::make_unique<upload::LivePublisher>(std::move(settings), std::move(events));
    worker_ = std::thread([this] {
        QString error;
        try {
            publisher_->run();
        } catch (const std::exception& e) {
            error = upload_text(e.what());
        }
        running_ = false;
        emit stopped(error);
    });
    return true;
}

}  // namespace ringolan::window

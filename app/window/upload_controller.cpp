#include "app/window/upload_controller.h"

#include "common/cp1252.h"

namespace ringolan::window {

QString upload_text(const std::string& cp1252) { return QString::fromStdString(text::cp1252_to_utf8(cp1252)); }

UploadController::UploadController(upload::ItdatumWriter itdatum, QObject* parent)
    : QObject(parent), itdatum_(std::move(itdatum)) {}

UploadController::~UploadController() {
    cancel();
    join();
}

void UploadController::join() {
    if (worker_.joinable()) worker_.join();
}

void UploadController::cancel() {
    if (running_ && run_) run_->cancel();
}

bool UploadController::start(upload::UploadRequest request, std::shared_ptr<const db::Snapshot> snapshot) {
    if (running_.exchange(true)) return false;
    join();  // the thread of the last run has ended or is about to

    upload::UploadEvents events;
    events.append = [this](const std::string& l) { emit lineAppended(upload_text(l)); };
    events.replace_last = [this](const std::string& l) { emit lastLineReplaced(upload_text(l)); };
    events.progress = [this](int p) { emit progressChanged(p); };
    events.note = [this](const std::string& l) { emit noted(upload_text(l)); };
    run_ = std::make_unique<upload::UploadRun>(client_, std::move(events), itdatum_);

    worker_ = std::thread([this, request = std::move(request), snapshot = std::move(snapshot)] {
        bool ok = false, cancelled = false;
        QString error;
        try {
            run_->run(request, *snapshot);
            ok = true;
        } catch (const upload::UploadCancelled&) {
            cancelled = true;
        } catch (const std::exception& e) {
            cancelled = run_->cancelled();
            error = upload_text(e.what());
        }
        running_ = false;
        emit finished(ok, error, cancelled);
    });
    return true;
}

}  // namespace ringolan::window

// Runs the upload of the "IT-Upload" tab on a worker thread. The HTTP client lives as long as the
// controller (the window), so cookies and a kept connection carry over between runs. What the
// run reports reaches the window only through queued signals.
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>

#include "db/snapshot/snapshot.h"
#include "upload/upload_run.h"

namespace ringolan::window {

class UploadController : public QObject {
    Q_OBJECT
public:
    explicit UploadController(upload::ItdatumWriter itdatum = upload::itdatum_in_place, QObject* parent = nullptr);
    ~UploadController() override;  // cancels a run in progress and waits for its thread

    bool running() const { return running_.load(); }
    // Starts a run on the snapshot; false when one is running already.
    bool start(upload::UploadRequest request, std::shared_ptr<const db::Snapshot> snapshot);
    // Ends the run before its next request; a request in progress is broken off.
    void cancel();

signals:
    void lineAppended(const QString& line);
    void lastLineReplaced(const QString& line);
    void progressChanged(int position);
    void noted(const QString& text);
    // The run has ended: ok, or the error's text; cancelled when it was broken off.
    void finished(bool ok, const QString& error, bool cancelled);

private:
    void join();

    upload::HttpClient client_;
    upload::ItdatumWriter itdatum_;
    std::unique_ptr<upload::UploadRun> run_;
    std::thread worker_;
    std::atomic<bool> running_{false};
};

// Windows-1252 text of the run as Qt text.
QString upload_text(const std::string& cp1252);

}  // namespace ringolan::window

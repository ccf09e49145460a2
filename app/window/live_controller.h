// Runs live publishing (upload/live_publisher.h) for the "IT-Upload" tab on a thread of its own.
// Its log lines and its end reach the window only through queued signals.
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>

#include "upload/live_publisher.h"

namespace ringolan::window {

class LiveController : public QObject {
    Q_OBJECT
public:
    explicit LiveController(QObject* parent = nullptr) : QObject(parent) {}
    ~LiveController() override;  // stops publishing and waits for its thread

    bool running() const { return running_.load(); }
    // Starts publishing; false when it runs already.
    bool start(upload::LiveSettings settings);
    // Stops publishing and waits until its thread has ended.
    void stop();

signals:
    void lineAppended(const QString& line);
    // Publishing has ended: by stop (error empty) or because it cannot go on.
    void stopped(const QString& error);

private:
    std::unique_ptr<upload::LivePublisher> publisher_;
    std::thread worker_;
    std::atomic<bool> running_{false};
};

}  // namespace ringolan::window

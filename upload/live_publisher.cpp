#include "upload/live_publisher.h"

#include <nlohmann/json.hpp>

#include "common/cp1252.h"
#include "upload/live_dump.h"

namespace ringolan::upload {

namespace {

using Clock = std::chrono::steady_clock;

std::string seconds_text(std::chrono::milliseconds d) {
    const auto tenths = d.count() / 100;
    return std::to_string(tenths / 10) + "," + std::to_string(tenths % 10) + " s";
}

std::chrono::system_clock::time_point system_time(std::filesystem::file_time_type t) {
    return std::chrono::time_point_cast<std::chrono::system_clock::duration>(std::chrono::file_clock::to_sys(t));
}

// The outcome named in an answer of the changes address; empty when there is none.
std::string outcome_of(const std::string& body) {
    const nlohmann::json doc = nlohmann::json::parse(body, nullptr, false);
    if (!doc.is_object() || !doc.contains("outcome") || !doc["outcome"].is_string()) return {};
    return doc["outcome"].get<std::string>();
}

}  // namespace

void check_live_address(const Address& address, bool insecure) {
    const bool here = address.host == "localhost" || address.host == "127.0.0.1" || address.host == "::1";
    if (!address.tls && !here && !insecure)
        throw LiveError("Das Passwort w\xFCrde unverschl\xFCsselt an " + address.host +
                        " gehen: bitte eine https-Adresse verwenden (oder ausdr\xFC" "cklich --insecure)");
}

LivePublisher::LivePublisher(LiveSettings settings, LiveEvents events)
    : settings_(std::move(settings)), events_(std::move(events)), http_(settings_.http) {
    if (!settings_.itdatum) settings_.itdatum = itdatum_text_now;
}

void LivePublisher::status(const std::string& line) const {
    if (events_.status) events_.status(line);
}

void LivePublisher::cancel() {
    {
        std::lock_guard guard(mutex_);
        cancel_ = true;
    }
    wake_.notify_all();
    http_.cancel();
}

bool LivePublisher::pause_until(Clock::time_point deadline) {
    std::unique_lock guard(mutex_);
    wake_.wait_until(guard, deadline, [this] { return cancelled(); });
    return !cancelled();
}

void LivePublisher::run() {
    try {
        std::string path = "/api/v1/accounts/" + percent_encode(settings_.account_id) + "/changes";
        address_ = parse_address(build_address(settings_.base, path, {}));
    } catch (const AddressError& e) {
        throw LiveError(std::string("Ung\xFCltige Adresse: ") + e.what());
    }
    check_live_address(address_, settings_.insecure);
    authorization_ = basic_authorization(settings_.account_id, settings_.password);

    db::SnapshotFollower follower(settings_.database, settings_.follower);
    follower.on_change([this, &follower](const db::SnapshotFollower::Status& s) {
        if (const auto read = follower.current(); read && read->info().generation == s.generation)
            changes_.note(read->info());
        {
            std::lock_guard guard(mutex_);
            seen_generation_ = s.generation;
        }
        wake_.notify_all();
    });
    std::uint64_t done_generation = 0;
    std::string last_error;
    Clock::time_point next_batch{};
    while (!cancelled()) {
        {
            std::unique_lock guard(mutex_);
            wake_.wait_for(guard, std::chrono::seconds(1),
                           [&] { return cancelled() || seen_generation_ > done_generation; });
        }
        if (cancelled()) break;
        const db::SnapshotFollower::Status s = follower.status();
        if (!s.error.empty() && s.error != last_error) status("Datei nicht lesbar: " + s.error);
        last_error = s.error;
        const std::shared_ptr<const db::Snapshot> snapshot = follower.current();
        if (!snapshot || snapshot->info().generation == done_generation) continue;
        if (!pause_until(next_batch)) break;
        const std::shared_ptr<const db::Snapshot> newest = follower.current();
        if (!newest) continue;
        done_generation = newest->info().generation;
        const auto began = Clock::now();
        std::optional<TablesDump> dump = read_tables(*newest);
        if (!dump) continue;
        if (!publish(std::move(*dump), newest->info(), began)) break;
        next_batch = began + settings_.interval;
    }
}

std::optional<TablesDump> LivePublisher::read_tables(const db::Snapshot& snapshot) {
    try {
        // Tables the file did not change since the acknowledged state keep their lines; of some,
        // only the rows of the changed keys are read.
        const std::optional<FileChanges> changed =
            streaming_ ? changes_.between(acknowledged_generation_, snapshot.info().generation) : std::nullopt;
        if (changed)
            return dump_tables(snapshot, settings_.filter, settings_.itdatum(), acknowledged_, changed->tables,
                               changed->keys);
        return dump_tables(snapshot, settings_.filter, settings_.itdatum());
    } catch (const std::exception& e) {
        status(std::string("Tabellen nicht lesbar: ") + e.what());
        return std::nullopt;
    }
}

bool LivePublisher::publish(TablesDump dump, const db::SnapshotInfo& info, Clock::time_point began) {
    for (;;) {
        OutgoingBatch batch;
        if (streaming_) {
            batch = {stream_, sequence_, sequence_ + 1, diff_tables(acknowledged_, dump)};
            if (batch.tables.empty()) {  // the same lines: this state is the acknowledged one
                acknowledged_ = std::move(dump);
                acknowledged_generation_ = info.generation;
                return true;
            }
        } else {
            batch = {new_stream_id(), 0, 1, full_tables(dump)};
        }
        const auto started = Clock::now();
        const std::optional<Delivery> delivered = deliver(batch);
        if (!delivered) return false;
        if (delivered->conflict) {
            if (batch.base == 0) throw LiveError("Die Website nimmt keinen neuen Stream an");
            status("Die Website hat einen anderen Stand; alle Tabellen werden neu gesendet");
            streaming_ = false;
            continue;
        }
        streaming_ = true;
        stream_ = batch.stream;
        sequence_ = batch.sequence;
        acknowledged_ = std::move(dump);
        acknowledged_generation_ = info.generation;
        if (events_.acknowledged) {
            BatchReport r;
            r.stream = batch.stream;
            r.sequence = batch.sequence;
            r.full = batch.base == 0;
            r.duplicate = delivered->duplicate;
            r.tables = batch.tables.size();
            r.deleted = batch.deleted();
            r.inserted = batch.inserted();
            r.attempts = delivered->attempts;
            r.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
            r.prepared = std::chrono::duration_cast<std::chrono::milliseconds>(started - began);
            r.file_time = system_time(info.mtime);
            r.acknowledged = std::chrono::system_clock::now();
            events_.acknowledged(r);
        }
        return true;
    }
}

std::optional<LivePublisher::Delivery> LivePublisher::deliver(const OutgoingBatch& batch) {
    const std::string body = batch_json(batch);
    std::chrono::milliseconds pause{250};
    Delivery d;
    while (!cancelled()) {
        ++d.attempts;
        std::string problem;
        try {
            const LiveReply reply = http_.send("POST", address_, authorization_, body);
            const std::string outcome = outcome_of(reply.body);
            if ((reply.status == 200 || reply.status == 409) && !outcome.empty()) {
                d.conflict = outcome == "conflict";
                d.duplicate = outcome == "duplicate";
                return d;
            }
            if (reply.status == 401) throw LiveError("Anmeldung an der Website fehlgeschlagen (Konto oder Passwort falsch)");
            if (reply.status == 400 || reply.status == 413 || reply.status == 404 || reply.status == 405)
                throw LiveError("Die Website lehnt die \xC4nderungen ab (" + std::to_string(reply.status) +
                                "): " + text::utf8_to_cp1252(reply.body.substr(0, 300)));
            problem = "Antwort " + std::to_string(reply.status);
        } catch (const CancelledError&) {
            break;
        } catch (const TransportError& e) {
            problem = e.what();
        } catch (const ReplyFormatError& e) {
            problem = e.what();
        }
        status("Stapel " + std::to_string(batch.sequence) + " nicht best\xE4tigt (" + problem +
               "); neuer Versuch in " + seconds_text(pause));
        if (!pause_until(Clock::now() + pause)) break;
        pause = std::min(pause * 2, settings_.max_retry_pause);
    }
    return std::nullopt;
}

}  // namespace ringolan::upload

#include "db/dm/data_module.h"

#include "db/jet/journal.h"

#include "common/ascii.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace ringolan::db {
namespace {

// The longest a first read of a file may take before opening counts as failed.
constexpr std::chrono::milliseconds kOpenWait{kBuildLimit + std::chrono::seconds(5)};

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

}  // namespace

const std::string_view kConnectionTemplate =
    "Provider=Microsoft.Jet.OLEDB.4.0;User ID=Admin;Data Source=;Mode=Share Deny None;"
    "Jet OLEDB:System database=\"\";Jet OLEDB:Registry Path=\"\";Jet OLEDB:Database Password=\"\";"
    "Jet OLEDB:Engine Type=5;Jet OLEDB:Database Locking Mode=1;Jet OLEDB:Global Partial Bulk Ops=2;"
    "Jet OLEDB:Global Bulk Transactions=1;Jet OLEDB:New Database Password=\"\";"
    "Jet OLEDB:Create System Database=False;Jet OLEDB:Encrypt Database=False;"
    "Jet OLEDB:Don't Copy Locale on Compact=False;Jet OLEDB:Compact Without Replica Repair=False;"
    "Jet OLEDB:SFP=False;";

std::string ReplaceDataSource(std::string_view cs, std::string_view path) {
    static constexpr std::string_view kKey = "DATA SOURCE=";
    const size_t at = text::ascii_upper(cs).find(kKey);
    if (at == std::string::npos) return std::string(cs);  // nothing to replace
    const size_t value = at + kKey.size();
    std::string out(cs.substr(0, value));
    out += path;
    out += ';';
    const size_t end = cs.find(';', value);
    if (end != std::string_view::npos) out += cs.substr(end + 1);
    return out;
}

bool ParseDataSource(std::string_view cs, std::string& path) {
    bool found = false;
    while (!cs.empty()) {
        const size_t semi = cs.find(';');
        const std::string_view pair = cs.substr(0, semi);
        cs = semi == std::string_view::npos ? std::string_view() : cs.substr(semi + 1);
        if (trim(pair).empty()) continue;
        const size_t eq = pair.find('=');
        if (eq == std::string_view::npos) return false;
        if (!found && text::ascii_upper(trim(pair.substr(0, eq))) == "DATA SOURCE") {
            path = std::string(trim(pair.substr(eq + 1)));
            found = true;
        }
    }
    return found && !path.empty();
}

TDM::TDM() : connection_string_(kConnectionTemplate) {}
TDM::~TDM() = default;

void TDM::Close() { follower_.reset(); }

bool TDM::Connected() const { return follower_ && follower_->current(); }

bool TDM::OpenDatabase(const std::string& path) {
    Close();
    std::string source;
    // A path with ";" leaves its tail as a broken pair behind the data source, which every later
    // replacement would keep; start again from the template then.
    if (!ParseDataSource(ReplaceDataSource(connection_string_, "x"), source))
        connection_string_ = std::string(kConnectionTemplate);
    connection_string_ = ReplaceDataSource(connection_string_, path);
    if (!ParseDataSource(connection_string_, source)) return false;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(source, ec)) return false;
    // A time-stamp write of ours that was interrupted is undone before the file is read.
    if (std::filesystem::exists(jet::journal_path(source), ec)) {
        try {
            jet::recover(source);
        } catch (const std::exception&) {
            // the follower reads the file as it is; the next write retries the recovery
        }
    }
    auto follower = std::make_unique<SnapshotFollower>(source);
    follower->wait_for_attempt(kOpenWait);
    if (!follower->current()) return false;
    if (on_change_) follower->on_change(on_change_);
    follower_ = std::move(follower);
    return true;
}

void TDM::OnChange(std::function<void(const SnapshotFollower::Status&)> callback) {
    on_change_ = std::move(callback);
    if (follower_) follower_->on_change(on_change_);
}

std::shared_ptr<const Snapshot> TDM::Current() const { return follower_ ? follower_->current() : nullptr; }

SnapshotFollower::Status TDM::Status() const {
    return follower_ ? follower_->status() : SnapshotFollower::Status{};
}

}  // namespace ringolan::db

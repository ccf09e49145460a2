#include "tools/mkdemo/live_sim.h"

#include <cstring>

#include "common/error.h"
#include "db/jet/header.h"
#include "db/jet/inplace.h"
#include "db/jet/journal.h"
#include "tools/mkdemo/live_store.h"

namespace ringolan::demo {
namespace {

// The share of changes that add a shot or a card while some result has room for one; the
// others correct a shot.
constexpr double kAddShare = 0.85;
// Changes given up in a row (a row that no longer fits its page) before giving up altogether.
constexpr int kAttempts = 16;

}  // namespace

Simulator::Simulator(const std::filesystem::path& file, uint64_t seed, PageHook hook)
    : path_(file), seed_(seed), rng_(seed, 0x4C495645 /* "LIVE" */), hook_(std::move(hook)) {
    const std::string name = file.string();
    std::error_code ec;
    file_ = platform::File::open(file, platform::File::Access::read_write, ec);
    if (ec) throw Error("cannot open " + name + ": " + ec.message());
    const platform::File::Lock lock = file_.try_lock_exclusive(ec);
    if (lock == platform::File::Lock::busy) throw Error("another process of ours is writing " + name);
    if (lock == platform::File::Lock::failed) throw Error("cannot lock " + name + ": " + ec.message());
    jet::recover_locked(file, file_);  // an interrupted write of our own journaled writer
    if (const auto held = jet::jet_lock_file(file); !held.empty())
        throw Error(name + " is open in another program (lock file " + held.filename().string() + ")");
    platform::FileState st;
    if ((ec = file_.state(st))) throw Error("cannot read " + name + ": " + ec.message());
    if (st.size < 3 * jet::kPageSize || st.size % jet::kPageSize != 0)
        throw Error(name + " is no Jet 4 database (its size is not a whole number of pages)");
    pages_ = std::make_unique<jet::FilePages>(file_, st.size);
    const jet::Page& head = pages_->original(0);
    if (std::memcmp(head.data() + jet::kHeaderSignature, jet::kJetSignature, sizeof jet::kJetSignature - 1) != 0 ||
        head[jet::kHeaderVersion] != jet::kJetVersion4)
        throw Error(name + " is no Jet 4 database");
    try {
        state_ = load_state(*pages_, tables_);
    } catch (const jet::Unsupported& e) {
        throw Error(name + " is not a demo competition as ringolan-mkdemo writes it: " + e.what());
    } catch (const jet::LayoutError& e) {
        throw Error(name + " has an unexpected layout: " + e.what());
    }
    pages_->forget_unchanged();
    open_at_.assign(state_.results.size(), -1);
    closed_.assign(state_.results.size(), false);
    for (size_t r = 0; r < state_.results.size(); ++r) {
        if (state_.results[r].ranks.empty() || state_.results[r].cards.empty()) continue;
        ranked_.push_back(int32_t(r));
        update_open(int32_t(r));
    }
}

Simulator::~Simulator() = default;

bool Simulator::open_for_shots(int32_t result) const {
    const LiveResult& r = state_.results[result];
    if (closed_[result]) return false;
    return has_empty_place(state_, r) ||
           (tables_grow_ && int(r.cards.size()) < card_limit(*state_.disciplines[r.agg.disc]));
}

void Simulator::update_open(int32_t result) {
    const bool open = open_for_shots(result);
    int32_t& at = open_at_[result];
    if (open && at < 0) {
        at = int32_t(open_.size());
        open_.push_back(result);
    } else if (!open && at >= 0) {
        open_at_[open_.back()] = at;
        open_[at] = open_.back();
        open_.pop_back();
        at = -1;
    }
}

void Simulator::repair() {
    Change c = repairs(state_);
    const uint64_t rows = c.cards.size() + c.ranks.size() + c.teams.size();
    if (rows == 0) return;
    if (!write(std::move(c))) throw Error("cannot put right the rows of " + path_.string() + " that disagree with the cards");
    counts_.repaired += rows;
}

Change Simulator::choose() {
    while (!open_.empty() && rng_.chance(kAddShare)) {
        const int32_t r = open_[rng_.below(open_.size())];
        Marksman m{seed_, rng_};
        if (has_empty_place(state_, state_.results[r])) return shot_change(state_, r, m);
        if (open_for_shots(r)) return card_change(state_, r, m);
        update_open(r);  // no room for a card any more: drawn again
    }
    Marksman m{seed_, rng_};
    return correction_change(state_, ranked_[rng_.below(ranked_.size())], m);
}

bool Simulator::step() {
    if (ranked_.empty()) return false;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        Change c = choose();
        const ChangeKind kind = c.kind;
        const int32_t result = c.result;
        if (!write(std::move(c))) {
            // Its rank rows grew out of their page: no more shots or cards for it, corrections only.
            if (kind != ChangeKind::correction && result >= 0) {
                closed_[result] = true;
                update_open(result);
            }
            continue;
        }
        ++counts_.changes;
        last_result_ = result;
        ++(kind == ChangeKind::card ? counts_.cards : kind == ChangeKind::shot ? counts_.shots : counts_.corrections);
        update_open(result);
        return true;
    }
    return false;
}

std::string Simulator::last_change() const {
    if (last_result_ < 0) return {};
    const int32_t startnr = state_.results[size_t(last_result_)].startnr;
    int shots = 0, sum10 = 0;
    for (const LiveResult& r : state_.results) {
        if (r.startnr != startnr) continue;
        for (const int32_t card : r.cards) {
            const Target& t = state_.cards[size_t(card)].target;
            shots += t.shots;
            for (int i = 0; i < t.shots; ++i) sum10 += t.score10[size_t(i)];
        }
    }
    return std::to_string(startnr) + ' ' + std::to_string(shots) + ' ' + std::to_string(sum10);
}

bool Simulator::write(Change&& c) {
    PageOrder order;
    RowAt new_card_at;
    try {
        new_card_at = store_change(*pages_, tables_, state_, c, order);
    } catch (const TableFull&) {
        pages_->discard();
        tables_grow_ = false;
        return false;
    } catch (const jet::Unsupported&) {
        pages_->discard();
        return false;
    }
    for (uint32_t n : order.pages()) {
        const jet::Page& page = pages_->changed().at(n);
        if (const std::error_code ec = file_.write_all_at(page.data(), jet::kPageSize, uint64_t(n) * jet::kPageSize))
            throw Error("cannot write " + path_.string() + ": " + ec.message());
        ++counts_.pages;
        if (hook_) hook_();
    }
    pages_->commit();
    apply_change(state_, std::move(c), new_card_at);
    return true;
}

}  // namespace ringolan::demo

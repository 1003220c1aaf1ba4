// The parameter table through the facade and the flat interface: every row
// on every chip, strict and clamp per kind, read-only answers that leave
// the board untouched, transactions and their reports, registers by
// NAME@0xADDRESS.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <korvik/ChangeList.h>
#include <korvik/USBDevice.h>
#include <korvik/korvik.h>

#include "api/Library.h"
#include "board/EvUSBBoard.h"
#include "board/ParamTable.h"
#include "board/ScratchBoard.h"
#include "model/GreyfinModel.h"

using namespace KORVIK;

namespace {

struct Unplug {
    void operator()(USBDevice* d) const
    {
        d->get_board()->leave_registry();
        delete d;
    }
};
using Handle = std::unique_ptr<USBDevice, Unplug>;

Handle simulate(const std::string& chip)
{
    static int n = 0;
    return Handle(USBDevice::open_simulation("params-" + std::to_string(++n), "Params", chip, "0012340A0B0C"));
}

const char* const CHIPS[] = {"RC1200", "RC1400", "RC1100", "RC1300"};

// Everything a read-only answer must leave alone.
struct Snapshot {
    std::vector<unsigned> chip, changes;
    std::vector<std::string> values;

    static Snapshot of(const USBDevice& d)
    {
        Snapshot s;
        for (unsigned i = 0; i < d.get_registers(); ++i) {
            s.chip.push_back(d.get_register_chipvalue(i));
            s.changes.push_back(d.get_register_changemask(i));
        }
        for (const ParamInfo& p : USBDevice::get_param_table())
            if (d.has_param(p.name)) {
                const ParamValue v = d.get_param(p.name);
                s.values.push_back(std::string(p.name) + "=" + (v.is_text ? v.text : std::to_string(v.number)));
            }
        return s;
    }
    bool operator==(const Snapshot& o) const { return chip == o.chip && changes == o.changes && values == o.values; }
};

ParamValue number(double v)
{
    ParamValue p;
    p.number = v;
    return p;
}

ParamValue text(const std::string& s)
{
    ParamValue p;
    p.text = s;
    p.is_text = true;
    return p;
}

bool same_value(double a, double b)
{
    return std::fabs(a - b) <= 1e-9 * std::max({1.0, std::fabs(a), std::fabs(b)});
}

bool numeric(const ParamInfo& p)
{
    return p.kind == ParamKind::quantity || p.kind == ParamKind::choice || p.kind == ParamKind::flag;
}

} // namespace

TEST(ParamTable, RowsAreWellFormed)
{
    std::set<std::string> names, notifications;
#define KORVIK_LISTED(name) notifications.insert(#name);
    KORVIK_CHANGES(KORVIK_LISTED)
#undef KORVIK_LISTED
    for (const ParamInfo& p : USBDevice::get_param_table()) {
        SCOPED_TRACE(p.name);
        EXPECT_TRUE(names.insert(p.name).second) << "named twice";
        EXPECT_NE(p.chips, 0u) << "on no chip";
        EXPECT_EQ(USBDevice::find_param(p.name), &p);
        if (p.notification) {
            EXPECT_TRUE(notifications.count(p.notification)) << p.notification << " is no change notification";
        }
        // receive rows are not on the transmitter, transmit rows not on the receiver
        if (p.scope == ParamScope::rx) {
            EXPECT_FALSE(p.chips & PARAM_RC1100);
        }
        if (p.scope == ParamScope::tx) {
            EXPECT_FALSE(p.chips & PARAM_RC1400);
        }
        if (p.kind != ParamKind::quantity) {
            EXPECT_STREQ(p.unit, "");
        }
        EXPECT_FALSE(p.levels && p.kind != ParamKind::quantity);
    }
    EXPECT_EQ(USBDevice::find_param("no_such_parameter"), nullptr);
}

// Every read-only answer for every row on every chip: nothing on the board
// moves, no register is marked changed, no signal fires.
TEST(ParamTable, ReadOnlyAnswersLeaveTheBoardAlone)
{
    for (const char* chip : CHIPS) {
        SCOPED_TRACE(chip);
        Handle d = simulate(chip);
        d->set_chacc_slottime(0.1);
        d->set_chacc_ppersistence(0.5);
        d->commit_registers();
        int signals = 0;
        std::vector<sigc::connection> connections;
        connections.push_back(d->notify_changed_register([&](unsigned, unsigned char, unsigned char) { ++signals; }));
        for (const ParamInfo& p : USBDevice::get_param_table())
            connections.push_back(d->notify_changed_param(p.name, [&] { ++signals; }));
        const Snapshot before = Snapshot::of(*d);
        for (int hover = 0; hover < 5; ++hover)
            for (const ParamInfo& p : USBDevice::get_param_table()) {
                if (!d->has_param(p.name))
                    continue;
                SCOPED_TRACE(p.name);
                const ParamLimits l = d->get_param_limits(p.name);
                if (p.writable && numeric(p))
                    d->get_param_achieved(p.name, number(l.max + 1));
                d->check_params({{p.name, p.kind == ParamKind::address ? text("01:02:03:04:05:06")
                                          : p.kind == ParamKind::text  ? text("7654321")
                                                                       : number(l.min)}});
            }
        EXPECT_TRUE(Snapshot::of(*d) == before);
        EXPECT_EQ(signals, 0);
        EXPECT_DOUBLE_EQ(d->get_chacc_slottime(), 0.1);
        for (sigc::connection& c : connections)
            c.disconnect();
    }
}

// Strict and clamp for every kind, table-driven over every writable row of
// every chip: outside the range strict refuses and writes nothing, clamp
// sets the limit and says so.
TEST(ParamTable, StrictRefusesAndClampSetsTheLimitForEveryRowOnEveryChip)
{
    for (const char* chip : CHIPS) {
        Handle d = simulate(chip);
        for (const ParamInfo& p : USBDevice::get_param_table()) {
            if (!d->has_param(p.name) || !p.writable)
                continue;
            SCOPED_TRACE(std::string(chip) + " " + p.name);
            const ParamLimits l = d->get_param_limits(p.name);
            ParamValue outside;
            switch (p.kind) {
            case ParamKind::quantity: {
                const double beyond = std::max({1.0, std::fabs(l.max) * 0.5, l.step * 4});
                outside = number(l.max + beyond);
                break;
            }
            case ParamKind::choice:
                outside = number(double(l.choices.size()));
                break;
            case ParamKind::flag:
                outside = number(2);
                break;
            case ParamKind::address:
                outside = text("40:00:12:34:56");
                break;
            case ParamKind::text:
                outside = text(std::string(size_t(l.max) + 3, '7'));
                break;
            }
            const Snapshot before = Snapshot::of(*d);
            const ParamReport strict = d->apply_params({{p.name, outside}}, ParamPolicy::strict);
            EXPECT_FALSE(strict.accepted);
            EXPECT_EQ(strict.refused, p.name);
            EXPECT_NE(strict.error.find(p.name), std::string::npos) << strict.error;
            EXPECT_TRUE(Snapshot::of(*d) == before) << "a refused transaction wrote";

            const ParamReport clamp = d->apply_params({{p.name, outside}}, ParamPolicy::clamp);
            if (p.kind == ParamKind::quantity || p.kind == ParamKind::text) {
                ASSERT_TRUE(clamp.accepted) << clamp.error;
                EXPECT_TRUE(clamp.outcomes[0].clamped);
                if (p.kind == ParamKind::quantity) {
                    EXPECT_NEAR(clamp.outcomes[0].achieved.number, l.max, 1e-9 * std::max(1.0, std::fabs(l.max)));
                    EXPECT_NEAR(d->get_param(p.name).number, l.max, 1e-9 * std::max(1.0, std::fabs(l.max)));
                    // the range the chip holds is taken as it is, under either policy
                    const ParamReport inside = d->apply_params({{p.name, number(l.min)}}, ParamPolicy::strict);
                    EXPECT_TRUE(inside.accepted) << inside.error;
                }
            } else {
                // no nearest value for a choice, a flag or a malformed address
                EXPECT_FALSE(clamp.accepted);
                EXPECT_TRUE(Snapshot::of(*d) == before);
            }
        }
    }
}

TEST(ParamTable, PowerLevelsAreTheChipsAndStrictTakesWhatLiesBetween)
{
    Handle d = simulate("RC1200");
    const ParamLimits l = d->get_param_limits("tx_power");
    ASSERT_GE(l.levels.size(), 2u);
    for (size_t k = 1; k < l.levels.size(); ++k)
        EXPECT_LT(l.levels[k - 1], l.levels[k]);
    // each level is one the setter lands on
    for (double level : l.levels)
        EXPECT_DOUBLE_EQ(d->get_param_achieved("tx_power", number(level)).number, level);
    const double top = l.levels.back(), below = l.levels[l.levels.size() - 2];
    const ParamReport between = d->apply_params({{"tx_power", number(top - (top - below) / 4)}});
    ASSERT_TRUE(between.accepted) << between.error;
    EXPECT_TRUE(between.outcomes[0].rounded);
    EXPECT_DOUBLE_EQ(between.outcomes[0].achieved.number, top);
    const ParamReport above = d->apply_params({{"tx_power", number(top + 3)}});
    ASSERT_FALSE(above.accepted);
    EXPECT_DOUBLE_EQ(above.nearest, top);
    EXPECT_EQ(above.limits.levels, l.levels);
    EXPECT_NE(above.error.find("levels"), std::string::npos) << above.error;
}

TEST(ParamTable, TransactionReportsDifferencesAndSideEffects)
{
    Handle d = simulate("RC1200");
    const ParamReport r = d->apply_params({{"tx_carrierfrequency", number(868.3e6)}, {"tx_bitrate", number(9600)}});
    ASSERT_TRUE(r.accepted) << r.error;
    ASSERT_EQ(r.outcomes.size(), 2u);
    const ParamOutcome& f = r.outcomes[0];
    EXPECT_EQ(f.name, "tx_carrierfrequency");
    EXPECT_TRUE(f.has_ppm);
    EXPECT_NEAR(f.difference, d->get_tx_carrierfrequency() - 868.3e6, 1e-6);
    EXPECT_NEAR(f.ppm, f.difference / 868.3e6 * 1e6, 1e-9);
    EXPECT_LT(std::fabs(f.ppm), 0.01);
    // committed: nothing waits
    for (unsigned i = 0; i < d->get_registers(); ++i)
        EXPECT_EQ(d->get_register_changemask(i), 0) << i;

    // each side effect is a value that moved, and every value that moved is one
    for (const char* chip : CHIPS) {
        Handle c = simulate(chip);
        for (const ParamInfo& p : USBDevice::get_param_table()) {
            if (!c->has_param(p.name) || !p.writable || (p.kind != ParamKind::choice && p.kind != ParamKind::quantity))
                continue;
            const ParamLimits l = c->get_param_limits(p.name);
            // every choice; a quantity beyond each end, clamped (set once
            // before its range is known, then again at the limit)
            const size_t count = p.kind == ParamKind::choice ? l.choices.size() : 2;
            for (size_t id = 0; id < count; ++id) {
                const double span = std::max(1.0, (l.max - l.min) / 4);
                const ParamValue value = p.kind == ParamKind::choice ? text(l.choices[id])
                                         : id == 0                   ? number(l.max + span)
                                                                     : number(l.min - span);
                SCOPED_TRACE(std::string(chip) + " " + p.name + "=" +
                             (value.is_text ? value.text : std::to_string(value.number)));
                std::vector<std::pair<std::string, ParamValue>> before;
                for (const ParamInfo& q : USBDevice::get_param_table())
                    if (c->has_param(q.name))
                        before.push_back({q.name, c->get_param(q.name)});
                const ParamReport one = c->apply_params({{p.name, value}}, ParamPolicy::clamp);
                ASSERT_TRUE(one.accepted) << one.error;
                std::set<std::string> moved, reported;
                for (const auto& [name, was] : before) {
                    const ParamValue now = c->get_param(name);
                    if (was.is_text ? was.text != now.text : !same_value(was.number, now.number))
                        moved.insert(name);
                }
                moved.erase(p.name);
                for (const ParamChange& e : one.outcomes[0].side_effects)
                    reported.insert(e.name);
                EXPECT_EQ(moved, reported);
            }
        }
    }
}

TEST(ParamTable, StrictRefusalOfALaterValueWritesNoEarlierOne)
{
    Handle d = simulate("RC1200");
    const Snapshot before = Snapshot::of(*d);
    const ParamReport r = d->apply_params({{"tx_carrierfrequency", number(868.3e6)},
                                           {"chacc_slottime", number(0.05)},
                                           {"tx_carrierfrequency", number(5e9)}});
    EXPECT_FALSE(r.accepted);
    EXPECT_EQ(r.refused, "tx_carrierfrequency");
    EXPECT_NE(r.error.find("nearest"), std::string::npos) << r.error;
    EXPECT_TRUE(Snapshot::of(*d) == before);
    // names, read-only rows and rows the chip lacks are refused under either policy
    for (ParamPolicy policy : {ParamPolicy::strict, ParamPolicy::clamp}) {
        EXPECT_FALSE(d->apply_params({{"no_such", number(1)}}, policy).accepted);
        EXPECT_FALSE(d->apply_params({{"crclength", number(2)}}, policy).accepted);
        EXPECT_FALSE(simulate("RC1400")->apply_params({{"tx_power", number(0)}}, policy).accepted);
        EXPECT_FALSE(d->apply_params({{"tx_modulation", text("QAM")}}, policy).accepted);
    }
    EXPECT_TRUE(Snapshot::of(*d) == before);
}

// A transaction of chip rows is tried on the board itself and taken back
// when refused. Table-driven over every writable chip row of every chip:
// a refusal after an earlier step moved the row leaves every chip value,
// every change waiting for a commit and every value as they were, and
// setting without commit commits nothing, announces nothing and moves no
// setting off the chip.
TEST(ParamTable, ATrialOnTheBoardIsTakenBackWhole)
{
    for (const char* chip : CHIPS) {
        Handle d = simulate(chip);
        // changes the user made and has not committed yet (the sets below
        // add theirs): a refusal keeps them waiting, as the snapshot shows
        d->set_chacc_slottime(0.02);
        const ParamValue framing = d->get_param("framingmode");
        ASSERT_TRUE(d->set_params({{"framingmode", number(framing.number == 0 ? 1 : 0)}}).accepted);
        int signals = 0;
        std::vector<sigc::connection> connections;
        connections.push_back(d->notify_changed_register([&](unsigned, unsigned char, unsigned char) { ++signals; }));
        for (const ParamInfo& p : USBDevice::get_param_table())
            if (d->has_param(p.name) && p.notification)
                connections.push_back(d->notify_changed_param(p.name, [&] { ++signals; }));
        for (const ParamInfo& p : USBDevice::get_param_table()) {
            // the rows of the chip's own change notifications: set at once
            // on the chip values, announced by the commit
            if (!d->has_param(p.name) || !p.writable || !numeric(p) || !p.notification ||
                p.scope == ParamScope::board || p.scope == ParamScope::host)
                continue;
            SCOPED_TRACE(std::string(chip) + " " + p.name);
            const ParamLimits l = d->get_param_limits(p.name);
            const double now = d->get_param(p.name).number;
            // another value the chip holds, then one beyond the range
            const double other = same_value(now, l.min) ? l.max : l.min;
            const double beyond = l.max + std::max(1.0, (l.max - l.min) / 4);
            const Snapshot before = Snapshot::of(*d);
            const ParamReport refused =
                d->apply_params({{p.name, number(other)}, {p.name, number(beyond)}}, ParamPolicy::strict);
            EXPECT_FALSE(refused.accepted);
            EXPECT_TRUE(Snapshot::of(*d) == before);
            EXPECT_DOUBLE_EQ(d->get_chacc_slottime(), 0.02);

            const ParamReport set = d->set_params({{p.name, number(other)}});
            ASSERT_TRUE(set.accepted) << set.error;
            EXPECT_EQ(d->get_param(p.name).number, set.outcomes[0].achieved.number);
            EXPECT_EQ(signals, 0);
            ASSERT_TRUE(d->set_params({{p.name, number(now)}}).accepted);
        }
        EXPECT_DOUBLE_EQ(d->get_chacc_slottime(), 0.02);
        for (sigc::connection& c : connections)
            c.disconnect();
    }
}

TEST(ParamTable, CheckAndSetLeaveTheCommitToTheCaller)
{
    Handle d = simulate("RC1200");
    const double before = d->get_tx_carrierfrequency();
    const ParamReport check = d->check_params({{"tx_carrierfrequency", number(869e6)}});
    ASSERT_TRUE(check.accepted);
    EXPECT_NEAR(check.outcomes[0].achieved.number, 869e6, 1);
    EXPECT_EQ(d->get_tx_carrierfrequency(), before);
    ASSERT_TRUE(d->set_params({{"tx_carrierfrequency", number(869e6)}}).accepted);
    EXPECT_NEAR(d->get_tx_carrierfrequency(), 869e6, 1);
    unsigned waiting = 0;
    for (unsigned i = 0; i < d->get_registers(); ++i)
        waiting += d->get_register_changemask(i) != 0;
    EXPECT_GT(waiting, 0u);
}

// The board's named access keeps its copy of the settings and the values of
// every row between calls. Whatever happened meanwhile (transactions
// accepted, refused or only checked, values set without the table, a
// register poked), its answers must be those of an access made afresh.
TEST(ParamTable, AKeptCopyAnswersAsAFreshOne)
{
    std::mt19937 random(20261208);
    auto pick = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(random); };
    for (const char* chip : CHIPS) {
        Handle d = simulate(chip);
        std::vector<ParamInfo> rows;
        for (const ParamInfo& p : USBDevice::get_param_table())
            if (d->has_param(p.name) && p.writable && numeric(p))
                rows.push_back(p);
        // often the parameter before last again, after another moved its
        // range: what is kept of its range must follow
        const ParamInfo* before_last = nullptr;
        const ParamInfo* last = nullptr;
        auto assignment = [&] {
            const ParamInfo& p = before_last && random() % 2 ? *before_last : rows[random() % rows.size()];
            before_last = last;
            last = &p;
            const ParamLimits l = d->get_param_limits(p.name);
            const double span = std::max(1.0, l.max - l.min);
            double v = pick(l.min - span / 8, l.max + span / 8);
            if (p.kind != ParamKind::quantity || p.whole || random() % 2)
                v = std::round(v);
            return ParamAssignment{p.name, number(v)};
        };
        for (int round = 0; round < 80; ++round) {
            SCOPED_TRACE(std::string(chip) + " round " + std::to_string(round));
            const ParamPolicy policy = random() % 2 ? ParamPolicy::strict : ParamPolicy::clamp;
            const unsigned action = unsigned(random() % 6);
            if (action == 4) {
                const unsigned reg = unsigned(random() % d->get_registers());
                d->set_register_chipvalue(reg, uint8_t(random()));
                continue;
            }
            if (action == 5) {
                d->set_chacc_slottime(pick(0.001, 0.2));
                continue;
            }
            const std::vector<ParamAssignment> next = {assignment(), assignment()};
            ParamAccess fresh(*d->get_board());
            const ParamReport anew = fresh.apply(next, policy, ParamAccess::Mode::check);
            const ParamReport kept = action == 3   ? d->check_params(next, policy)
                                     : action == 2 ? d->set_params(next, policy)
                                                   : d->apply_params(next, policy);
            ASSERT_EQ(kept.accepted, anew.accepted) << kept.error << " / " << anew.error;
            EXPECT_EQ(kept.error, anew.error);
            ASSERT_EQ(kept.outcomes.size(), anew.outcomes.size());
            for (size_t k = 0; k < kept.outcomes.size(); ++k) {
                const ParamOutcome &a = kept.outcomes[k], &b = anew.outcomes[k];
                SCOPED_TRACE(a.name);
                // applied, the report reads the board after every step (and
                // after a commit, which may retune it)
                if (action == 3) {
                    EXPECT_EQ(a.achieved.number, b.achieved.number);
                }
                EXPECT_EQ(a.clamped, b.clamped);
                EXPECT_EQ(a.rounded, b.rounded);
                ASSERT_EQ(a.side_effects.size(), b.side_effects.size());
                for (size_t e = 0; e < a.side_effects.size(); ++e) {
                    EXPECT_EQ(a.side_effects[e].name, b.side_effects[e].name);
                    EXPECT_EQ(a.side_effects[e].before.number, b.side_effects[e].before.number);
                    EXPECT_EQ(a.side_effects[e].after.number, b.side_effects[e].after.number);
                }
            }
            // every value follows from the registers, the crystal and the
            // host's settings: a copy of those answers as the board does
            // (what the copies, and the values kept between calls, rely on)
            ScratchBoard copy(chip);
            copy.copy_settings(*d->get_board());
            for (const ParamInfo& p : USBDevice::get_param_table())
                if (d->has_param(p.name)) {
                    const ParamValue here = d->get_param(p.name), there = find_param_row(p.name)->get(copy);
                    EXPECT_EQ(here.number, there.number) << p.name;
                    EXPECT_EQ(here.text, there.text) << p.name;
                }
        }
    }
}

// The kept values rest on two things the chip model tells: which registers
// a parameter's value was read from, and which registers changed since a
// copy last followed its original. Both are checked here against the
// plain definitions: a register a row did not read never moves its value,
// and a copy that takes only the registers the log names equals a full one.
TEST(ParamTable, AValueMovesOnlyWithTheRegistersItRead)
{
    std::mt19937 random(7);
    for (const char* chip : CHIPS) {
        Handle d = simulate(chip);
        ScratchBoard copy(chip);
        GreyfinModel& m = *copy.get_model();
        const size_t words = (m.get_registers() + 63) / 64;
        for (const ParamRow* r : [&] {
                 std::vector<const ParamRow*> rows;
                 for (const ParamRow& row : param_rows())
                     if (d->has_param(row.info.name) && row.info.scope != ParamScope::board)
                         rows.push_back(&row);
                 return rows;
             }()) {
            SCOPED_TRACE(std::string(chip) + " " + r->info.name);
            for (int round = 0; round < 4; ++round) {
                copy.copy_settings(*d->get_board());
                for (unsigned i = 0; i < m.get_registers(); ++i)
                    if (random() % 3 == 0)
                        m.set_register_chipvalue(i, uint8_t(random()));
                std::vector<uint64_t> reads(words);
                m.record_reads(reads.data());
                const ParamValue was = r->get(copy);
                m.record_reads(nullptr);
                for (unsigned i = 0; i < m.get_registers(); ++i)
                    if (!(reads[i / 64] >> (i % 64) & 1))
                        m.set_register_chipvalue(i, uint8_t(random()));
                const ParamValue now = r->get(copy);
                ASSERT_EQ(was.number, now.number);
                ASSERT_EQ(was.text, now.text);
            }
        }
    }
}

TEST(ParamTable, ACopyTakingWhatTheLogNamesEqualsAFullCopy)
{
    std::mt19937 random(11);
    for (const char* chip : CHIPS) {
        SCOPED_TRACE(chip);
        Handle d = simulate(chip);
        GreyfinModel& from = *d->get_board()->get_model();
        ScratchBoard copy(chip);
        GreyfinModel& to = *copy.get_model();
        copy.copy_settings(*d->get_board());
        uint64_t from_since = from.write_count(), to_since = to.write_count();
        int partial = 0;
        for (int round = 0; round < 300; ++round) {
            const unsigned reg = unsigned(random() % from.get_registers());
            switch (random() % 8) {
            case 0: from.frob_register_chipvalue(reg, uint8_t(random()), uint8_t(random())); break;
            case 1: from.set_bitfield_chipvalue(unsigned(random() % from.get_bitfields()), unsigned(random())); break;
            case 2: d->commit_registers(); break;
            case 3: to.set_register_chipvalue(reg, uint8_t(random())); break; // the copy strays too
            case 4:
                if (random() % 10 == 0)
                    from.load_chipdefaults();
                break;
            default: from.set_register_chipvalue(reg, uint8_t(random())); break;
            }
            if (random() % 3)
                continue;
            std::vector<uint64_t> moved((from.get_registers() + 63) / 64);
            const bool known = from.registers_written_since(from_since, moved.data()) &&
                               to.registers_written_since(to_since, moved.data());
            partial += known;
            copy.copy_settings(*d->get_board(), known ? moved.data() : nullptr);
            from_since = from.write_count();
            to_since = to.write_count();
            for (unsigned i = 0; i < from.get_registers(); ++i) {
                ASSERT_EQ(to.get_register_chipvalue(i), from.get_register_chipvalue(i)) << "round " << round << " register " << i;
                ASSERT_EQ(to.get_register_changemask(i), from.get_register_changemask(i)) << "round " << round << " register " << i;
            }
        }
        EXPECT_GT(partial, 50); // most copies took only what moved
    }
}

TEST(Registers, EveryLabelNamesItsRegisterAndABareTwinIsRefused)
{
    for (const char* chip : CHIPS) {
        SCOPED_TRACE(chip);
        Handle d = simulate(chip);
        std::set<std::string> seen, twice;
        for (unsigned i = 0; i < d->get_registers(); ++i) {
            const std::string label = d->get_register_label(i);
            EXPECT_EQ(d->find_register(label), int(i)) << label;
            if (!seen.insert(d->get_register_name(i)).second)
                twice.insert(d->get_register_name(i));
        }
        for (const std::string& name : twice) {
            try {
                d->find_register(name);
                ADD_FAILURE() << name << " was taken bare";
            } catch (const std::invalid_argument& e) {
                EXPECT_NE(std::string(e.what()).find(name + "@0x"), std::string::npos) << e.what();
            }
        }
        EXPECT_EQ(d->find_register("NO_SUCH_REGISTER"), -1);
        EXPECT_THROW(d->find_register("FREQ2@zz"), std::invalid_argument);
    }
}

TEST(FlatParams, NamesStatusesAndTheLastError)
{
    korvik_device* dev = libkorvik_open_simulation("flat-params", "Flat", "RC1200", "0012340A0B0C");
    ASSERT_NE(dev, nullptr);
    const unsigned count = libkorvik_param_count();
    ASSERT_EQ(count, USBDevice::get_param_table().size());
    for (unsigned i = 0; i < count; ++i) {
        korvik_param_info info;
        ASSERT_EQ(libkorvik_param_info(i, &info), KORVIK_OK);
        SCOPED_TRACE(info.name);
        EXPECT_STREQ(info.name, USBDevice::get_param_table()[i].name);
        if (!libkorvik_has_param(dev, info.name))
            continue;
        char* value = nullptr;
        ASSERT_EQ(libkorvik_get_param_text(dev, info.name, &value), KORVIK_OK) << libkorvik_last_error();
        std::free(value);
        double number = 0;
        const int status = libkorvik_get_param(dev, info.name, &number);
        EXPECT_EQ(status, info.kind <= KORVIK_PARAM_FLAG ? KORVIK_OK : KORVIK_E_VALUE);
    }
    double v = 0;
    EXPECT_EQ(libkorvik_get_param(dev, "nope", &v), KORVIK_E_NAME);
    EXPECT_NE(std::string(libkorvik_last_error()).find("nope"), std::string::npos);

    const char* names[] = {"tx_carrierfrequency", "tx_modulation"};
    const char* values[] = {"868.3e6", "FSK"};
    korvik_param_result results[2];
    ASSERT_EQ(libkorvik_apply_params(dev, 2, names, values, KORVIK_POLICY_STRICT, results), KORVIK_OK)
        << libkorvik_last_error();
    EXPECT_TRUE(results[0].has_ppm);
    EXPECT_STREQ(results[1].achieved_text, "FSK");
    libkorvik_free_param_results(results, 2);
    const char* too_high[] = {"5e9"};
    EXPECT_EQ(libkorvik_apply_params(dev, 1, names, too_high, KORVIK_POLICY_STRICT, results), KORVIK_E_VALUE);
    EXPECT_NE(std::string(libkorvik_last_error()).find("tx_carrierfrequency"), std::string::npos);
    unsigned index = 0;
    char* label = libkorvik_get_register_label(dev, 0);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(libkorvik_find_register(dev, label, &index), KORVIK_OK);
    EXPECT_EQ(index, 0u);
    std::free(label);
    libkorvik_close(dev);
    Handle(USBDevice::open("flat-params"));
}

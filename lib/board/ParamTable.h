#pragma once

// The parameter table behind KORVIK::USBDevice's named access: one row per
// parameter with its getter, setter and change signal over a board, and the
// read-only answers (limits, steps, levels, achieved values) worked out on a
// ScratchBoard copy so that nothing reaches the board asked about.

#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include <sigc++/sigc++.h>

#include <korvik/Parameters.h>

#include "board/ChannelAccessParams.h"
#include "model/GreyfinModel.h"

namespace KORVIK {

class EvUSBBoard;
class ScratchBoard;

struct ParamRow {
    ParamInfo info;
    /// Values handed to the setter stay within [lo, hi] (the setters take
    /// unsigned or narrow types); the probes for the range use these two.
    double lo, hi;
    std::function<ParamValue(EvUSBBoard&)> get;
    /// Null for read-only rows.
    std::function<void(EvUSBBoard&, const ParamValue&)> set;
    /// Names of a choice, in id order.
    std::function<std::list<std::string>(EvUSBBoard&)> choices;
    /// Whether the board's chip has the parameter.
    std::function<bool(EvUSBBoard&)> available;
    /// The change signal, or null (no model, or no notification).
    std::function<sigc::signal<void()>*(EvUSBBoard&)> signal;
};

/// Every row, in the order tools list them.
const std::vector<ParamRow>& param_rows();
/// The public part of every row, in the same order.
const std::vector<ParamInfo>& param_infos();
/// The row of that name, or null.
const ParamRow* find_param_row(const std::string& name);

/// "40:00:12:34:56:00"; parse_param_address accepts that or twelve hex
/// digits (blanks, ':' and '-' between bytes allowed) and returns false
/// for anything else.
std::string format_param_address(const uint8_t* mac);
bool parse_param_address(const std::string& text, uint8_t out[6]);

/// Named access to one board: read-only answers on a private copy, and
/// transactions. Keeps its copy between calls; it never writes to the board
/// except in apply().
class ParamAccess {
public:
    explicit ParamAccess(EvUSBBoard& board);
    ~ParamAccess();
    ParamAccess(const ParamAccess&) = delete;
    ParamAccess& operator=(const ParamAccess&) = delete;

    /// The row of `name`, available on this board's chip; throws
    /// std::invalid_argument naming the problem otherwise.
    const ParamRow& row(const std::string& name) const;
    bool has(const std::string& name) const;
    ParamValue get(const std::string& name) const;
    /// Sets through the row's setter without any check and without commit
    /// (as the library's setters do: clamped, rounded).
    void set(const std::string& name, const ParamValue& value);
    ParamLimits limits(const std::string& name);
    /// What the chip would hold for `value`, from the board's present settings.
    ParamValue achieved(const std::string& name, const ParamValue& value);
    enum class Mode {
        commit, ///< set on the board and commit once
        set,    ///< set on the board; the values wait for the next commit
        check,  ///< only on the copy: the report of what would happen
    };
    /// Applies the assignments in order (see ParamReport).
    ParamReport apply(const std::vector<ParamAssignment>& assignments, ParamPolicy policy, Mode mode = Mode::commit);

private:
    struct Plan;
    /// What the rows read of a board besides its chip model.
    struct HostState {
        ChannelAccessParams chacc, nv_chacc;
        std::string nv_serial;
        uint8_t nv_ethernet_mac[6], nv_radio_ethernet_mac[6];
        bool operator==(const HostState& o) const;
    };
    static HostState host_of(const EvUSBBoard& b);
    /// The copies for the board's chip, made anew when its model changed.
    ScratchBoard& copies();
    ScratchBoard& synced_scratch();
    /// `with_step` false leaves out the step, the costly part (a search
    /// by trial settings), for callers that only check a range.
    ParamLimits limits_on(const ParamRow& row, EvUSBBoard& state, bool with_step = true);
    double probe(const ParamRow& row, EvUSBBoard& state, double value);
    /// probe() of the row's highest or lowest setting, kept while none of
    /// the registers that probe read has moved on `state`.
    double edge(const ParamRow& row, EvUSBBoard& state, bool high);
    double local_step(const ParamRow& row, EvUSBBoard& state, double at, double min, double max, int direction);
    std::vector<double> levels_on(const ParamRow& row, EvUSBBoard& state);

    /// Rows the board's chip has (the chip never changes under a board).
    const std::vector<const ParamRow*>& present() { return present_known ? present_rows : find_present(); }
    const std::vector<const ParamRow*>& find_present();

    EvUSBBoard& board;
    std::vector<const ParamRow*> present_rows;
    bool present_known = false;
    std::unique_ptr<ScratchBoard> scratch; ///< the board's settings, then the transaction's steps
    std::unique_ptr<ScratchBoard> probe_board; ///< a copy of scratch for each probe
    uint64_t scratch_for_model = 0; ///< serial of the board's model the copy was made for

    /// Whether the copy's host settings are those in `h`.
    static bool same_host(const HostState& h, const EvUSBBoard& b);
    /// Row `k` of present() on `s` (the copy, or the board during a trial
    /// in place), noting the registers it reads.
    ParamValue read_row(size_t k, EvUSBBoard& s);
    /// Brings `values` up to the copy's settings, reading again only the
    /// rows whose inputs moved; a change of any row but `self` goes to
    /// `effects` when given.
    /// `host_may_move` false: only the chip model can have moved (a step
    /// of a chip row), the host settings are not compared.
    void refresh(EvUSBBoard& s, const ParamRow* self, std::vector<ParamChange>* effects, bool host_may_move = true);
    /// Whether a step can be tried on the board itself, and taken back if
    /// refused: the row's setter only sets chip values of the board's model.
    static bool in_place(const ParamRow& r);
    void apply_into(ParamReport& report, const std::vector<ParamAssignment>& assignments, ParamPolicy policy,
                    Mode mode);
    /// The index in present() (and `values`) of a present row.
    size_t self_at(const ParamRow& r) const;
    /// Side effects of a step set twice: `later` (from the first setting)
    /// folded into `into` (from before the step).
    static void merge_changes(std::vector<ParamChange>& into, std::vector<ParamChange>&& later);

    // Every present row's value on the copy, kept between transactions, and
    // what it was read from: the registers (`dep_words` words of one bit per
    // register), the crystal and the host settings. A row is read
    // again only when one of these moves.
    std::vector<ParamValue> values;
    bool values_known = false;
    std::vector<uint64_t> deps; ///< row k's at k * dep_words
    size_t dep_words = 0;
    std::vector<uint64_t> row_reads;
    /// Per register, the rows (bit k: row k of present()) whose value read it.
    std::vector<uint64_t> readers;
    unsigned values_xtal_frequency = 0;
    double values_xtal_tolerance = 0;
    HostState values_host;
    uint64_t values_writes = 0; ///< the copy's write_count() when the values were read
    uint64_t values_serial = 0; ///< and its model's serial (the board's, after a trial in place)
    std::vector<GreyfinModel::ChipValueChange> journal; ///< a trial in place, to take back
    std::vector<uint64_t> moved_by_commit;
    struct ApplyStep {
        const ParamRow* row;
        ParamValue value; ///< what the setter gets
    };
    std::vector<ApplyStep> step_room;
    bool applying = false;
    std::vector<uint64_t> moved; ///< registers moved since then
    // What the copy, and the probes' copy, last took their settings from:
    // the original's model and its write count then, and their own.
    struct Following {
        uint64_t from_serial = 0, from_writes = 0, own_serial = 0, own_writes = 0;
    };
    Following scratch_follows, probe_follows;
    std::vector<uint64_t> to_copy;
    struct Edge {
        const ParamRow* row = nullptr;
        double value = 0;
        uint64_t serial = 0; ///< the model probed from
        /// The registers the probe read, and their register_input() then.
        std::vector<std::pair<unsigned, uint16_t>> inputs;
        unsigned xtal_frequency = 0;
        double xtal_tolerance = 0;
        std::vector<uint64_t> reads;
    };
    Edge edges[2]; ///< low, high
    std::vector<uint64_t> overwritten;
    /// `to` takes `from`'s settings, only the registers either changed
    /// since `f` was noted when that is known.
    void follow(ScratchBoard& to, const EvUSBBoard& from, Following& f);
    /// By row index in param_rows(): 0 when the board's chip lacks the row,
    /// else its index in present() plus one.
    std::vector<int> present_flags;
    /// Indexes into present() of the rows reading host settings, and of the others.
    std::vector<size_t> board_rows, chip_rows;
    std::string last_name; ///< the last parameter apply() looked up
    const ParamRow* last_row = nullptr;
};

} // namespace KORVIK

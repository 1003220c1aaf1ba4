#pragma once

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/ModelSupport.h"
#include "model/rc1100/RC1100Model.h"
#include "model/rc1300/RC1300Model.h"
#include "model/rc1400/RC1400Model.h"

namespace KORVIK {
namespace chips_test {

using model_test::CerrCapture;
using model_test::MemoryBoard;
using model_test::SignalLog;

const double NaN = std::numeric_limits<double>::quiet_NaN();
const double Inf = std::numeric_limits<double>::infinity();

/// A chip model that records the reprogramming requests of its commits.
template <class Model>
class Recording : public Model {
public:
    using Model::Model;
    std::vector<unsigned> reprogramming;
    void start_chip_reprogramming(unsigned flags) override
    {
        reprogramming.push_back(flags);
        Model::start_chip_reprogramming(flags);
    }
};

/// Index of the bitfield with this name (get_bitfields() when absent).
inline unsigned bitfield(const GreyfinModel& m, const std::string& name)
{
    unsigned i = 0;
    while (i < m.get_bitfields() && m.get_bitfield_name(i) != name)
        ++i;
    return i;
}

/// Chip values of all registers.
inline std::vector<uint8_t> chip_values(const GreyfinModel& m)
{
    std::vector<uint8_t> v;
    for (unsigned i = 0; i < m.get_registers(); ++i)
        v.push_back(m.get_register_chipvalue(i));
    return v;
}

/// Value of the bitfield with this name.
inline unsigned field(const GreyfinModel& m, const std::string& name)
{
    return m.get_bitfield_chipvalue(bitfield(m, name));
}

/// Records the two preamble signals beside the parameter signals.
class PreambleLog {
public:
    explicit PreambleLog(GreyfinModel& m)
    {
        a = m.signal_changed_preamble.connect([this] { names.push_back("preamble"); });
        b = m.signal_changed_preamble_length.connect([this] { names.push_back("preamble_length"); });
    }
    ~PreambleLog()
    {
        a.disconnect();
        b.disconnect();
    }
    std::vector<std::string> names;

private:
    sigc::connection a, b;
};

} // namespace chips_test
} // namespace KORVIK

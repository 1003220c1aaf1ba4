#pragma once

#include <list>
#include <string>

#include "model/GreyfinModel.h"

namespace KORVIK {

/// One supported chip and its register model.
struct ChipModelEntry {
    const char* name;
    /// Creates the chip's register model; null while the chip is not modelled
    /// (its boards then have no model).
    ModelFactory model_factory;
};

/// The supported chips, in table order: RC1200, RC1400, RC1100, RC1300.
const std::list<ChipModelEntry>& chip_models();

/// The row of `chip` (exact name; a leading "EV" is read as "RC"); throws
/// std::runtime_error "invalid Chip Model Name: <name>" for a name that is not
/// in the table.
const ChipModelEntry& find_chip_model(const std::string& chip);

} // namespace KORVIK

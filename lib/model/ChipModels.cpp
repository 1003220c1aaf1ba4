#include "model/ChipModels.h"

#include <stdexcept>

#include "model/rc1100/RC1100Model.h"
#include "model/rc1200/RC1200Model.h"
#include "model/rc1300/RC1300Model.h"
#include "model/rc1400/RC1400Model.h"

namespace KORVIK {

const std::list<ChipModelEntry>& chip_models()
{
    static const std::list<ChipModelEntry> table = {
        {"RC1200", create_rc1200_model},
        {"RC1400", create_rc1400_model},
        {"RC1100", create_rc1100_model},
        {"RC1300", create_rc1300_model},
    };
    return table;
}

const ChipModelEntry& find_chip_model(const std::string& chip)
{
    std::string name = chip;
    for (;;) {
        for (const ChipModelEntry& row : chip_models())
            if (name == row.name)
                return row;
        // boards name their chip "EV...", the table "RC..."
        if (name.compare(0, 2, "EV") == 0) {
            name.replace(0, 2, "RC");
            continue;
        }
        throw std::runtime_error("invalid Chip Model Name: " + name);
    }
}

} // namespace KORVIK

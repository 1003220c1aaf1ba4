#include "Command.h"

namespace korvik_cli {

std::unique_ptr<Command> make_list_command();
std::unique_ptr<Command> make_info_command();
std::unique_ptr<Command> make_get_command();
std::unique_ptr<Command> make_set_command();
std::unique_ptr<Command> make_params_command();
std::unique_ptr<Command> make_regs_command();
std::unique_ptr<Command> make_poke_command();
std::unique_ptr<Command> make_save_command();
std::unique_ptr<Command> make_load_command();
std::unique_ptr<Command> make_defaults_command();
std::unique_ptr<Command> make_snippet_command();
std::unique_ptr<Command> make_diff_command();
std::unique_ptr<Command> make_watch_command();
std::unique_ptr<Command> make_send_command();
std::unique_ptr<Command> make_cw_command();
std::unique_ptr<Command> make_per_command();
std::unique_ptr<Command> make_capture_command();
std::unique_ptr<Command> make_link_command();
std::unique_ptr<Command> make_sweep_command();
std::unique_ptr<Command> make_complete_command();
std::unique_ptr<Command> make_show_command();
std::unique_ptr<Command> make_state_command();

std::vector<std::unique_ptr<Command>> make_commands()
{
    std::vector<std::unique_ptr<Command>> all;
    for (auto make : {make_list_command, make_info_command, make_get_command, make_set_command, make_params_command,
                      make_regs_command, make_poke_command, make_save_command, make_load_command, make_show_command,
                      make_defaults_command, make_snippet_command, make_diff_command, make_watch_command,
                      make_send_command, make_cw_command, make_per_command, make_capture_command,
                      make_link_command, make_sweep_command,
                      make_complete_command, make_state_command})
        all.push_back(make());
    return all;
}

} // namespace korvik_cli

#pragma once

// One subcommand of korvik. Each lives in a file of its own under commands/
// and is listed once in Commands.cpp; adding a command is one new file and
// one line there.

#include <memory>
#include <vector>

#include "Context.h"

namespace CLI {
class App;
}

namespace korvik_cli {

class Command {
public:
    virtual ~Command() = default;
    /// The word on the command line.
    virtual const char* name() const = 0;
    /// One line for `korvik --help`.
    virtual const char* summary() const = 0;
    /// Left out of --help and the command lists (helpers for the completions).
    virtual bool hidden() const { return false; }
    /// Declares the command's arguments and options on its subcommand.
    virtual void setup(CLI::App& app) = 0;
    /// Runs the command; returns the exit status or throws UsageError or Failure.
    virtual int run(const Options& options) = 0;
};

/// Every command, in the order `korvik --help` lists them.
std::vector<std::unique_ptr<Command>> make_commands();

} // namespace korvik_cli

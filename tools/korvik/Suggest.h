#pragma once

// "Did you mean": the nearest of the words a place accepts to one that was
// mistyped (a swapped, missing, extra or wrong letter or two).

#include <string>
#include <vector>

namespace korvik_cli {

/// The candidate nearest to `word`, compared without case, blanks and
/// underscores; empty when none is near enough to be what was meant.
std::string nearest(const std::string& word, const std::vector<std::string>& candidates);

/// " (did you mean 'NAME'?)" for the nearest candidate, or "".
std::string did_you_mean(const std::string& word, const std::vector<std::string>& candidates);

} // namespace korvik_cli

namespace korvik_cli {

class UsageError;

/// The usage error for a parameter name that is not one: names the nearest.
UsageError unknown_parameter(const std::string& name);

} // namespace korvik_cli

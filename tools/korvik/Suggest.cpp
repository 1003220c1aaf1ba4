#include "Suggest.h"

#include <algorithm>
#include <cctype>

#include "Context.h"
#include "Params.h"

namespace korvik_cli {

namespace {

std::string folded(const std::string& s)
{
    std::string out;
    for (char c : s)
        if (c != ' ' && c != '_' && c != '-')
            out += char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// edits between a and b, an exchange of neighbours counting as one
size_t distance(const std::string& a, const std::string& b)
{
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i)
        for (size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

} // namespace

std::string nearest(const std::string& word, const std::vector<std::string>& candidates)
{
    const std::string w = folded(word);
    if (w.empty())
        return "";
    // a word cut short ("tx_carrier" for tx_carrierfrequency) means the one
    // candidate it begins
    auto begins = [&](const std::string& f) { return f.size() > w.size() && f.compare(0, w.size(), w) == 0; };
    const bool one_begins = w.size() >= 4 && std::count_if(candidates.begin(), candidates.end(), [&](const std::string& c) {
                                                 return begins(folded(c));
                                             }) == 1;
    std::string best;
    size_t best_distance = 0;
    for (const std::string& c : candidates) {
        const std::string f = folded(c);
        size_t dist = distance(w, f);
        if (one_begins && begins(f))
            dist = std::min<size_t>(dist, 1);
        if (best.empty() || dist < best_distance) {
            best = c;
            best_distance = dist;
        }
    }
    // about one mistake in three letters, at least one, at most three
    const size_t allowed = std::min<size_t>(3, std::max<size_t>(1, w.size() / 3));
    return best_distance <= allowed ? best : "";
}

std::string did_you_mean(const std::string& word, const std::vector<std::string>& candidates)
{
    const std::string n = nearest(word, candidates);
    return n.empty() ? "" : " (did you mean '" + n + "'?)";
}

UsageError unknown_parameter(const std::string& name)
{
    std::vector<std::string> names;
    for (const Param& p : params())
        names.push_back(p.name);
    return UsageError("unknown parameter '" + name + "'" + did_you_mean(name, names) + "; `korvik params` lists them");
}

} // namespace korvik_cli

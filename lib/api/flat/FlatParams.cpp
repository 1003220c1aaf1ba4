// Flat interface: parameters by name. Unlike the typed functions these
// return a status and keep the reason per thread, so that a caller can tell
// a refused value from a failed board without polling is_dead.

#include "api/flat/FlatCommon.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <stdexcept>

using namespace KORVIK;
using namespace KORVIK::flat;

namespace {

thread_local std::string last_error;

int fail(int status, const std::string& why)
{
    last_error = why;
    return status;
}

// Runs f (which returns a status) on the handle inside the guard; exceptions
// become statuses with their text kept.
template <typename F>
int with_status(korvik_device* h, const char* name, F&& f) noexcept
{
    if (!h || h->closed)
        return fail(KORVIK_E_ARGUMENT, "no open handle");
    if (!name)
        return fail(KORVIK_E_ARGUMENT, "no parameter name");
    try {
        if (!USBDevice::find_param(name))
            return fail(KORVIK_E_NAME, std::string("unknown parameter '") + name + "'");
        if (!h->device.has_param(name))
            return fail(KORVIK_E_NAME, std::string(name) + " does not apply to this board's chip");
        return f(h->device);
    } catch (const std::invalid_argument& e) {
        return fail(KORVIK_E_VALUE, e.what());
    } catch (const std::bad_alloc&) {
        return fail(KORVIK_E_FAILED, "out of memory");
    } catch (const std::exception& e) {
        report_current_exception();
        return fail(KORVIK_E_FAILED, e.what());
    } catch (...) {
        report_current_exception();
        return fail(KORVIK_E_FAILED, "unknown error");
    }
}

bool numeric(const ParamInfo& i)
{
    return i.kind == ParamKind::quantity || i.kind == ParamKind::choice || i.kind == ParamKind::flag;
}

std::string value_text(const USBDevice& d, const ParamInfo& i, const ParamValue& v)
{
    if (v.is_text)
        return v.text;
    if (i.kind == ParamKind::choice) {
        const ParamLimits l = d.get_param_limits(i.name);
        const long id = std::lround(v.number);
        if (id >= 0 && size_t(id) < l.choices.size())
            return l.choices[size_t(id)];
    }
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v.number);
    return buf;
}

// "868.3e6" is a number; a choice may also be named
ParamValue parse_value(const ParamInfo& i, const char* text)
{
    ParamValue v;
    if (numeric(i)) {
        char* end = nullptr;
        errno = 0;
        const double d = std::strtod(text, &end);
        if (end != text && *end == '\0' && errno == 0) {
            v.number = d;
            return v;
        }
        if (i.kind != ParamKind::choice)
            throw std::invalid_argument(std::string(i.name) + ": '" + text + "' is not a number");
    }
    v.text = text;
    v.is_text = true;
    return v;
}

std::string join(const std::vector<ParamChange>& changes)
{
    std::string s;
    for (const ParamChange& c : changes)
        s += (s.empty() ? "" : ",") + c.name;
    return s;
}

} // namespace

extern "C" {

KORVIK_API const char* KORVIK_CALL libkorvik_last_error(void)
{
    return last_error.c_str();
}

KORVIK_API int KORVIK_CALL libkorvik_find_register(korvik_device* dev, const char* name, unsigned* index)
{
    if (!dev || dev->closed || !name || !index)
        return fail(KORVIK_E_ARGUMENT, "no open handle, name or place for the index");
    try {
        const int i = dev->device.find_register(name);
        if (i < 0)
            return fail(KORVIK_E_NAME, std::string("no register '") + name + "'");
        *index = unsigned(i);
        return KORVIK_OK;
    } catch (const std::invalid_argument& e) {
        return fail(KORVIK_E_NAME, e.what());
    } catch (const std::exception& e) {
        return fail(KORVIK_E_FAILED, e.what());
    } catch (...) {
        return fail(KORVIK_E_FAILED, "unknown error");
    }
}

KORVIK_API char* KORVIK_CALL libkorvik_get_register_label(korvik_device* dev, unsigned index)
{
    return with_device<char*>(dev, nullptr, [&](USBDevice& d) { return dup_string(d.get_register_label(index)); });
}

KORVIK_API unsigned KORVIK_CALL libkorvik_param_count(void)
{
    return guard(0u, [] { return unsigned(USBDevice::get_param_table().size()); });
}

KORVIK_API int KORVIK_CALL libkorvik_param_info(unsigned index, korvik_param_info* out)
{
    return guard(int(KORVIK_E_FAILED), [&] {
        const std::vector<ParamInfo>& table = USBDevice::get_param_table();
        if (!out || index >= table.size())
            return fail(KORVIK_E_ARGUMENT, "no parameter at that index");
        const ParamInfo& i = table[index];
        out->name = i.name;
        out->unit = i.unit;
        out->kind = int(i.kind);
        out->scope = int(i.scope);
        out->chips = i.chips;
        out->writable = i.writable;
        out->whole = i.whole;
        out->hex = i.hex;
        out->levels = i.levels;
        out->notification = i.notification;
        out->help = i.help;
        return int(KORVIK_OK);
    });
}

KORVIK_API int KORVIK_CALL libkorvik_has_param(korvik_device* dev, const char* name)
{
    return with_device(dev, 0, [&](USBDevice& d) { return name && d.has_param(name) ? 1 : 0; });
}

KORVIK_API int KORVIK_CALL libkorvik_get_param(korvik_device* dev, const char* name, double* value)
{
    return with_status(dev, name, [&](USBDevice& d) {
        const ParamInfo& i = *USBDevice::find_param(name);
        if (!value)
            return fail(KORVIK_E_ARGUMENT, "no place for the value");
        if (!numeric(i))
            return fail(KORVIK_E_VALUE, std::string(name) + " is text: use libkorvik_get_param_text");
        *value = d.get_param(name).number;
        return int(KORVIK_OK);
    });
}

KORVIK_API int KORVIK_CALL libkorvik_get_param_text(korvik_device* dev, const char* name, char** text)
{
    return with_status(dev, name, [&](USBDevice& d) {
        if (!text)
            return fail(KORVIK_E_ARGUMENT, "no place for the text");
        const ParamInfo& i = *USBDevice::find_param(name);
        *text = dup_string(value_text(d, i, d.get_param(name)));
        return int(KORVIK_OK);
    });
}

KORVIK_API int KORVIK_CALL libkorvik_get_param_limits(korvik_device* dev, const char* name, double* min, double* max,
                                                      double* step)
{
    return with_status(dev, name, [&](USBDevice& d) {
        const ParamLimits l = d.get_param_limits(name);
        if (min)
            *min = l.min;
        if (max)
            *max = l.max;
        if (step)
            *step = l.step;
        return int(KORVIK_OK);
    });
}

KORVIK_API char** KORVIK_CALL libkorvik_get_param_choices(korvik_device* dev, const char* name)
{
    char** out = nullptr;
    with_status(dev, name, [&](USBDevice& d) {
        const ParamLimits l = d.get_param_limits(name);
        if (l.choices.empty())
            return fail(KORVIK_E_VALUE, std::string(name) + " is not a choice");
        out = dup_stringlist(std::list<std::string>(l.choices.begin(), l.choices.end()));
        return int(KORVIK_OK);
    });
    return out;
}

KORVIK_API int KORVIK_CALL libkorvik_get_param_levels(korvik_device* dev, const char* name, double** levels,
                                                      unsigned* count)
{
    return with_status(dev, name, [&](USBDevice& d) {
        if (!levels || !count)
            return fail(KORVIK_E_ARGUMENT, "no place for the levels");
        *levels = nullptr;
        *count = 0;
        const ParamLimits l = d.get_param_limits(name);
        if (l.levels.empty())
            return int(KORVIK_OK);
        auto* out = static_cast<double*>(std::malloc(l.levels.size() * sizeof(double)));
        if (!out)
            throw std::bad_alloc();
        std::copy(l.levels.begin(), l.levels.end(), out);
        *levels = out;
        *count = unsigned(l.levels.size());
        return int(KORVIK_OK);
    });
}

KORVIK_API int KORVIK_CALL libkorvik_get_param_achieved(korvik_device* dev, const char* name, double value,
                                                        double* achieved)
{
    return with_status(dev, name, [&](USBDevice& d) {
        if (!achieved)
            return fail(KORVIK_E_ARGUMENT, "no place for the value");
        const ParamInfo& i = *USBDevice::find_param(name);
        if (!i.writable)
            return fail(KORVIK_E_READ_ONLY, std::string(name) + " is read-only");
        if (!numeric(i))
            return fail(KORVIK_E_VALUE, std::string(name) + " is not a number");
        ParamValue v;
        v.number = value;
        *achieved = d.get_param_achieved(name, v).number;
        return int(KORVIK_OK);
    });
}

} // extern "C"

namespace {

int run_params(korvik_device* dev, unsigned count, const char* const* names, const char* const* values, int policy,
               korvik_param_result* results, bool commit)
{
    if (count && (!names || !values))
        return fail(KORVIK_E_ARGUMENT, "no names or values");
    if (!dev || dev->closed)
        return fail(KORVIK_E_ARGUMENT, "no open handle");
    std::vector<ParamAssignment> todo;
    int status = KORVIK_OK;
    for (unsigned k = 0; k < count && status == KORVIK_OK; ++k) {
        if (!names[k] || !values[k])
            return fail(KORVIK_E_ARGUMENT, "null name or value");
        status = with_status(dev, names[k], [&](USBDevice&) {
            const ParamInfo& i = *USBDevice::find_param(names[k]);
            if (!i.writable)
                return fail(KORVIK_E_READ_ONLY, std::string(names[k]) + " is read-only");
            todo.push_back({names[k], parse_value(i, values[k])});
            return int(KORVIK_OK);
        });
    }
    if (status != KORVIK_OK)
        return status;
    const char* first = count ? names[0] : "";
    if (!count)
        return KORVIK_OK;
    return with_status(dev, first, [&](USBDevice& d) {
        const ParamPolicy p = policy == KORVIK_POLICY_CLAMP ? ParamPolicy::clamp : ParamPolicy::strict;
        const ParamReport report = commit ? d.apply_params(todo, p) : d.set_params(todo, p);
        if (!report.accepted)
            return fail(KORVIK_E_VALUE, report.error);
        if (results) {
            for (unsigned k = 0; k < count; ++k) {
                const ParamOutcome& o = report.outcomes[k];
                const ParamInfo& i = *USBDevice::find_param(o.name);
                korvik_param_result& r = results[k];
                r.asked = o.asked.number;
                r.achieved = o.achieved.number;
                r.difference = o.difference;
                r.ppm = o.ppm;
                r.has_ppm = o.has_ppm;
                r.clamped = o.clamped;
                r.rounded = o.rounded;
                r.achieved_text = dup_string(value_text(d, i, o.achieved));
                r.side_effects = dup_string(join(o.side_effects));
            }
        }
        return int(KORVIK_OK);
    });
}

} // namespace

extern "C" {

KORVIK_API int KORVIK_CALL libkorvik_apply_params(korvik_device* dev, unsigned count, const char* const* names,
                                                  const char* const* values, int policy, korvik_param_result* results)
{
    return run_params(dev, count, names, values, policy, results, true);
}

KORVIK_API int KORVIK_CALL libkorvik_set_params(korvik_device* dev, unsigned count, const char* const* names,
                                                const char* const* values, int policy, korvik_param_result* results)
{
    return run_params(dev, count, names, values, policy, results, false);
}

KORVIK_API void KORVIK_CALL libkorvik_free_param_results(korvik_param_result* results, unsigned count)
{
    if (!results)
        return;
    for (unsigned k = 0; k < count; ++k) {
        std::free(results[k].achieved_text);
        std::free(results[k].side_effects);
        results[k].achieved_text = nullptr;
        results[k].side_effects = nullptr;
    }
}

} // extern "C"

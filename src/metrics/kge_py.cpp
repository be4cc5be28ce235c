#include "metrics/kge_py.hpp"

#include "arguments.hpp"
#include "classes.hpp"
#include "doubles_argument.hpp"
#include "metrics/kge.hpp"
#include "unlocked.hpp"

namespace hydrokit::py {

namespace {

constexpr auto kge_parameters = signature("calculate_kge()", 2, "sim", "obs", "use_log");

PyObject* calculate_kge(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    return guarded([&] {
        auto arguments = kge_parameters.bind(args, nargsf, kwnames);
        DoublesArgument simulated = arguments.get<DoublesArgument>(0);
        std::optional<DoublesArgument> observed = DoublesArgument::view(arguments.value(1));
        if (!observed) {
            // Reading `obs` item by item may run Python code that changes the array of `sim`.
            simulated.keep();
            observed.emplace(arguments.get<DoublesArgument>(1));
        }
        // True, False and numpy's boolean convert without Python code.
        const bool use_log = arguments.get_or<bool>(2, false);
        return to_python(unlocked(observed->values().size(), [&] {
            return kling_gupta_efficiency(simulated.values(), observed->values(), use_log);
        }));
    });
}

}  // namespace

PyMethodDef calculate_kge_function = {
    "calculate_kge",
    as_method(calculate_kge),
    METH_FASTCALL | METH_KEYWORDS,
    "calculate_kge(sim, obs, use_log=False)\n--\n\n"
    "Calculates the Kling-Gupta Efficiency (KGE) between simulated and observed series.\n\n"
    "KGE decomposes model performance into three components measured against\n"
    "a perfect score of 1:\n\n"
    "- **r** (Pearson correlation) — timing and shape agreement.\n"
    "- **β = mean_sim / mean_obs** — bias ratio.\n"
    "- **γ = std_sim / std_obs** — variability ratio.\n\n"
    "The efficiency is computed as:\n"
    "```text\n"
    "KGE = 1 - sqrt((r-1)² + (β-1)² + (γ-1)²)\n"
    "```\n\n"
    "A KGE of 1 indicates a perfect match. Values above 0 are generally\n"
    "considered acceptable. Setting `use_log = true` applies a log transform\n"
    "before computing statistics, which emphasises low-flow performance.\n\n"
    "# Arguments\n\n"
    "* `sim` - Simulated time series.\n"
    "* `obs` - Observed time series. Must have the same length as `sim`.\n"
    "* `use_log` - If `true`, transforms both series with `ln(x + ε)` before\n"
    "  computing statistics.\n\n"
    "# Errors\n\n"
    "Returns a `PyValueError` if `obs` is empty or if `sim` and `obs` have\n"
    "different lengths.",
};

}  // namespace hydrokit::py

#include "baseflow/linear_reservoir.hpp"

#include <algorithm>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "buffer_pool.hpp"
#include "error.hpp"
#include "interrupt.hpp"
#include "utils/number_format.hpp"

namespace hydrokit {

namespace {

// Acre-inches per hour to cubic feet per second.
constexpr double acre_inch_per_hour_in_cfs = 1.00833;

// Fractions may add up to slightly more than one after rounding by the caller.
constexpr double fraction_sum_tolerance = 1.000001;

void check_fraction_sum(const NamedMap<LinearReservoir>& reservoirs) {
    if (reservoirs.empty()) return;
    double sum = 0.0;
    for (const auto& [name, layer] : reservoirs) sum += layer.gw_fraction;
    if (sum > fraction_sum_tolerance) {
        throw ValueError("Total fraction " + format_number(sum) + " > 1.0");
    }
}

// One layer during a run: its weights, its start, its chain's place in the state of the long
// chains (a short one is held in registers) and its outflow.
struct LayerRun {
    double gw_fraction;
    double inflow_weight;
    double storage_weight;
    double initial_q;
    size_t first_reservoir;
    size_t reservoir_count;
    Values outflow;
};

// The weights of `layer`'s reservoirs, after its stability check.
LayerRun prepare_layer(const LinearReservoir& layer, double dt_h, double half,
                       size_t first_reservoir, size_t steps) {
    const double k_per_res =
        (static_cast<double>(layer.k_duration) / 3600.0) / static_cast<double>(layer.num_reservoir);
    // Beyond this point the weight on the stored discharge turns negative and the outflow
    // oscillates.
    if (half > k_per_res) {
        throw ValueError("Stability Error: k_per_res (" + format_fixed(k_per_res, 4) +
                         ") < 0.5*dt (" + format_fixed(half, 4) +
                         "). Increase k_hr or num_reservoir.");
    }
    const double inflow_weight = dt_h / (k_per_res + half);
    LayerRun run{layer.gw_fraction,
                 inflow_weight,
                 1.0 - inflow_weight,
                 layer.initial_q,
                 first_reservoir,
                 static_cast<size_t>(layer.num_reservoir),
                 {}};
    // Every step's outflow is written by the routing, so the buffer starts as it comes.
    run.outflow = values_to_overwrite(steps);
    return run;
}

// Passes `flow` down a chain of reservoirs: each one's outflow is the next one's inflow.
[[gnu::always_inline]] inline double through_chain(double flow, double* state, size_t count,
                                                   double inflow_weight, double storage_weight) {
    for (size_t j = 0; j < count; ++j) {
        flow = flow * inflow_weight + state[j] * storage_weight;
        state[j] = flow;
    }
    return flow;
}

// Chains up to this long are held in registers for the whole run.
constexpr size_t register_chain = 8;

// Steps between polls when a step costs a few dozen operations.
constexpr size_t steps_between_polls = interrupt_interval / 32;

// The inflow of `run`'s layer from the rain `depth` of one step.
[[gnu::always_inline]] inline double layer_inflow(const LayerRun& run, double depth, double dt_h,
                                                  double discharge_factor) {
    return ((depth * run.gw_fraction) / dt_h) * discharge_factor;
}

// One layer with a chain of at most `register_chain` reservoirs, between blocks of steps.
struct ShortChain {
    double gw_fraction;
    double inflow_weight;
    double storage_weight;
    size_t count;
    double state[register_chain];
    double* outflow;
};

// Every reservoir of a chain starts at the layer's initial discharge.
ShortChain short_chain(LayerRun& run) {
    ShortChain chain{
        run.gw_fraction,   run.inflow_weight, run.storage_weight, run.reservoir_count, {},
        run.outflow.data()};
    for (size_t j = 0; j < run.reservoir_count; ++j) chain.state[j] = run.initial_q;
    return chain;
}

// The chain's reservoirs in order, those past its length skipped.
[[gnu::always_inline]] inline double through_short_chain(double flow,
                                                         double (&state)[register_chain],
                                                         size_t count, double inflow_weight,
                                                         double storage_weight) {
#pragma GCC unroll 8
    for (size_t j = 0; j < register_chain; ++j) {
        if (j < count) {
            flow = flow * inflow_weight + state[j] * storage_weight;
            state[j] = flow;
        }
    }
    return flow;
}

// The total before a layer's outflow is added: zero before the first layer, which is not read
// from memory, so the total need not be cleared first (0.0 + flow is still what is added).
template <bool First>
[[gnu::always_inline]] inline double total_so_far(const double* total, size_t t) {
    if constexpr (First) {
        return 0.0;
    } else {
        return total[t];
    }
}

// Steps [begin, end) of one layer, or of two side by side (`Pair`): their chains are
// independent, so the processor overlaps them. Each adds its outflow to the total in layer
// order. No call happens inside, so the chains stay in registers.
template <bool Pair, bool First>
[[gnu::noinline]] void route_short_block(ShortChain& a, ShortChain* b, const double* rain,
                                         double* total, size_t begin, size_t end, double dt_h,
                                         double discharge_factor) {
    double state_a[register_chain];
    double state_b[register_chain];
#pragma GCC unroll 8
    for (size_t j = 0; j < register_chain; ++j) {
        state_a[j] = a.state[j];
        if constexpr (Pair) state_b[j] = b->state[j];
    }
    for (size_t t = begin; t < end; ++t) {
        const double depth = rain[t];
        const double flow_a =
            through_short_chain(((depth * a.gw_fraction) / dt_h) * discharge_factor, state_a,
                                a.count, a.inflow_weight, a.storage_weight);
        a.outflow[t] = flow_a;
        double running = flow_a + total_so_far<First>(total, t);
        if constexpr (Pair) {
            const double flow_b =
                through_short_chain(((depth * b->gw_fraction) / dt_h) * discharge_factor, state_b,
                                    b->count, b->inflow_weight, b->storage_weight);
            b->outflow[t] = flow_b;
            running = flow_b + running;
        }
        total[t] = running;
    }
#pragma GCC unroll 8
    for (size_t j = 0; j < register_chain; ++j) {
        a.state[j] = state_a[j];
        if constexpr (Pair) b->state[j] = state_b[j];
    }
}

// Routes one layer with a short chain, or two (`Pair`), polling between blocks.
template <bool Pair, bool First>
void route_short_chains(LayerRun& first, LayerRun* second, const Values& rain, Values& total,
                        double dt_h, double discharge_factor) {
    ShortChain a = short_chain(first);
    ShortChain b = Pair ? short_chain(*second) : ShortChain{};
    in_blocks(rain.size(), steps_between_polls, [&](size_t begin, size_t end) {
        route_short_block<Pair, First>(a, &b, rain.data(), total.data(), begin, end, dt_h,
                                       discharge_factor);
    });
}

template <bool Pair>
void route_short_chains(bool first_layers, LayerRun& first, LayerRun* second, const Values& rain,
                        Values& total, double dt_h, double discharge_factor) {
    if (first_layers) {
        route_short_chains<Pair, true>(first, second, rain, total, dt_h, discharge_factor);
    } else {
        route_short_chains<Pair, false>(first, second, rain, total, dt_h, discharge_factor);
    }
}

// Routes one layer with a chain too long for registers, polling inside a very long chain.
void route_long_chain(bool first_layer, LayerRun& run, const Values& rain, Values& state,
                      Values& total, double dt_h, double discharge_factor) {
    double* chain = state.data() + run.first_reservoir;
    const size_t count = run.reservoir_count;
    const size_t block = std::max<size_t>(1, interrupt_interval / count);
    in_blocks(rain.size(), block, [&](size_t begin, size_t end) {
        for (size_t t = begin; t < end; ++t) {
            double flow = layer_inflow(run, rain[t], dt_h, discharge_factor);
            if (count <= interrupt_interval) {
                flow = through_chain(flow, chain, count, run.inflow_weight, run.storage_weight);
            } else {
                in_blocks(count, interrupt_interval, [&](size_t from, size_t to) {
                    flow = through_chain(flow, chain + from, to - from, run.inflow_weight,
                                         run.storage_weight);
                });
            }
            run.outflow[t] = flow;
            total[t] = flow + (first_layer ? 0.0 : total[t]);
        }
    });
}

ContinuousSeries discharge_series(Values values, int32_t time_step) {
    return ContinuousSeries{{std::move(values), "discharge", time_step}};
}

}  // namespace

LinearReservoir make_linear_reservoir(Duration k_duration, double gw_fraction, double initial_q,
                                      uint64_t num_reservoir) {
    const int32_t k_seconds = saturating_seconds_i32(k_duration.as_seconds());
    if (k_seconds <= 0) throw ValueError("k_duration must be > 0");
    if (gw_fraction < 0.0 || gw_fraction > 1.0) {
        throw ValueError("gw_fraction must be between 0 and 1");
    }
    if (num_reservoir == 0) throw ValueError("num_reservoir must be at least 1");
    return LinearReservoir{k_seconds, gw_fraction, initial_q, num_reservoir};
}

Baseflow route_linear_reservoirs(double basin_area, const IncrementalSeries& rainfall,
                                 const NamedMap<LinearReservoir>& reservoirs) {
    const double dt_h = static_cast<double>(rainfall.time_step) / 3600.0;
    const double half = 0.5 * dt_h;
    const double discharge_factor = basin_area * acre_inch_per_hour_in_cfs;
    check_fraction_sum(reservoirs);
    const Values& rain = rainfall.data;
    const size_t n = rain.size();

    // Every layer is checked in order. A chain too long for registers gets its reservoirs in
    // the state of the long chains, each starting at the layer's initial discharge; one long
    // enough to take time fills between polls.
    std::vector<LayerRun> runs;
    runs.reserve(reservoirs.size());
    Values state;
    for (const auto& [name, layer] : reservoirs) {
        runs.push_back(prepare_layer(layer, dt_h, half, state.size(), n));
        const size_t count = runs.back().reservoir_count;
        if (count <= register_chain) continue;
        if (count > state.max_size() - state.size()) throw std::bad_alloc();
        state.reserve(state.size() + count);
        in_blocks(count, interrupt_interval, [&](size_t begin, size_t end) {
            state.insert(state.end(), end - begin, layer.initial_q);
        });
    }

    // The layers add to the total in their order, starting from 0; the first writes every
    // step, so only a basin without layers needs its total cleared.
    Values total = runs.empty() ? zeroed_values(n) : values_to_overwrite(n);
    for (size_t k = 0; k < runs.size();) {
        LayerRun& run = runs[k];
        const bool first = k == 0;
        if (run.reservoir_count > register_chain) {
            route_long_chain(first, run, rain, state, total, dt_h, discharge_factor);
            k += 1;
        } else if (k + 1 < runs.size() && runs[k + 1].reservoir_count <= register_chain) {
            route_short_chains<true>(first, run, &runs[k + 1], rain, total, dt_h, discharge_factor);
            k += 2;
        } else {
            route_short_chains<false>(first, run, nullptr, rain, total, dt_h, discharge_factor);
            k += 1;
        }
    }

    NamedMap<ContinuousSeries> layers;
    layers.reserve(reservoirs.size());
    for (size_t k = 0; k < runs.size(); ++k) {
        layers.emplace_back(reservoirs[k].first,
                            discharge_series(std::move(runs[k].outflow), rainfall.time_step));
    }
    return Baseflow{discharge_series(std::move(total), rainfall.time_step), std::move(layers)};
}

}  // namespace hydrokit

"""The numba loops of numba_peers.py compiled with @njit(nogil=True), as a user who runs them on
a thread pool would, plus the two loops the threads section needs that numba_peers.py lacks: KGE
on log-transformed values and the convolution of a storm with a unit hydrograph."""

import numpy as np
from numba import njit

import numba_peers


def without_the_lock(loop):
    return njit(nogil=True)(loop.py_func)


muskingum = without_the_lock(numba_peers.muskingum)
deficit_and_constant = without_the_lock(numba_peers.deficit_and_constant)
linear_reservoir = without_the_lock(numba_peers.linear_reservoir)
level_pool = without_the_lock(numba_peers.level_pool)


@njit(nogil=True)
def kge_log(sim, obs):
    """KGE of ln(v + 1e-6), the log-transformed values."""
    return numba_peers.kge(np.log(sim + 1e-6), np.log(obs + 1e-6))


@njit(nogil=True)
def convolve(storm, unit):
    """Runoff as the sum of the unit hydrograph scaled by every step's excess rainfall."""
    runoff = np.zeros(storm.size + unit.size - 1)
    for t in range(storm.size):
        for j in range(unit.size):
            runoff[t + j] += storm[t] * unit[j]
    return runoff

"""The stubs describe the module that is actually built."""

import pathlib
import shutil
from datetime import timedelta

import pytest

import hydrokit
from hydrokit import baseflow, rainfall_loss, reservoir, utils
from stub_tree import differences, runtime_tree, stub_tree

STUBS = pathlib.Path(__file__).resolve().parent.parent / "stubs" / "hydrokit-stubs"


def sample_instances():
    """One instance of every class, to probe which attributes accept assignment."""
    ru = reservoir.reservoir_utils
    hour = timedelta(hours=1)
    inflow = utils.ContinuousTimeSeries([10.0, 20.0, 10.0], hour, "discharge")
    rain = utils.IncrementalTimeSeries([0.5, 0.2], hour, "rainfall")
    rating = ru.ElevationDischarge([0.0, 10.0], [0.0, 100.0])
    curve = ru.ElevationStorage([0.0, 10.0], [0.0, 1e7])
    outlets = {
        "ContinuousTimeSeries": inflow,
        "IncrementalTimeSeries": rain,
        "ElevationDischarge": rating,
        "ElevationStorage": curve,
        "ControlledDischargeInfo": ru.ControlledDischargeInfo(rating),
        "UnControlledDischargeInfo": ru.UnControlledDischargeInfo(rating),
        "SpecifiedDischargeInfo": ru.SpecifiedDischargeInfo(inflow),
        "ConstantDischargeInfo": ru.ConstantDischargeInfo(5.0),
    }
    return outlets | {
        "LevelPoolResult": reservoir.run_level_pool_routing(inflow, 1.0, curve, {}),
        "DeficitConstantResult": rainfall_loss.run_deficit_and_constant(
            rain, 0.1, 1.0, 0.05, timedelta(days=1)),
        "LinearReservoir": baseflow.LinearReservoir(timedelta(days=2), 0.5, 1.0),
    }


@pytest.fixture(scope="module")
def runtime():
    return runtime_tree(hydrokit, sample_instances())


def test_stubs_match_the_runtime_module(runtime):
    assert differences(runtime, stub_tree(STUBS)) == []


def test_runtime_side_sees_the_writable_attributes(runtime):
    # Guards the probe itself: were it blind, every attribute would read as read-only.
    assert runtime["baseflow"]["LinearReservoir"][1]["attributes"] == {
        "k_duration": False, "gw_fraction": True, "initial_q": True, "num_reservoir": True}


MUTATIONS = [
    ("_metrics.pyi", "use_log: bool = False", "use_log: bool = True",
     "hydrokit.metrics.calculate_kge: runtime parameters (sim, obs, use_log=False), "
     "stub (sim, obs, use_log=True)"),
    ("_reach.pyi", "    x: float,\n    sub_reaches: int,", "    sub_reaches: int,\n    x: float,",
     "hydrokit.reach.run_muskingum_routing: runtime parameters "
     "(inflow, k, x, sub_reaches, initial_outflow), "
     "stub (inflow, k, sub_reaches, x, initial_outflow)"),
    ("_reach.pyi", "initial_outflow: float,", "initial_outflow: float = 0.0,",
     "hydrokit.reach.run_muskingum_routing: runtime parameters "
     "(inflow, k, x, sub_reaches, initial_outflow), "
     "stub (inflow, k, x, sub_reaches, initial_outflow=0.0)"),
    ("_baseflow.pyi", "    @initial_q.setter\n    def initial_q(self, value: float) -> None: ...\n", "",
     "hydrokit.baseflow.LinearReservoir.initial_q: writable at runtime, read-only in the stub"),
    ("_utils.pyi", "    @property\n    def time_step(self) -> timedelta:\n        \"\"\"The spacing",
     "    time_step: timedelta\n    def _time_step(self) -> timedelta:\n        \"\"\"The spacing",
     "hydrokit.utils.ContinuousTimeSeries.time_step: read-only at runtime, writable in the stub"),
    ("_baseflow.pyi", "@final\n", "",
     "hydrokit.baseflow.LinearReservoir: final at runtime True, in the stub False"),
    ("_reservoir.pyi", "cls, not_constructible: Never, /", "cls",
     "hydrokit.reservoir.LevelPoolResult(): runtime not constructible, stub ()"),
    ("_reservoir_utils.pyi", "    def get_storage(self, elevation: float)",
     "    def __init__(self, elevation: float) -> None: ...\n    def get_storage(self, elevation: float)",
     "hydrokit.reservoir.reservoir_utils.ElevationStorage.__init__(): method only in the stub"),
    ("_reservoir_utils.pyi", "    def get_storage(self, elevation: float)",
     "    def get_storage(self, level: float)",
     "hydrokit.reservoir.reservoir_utils.ElevationStorage.get_storage: "
     "runtime parameters (elevation), stub (level)"),
    ("_reservoir_utils.pyi", "    def get_storage(self, elevation: float)",
     "    def get_storage(self, elevation: float, /)",
     "hydrokit.reservoir.reservoir_utils.ElevationStorage.get_storage: "
     "runtime parameters (elevation), stub (elevation (positional-only))"),
    ("_reservoir.pyi", "    discharge_info: dict[str, _Outlet],",
     "    discharge_info: dict[str, _Outlet] = {},",
     "hydrokit.reservoir.run_level_pool_routing: runtime parameters "
     "(inflow, initial_elevation, elevation_storage, discharge_info), stub "
     "(inflow, initial_elevation, elevation_storage, discharge_info) or "
     "(inflow, initial_elevation, elevation_storage, discharge_info={})"),
    ("_rainfall_loss.pyi", '__all__ = ["DeficitConstantResult", "run_deficit_and_constant"]',
     '__all__ = ["run_deficit_and_constant", "DeficitConstantResult"]',
     "hydrokit.rainfall_loss.__all__: runtime ['DeficitConstantResult', "
     "'run_deficit_and_constant'], stub ['run_deficit_and_constant', 'DeficitConstantResult']"),
    ("__init__.pyi", "from . import _metrics as metrics\n", "",
     "hydrokit.metrics: missing from the stub"),
    ("_reservoir.pyi", "from . import _reservoir_utils as reservoir_utils\n", "",
     "hydrokit.reservoir.reservoir_utils: missing from the stub"),
    ("_metrics.pyi", "def calculate_kge(", "def calculate_nse(sim: float) -> float: ...\ndef calculate_kge(",
     "hydrokit.metrics.calculate_nse: only in the stub"),
    ("_utils.pyi", "        \"\"\"Total duration from first to last data point (seconds).\"\"\"\n",
     "        \"\"\"Total duration from first to last data point (seconds).\"\"\"\n"
     "    def value_at(self, duration: float) -> float: ...\n",
     "hydrokit.utils.ContinuousTimeSeries.value_at(): method only in the stub"),
]


@pytest.mark.parametrize("file, old, new, expected", MUTATIONS,
                         ids=[m[3].split(":")[0] for m in MUTATIONS])
def test_a_stub_that_drifts_from_the_runtime_is_reported(runtime, tmp_path, file, old, new,
                                                        expected):
    stubs = shutil.copytree(STUBS, tmp_path / "hydrokit-stubs")
    source = (stubs / file).read_text(encoding="utf-8")
    assert source.count(old) == 1
    (stubs / file).write_text(source.replace(old, new), encoding="utf-8")
    assert differences(runtime, stub_tree(stubs)) == [expected]

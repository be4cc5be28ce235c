"""Hypothesis's timing checks, relaxed where the suite runs under emulation: `make test
ARCH=aarch64` runs it in qemu-user, where drawing and running an example takes ten to fifty
times as long as on the host."""

from hypothesis import HealthCheck, settings

settings.register_profile("emulated", deadline=None,
                          suppress_health_check=[HealthCheck.too_slow])

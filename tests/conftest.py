"""Hypothesis's timing checks, relaxed where the suite runs under emulation: `make test
ARCH=aarch64` runs it in qemu-user, where drawing and running an example takes ten to fifty
times as long as on the host. And a line on the terminal before a step of a minute or more."""

import pytest
from hypothesis import HealthCheck, settings

settings.register_profile("emulated", deadline=None,
                          suppress_health_check=[HealthCheck.too_slow])


@pytest.fixture(scope="session")
def progress(request):
    """Says at once, past pytest's capture, what a long step (a build) is about to do: `make
    test` would otherwise sit silent for minutes."""
    plugins = request.config.pluginmanager
    reporter = plugins.get_plugin("terminalreporter")
    capture = plugins.get_plugin("capturemanager")

    def say(text):
        # The line of dots (or the test's name) is still open.
        with capture.global_and_fixture_disabled():
            reporter.write(f"\n{text}\n", flush=True)

    return say

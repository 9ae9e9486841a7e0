"""What the conformance scripts read from netrun: its exit status, and on
an OpenCL run from its standard output the device's arithmetic and where
each layer ran.  The texts are the ones opencl/cl_engine.cpp logs and
tools/netrun/netrun.cpp prints per run layer.  Also the scripts' own exit
statuses, which ctest reads."""

import re

NETRUN_EXIT_UNSUPPORTED = 2  # netrun: description, mapping or shapes refused

# The scripts' exit statuses.
EXIT_OK = 0
EXIT_FAILED = 1
EXIT_USAGE = 2
EXIT_SKIP = 77  # ctest's SKIP_RETURN_CODE for the scripts

# Logged when netrun opens the OpenCL device.
DEVICE_HALF_ARITHMETIC = "Device Support fp16"
DEVICE_FLOAT_ARITHMETIC = "Device Not Support fp16"

# One line per run layer: "  NAME  TYPE  PLACEMENT  0.123 ms host|device",
# PLACEMENT being cl:KERNEL on the device or cpu:KERNEL on the host.
PLACEMENT = re.compile(r"\s(cl|cpu):\S*\s+[-\d.]+ ms\b")


def accumulates_in_half(stdout):
    """Whether the device computes in half; when the log does not say, the
    cautious answer (yes)."""
    return DEVICE_FLOAT_ARITHMETIC not in stdout


def layers_on_device(stdout):
    """(layers run on the device, layers run)."""
    places = PLACEMENT.findall(stdout)
    return places.count("cl"), len(places)

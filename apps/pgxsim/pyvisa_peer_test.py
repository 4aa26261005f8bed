#!/usr/bin/python3
"""Drives pgxsim with a real VISA peer: PyVISA and its pure-Python backend over a raw socket."""

import signal
import subprocess
import sys

SKIP = 77


def main() -> int:
    try:
        import pyvisa
        import pyvisa_py  # noqa: F401  (the backend behind '@py')
    except ImportError as error:
        print(f"SKIPPED: PyVISA with its pure-Python backend cannot be imported ({error}); "
              "install the Debian packages python3-pyvisa and python3-pyvisa-py")
        return SKIP

    pgxsim = sys.argv[1]
    server = subprocess.Popen([pgxsim, "--port", "0", "--front-ends", "M4030A,M4040A", "--serial", "PY0001",
                               "--firmware", "3.2"], stdout=subprocess.PIPE, text=True)
    try:
        first = server.stdout.readline().strip()
        prefix = "pgxsim: listening on "
        assert first.startswith(prefix), first
        port = int(first.rsplit(":", 1)[1])
        rm = pyvisa.ResourceManager("@py")
        inst = rm.open_resource(f"TCPIP0::127.0.0.1::{port}::SOCKET", read_termination="\n",
                                write_termination="\n", timeout=5000)
        failures = []

        def check(what, got, expected):
            if got != expected:
                failures.append(f"{what}: got {got!r}, expected {expected!r}")

        # Identification.
        check("*IDN?", inst.query("*IDN?"), "PGX Instruments,M4000A,PY0001,3.2")
        check("*OPT?", inst.query("*OPT?"), "M4030A,M4040A")
        # Set-and-query round trips.
        inst.write("VOLT1:HIGH 2.5V")
        check("VOLT1:HIGH?", inst.query("VOLT1:HIGH?"), "2.5")
        inst.write(":FREQ 10MHZ")
        check(":FREQ?", float(inst.query(":FREQ?")), 10e6)
        inst.write(":ARM:SLOP EITH")
        check(":ARM:SLOP?", inst.query(":ARM:SLOP?"), "EITH")
        # Compound messages.
        check("compound", inst.query(":DIG:PATT OFF; :TRIG:COUN 5;:TRIG:COUN?;:DIG:PATT?"), "5;0")
        check("path", inst.query(":VOLT2:HIGH 1;LOW -1;HIGH?;LOW?"), "1;-1")
        # The error queue.
        inst.write(":FREQU 1")
        inst.write(":VOLT3 1")
        check("error 1", inst.query(":SYST:ERR?"), '-113,"Undefined header"')
        check("error 2", inst.query(":SYST:ERR?"), '-114,"Header suffix out of range"')
        check("error empty", inst.query(":SYST:ERR?"), '0,"No error"')
        # A block transfer, both ways.
        inst.write_binary_values(":DIG:PATT:DATA1 ", [1, 0, 1, 1, 0, 0, 1], datatype="B")
        inst.write(":DIG:PATT:FORM BIN")
        data = inst.query_binary_values(":DIG:PATT:DATA1?", datatype="B", container=list)
        check("binary block", data, [1, 0, 1, 1, 0, 0, 1])
        inst.write(":DIG:PATT:FORM ASC")
        check("ASCII block", inst.query(":DIG:PATT:DATA1?"), "#171011001")
        check("errors after blocks", inst.query(":SYST:ERR?"), '0,"No error"')
        inst.close()
        rm.close()
        for f in failures:
            print("FAILED:", f)
        if not failures:
            print("pyvisa peer: all checks passed")
        server.send_signal(signal.SIGTERM)
        code = server.wait(timeout=10)
        if code != 0:
            print(f"FAILED: pgxsim exited with {code} on SIGTERM")
            return 1
        return 1 if failures else 0
    finally:
        if server.poll() is None:
            server.kill()
            server.wait()


if __name__ == "__main__":
    sys.exit(main())

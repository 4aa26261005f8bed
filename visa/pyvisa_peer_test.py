#!/usr/bin/python3
"""A plain PyVISA session, as a user writes one, with libpgxvisa (or PyVISA-py) as its VISA library.

    pyvisa_peer_test.py --library LIB --target bench
    pyvisa_peer_test.py --library LIB --target socket --pgxsim PGXSIM
    pyvisa_peer_test.py --library @py --target socket --pgxsim PGXSIM

The session runs in an interpreter of its own; the test passes when every step did what it should and
that interpreter printed nothing else, at exit included. Exit status 77: PyVISA is not installed.
"""

import argparse
import os
import subprocess
import sys

SKIP = 77


def session(library, target, resource):
    """The user's script. Prints one line per step done; raises on the first that goes wrong."""
    import ctypes
    import threading

    import pyvisa
    import pyvisa.resources
    from pyvisa import constants, errors

    def step(name):
        print("step:", name, flush=True)

    def expect_error(code, action):
        try:
            action()
        except errors.VisaIOError as error:
            assert error.error_code == code, f"{error.error_code:#x} instead of {code:#x}"
            return
        raise AssertionError(f"no error {code:#x}")

    rm = pyvisa.ResourceManager(library)
    ours = library != "@py"
    on_bench = target == "bench"

    if on_bench:
        names = rm.list_resources()
        assert len(names) == 9 and "GPIB0::10::INSTR" in names and "VXI0::32::INSTR" in names, names
        assert rm.list_resources("GPIB?*INSTR{VI_ATTR_GPIB_PRIMARY_ADDR > 11}") == (
            "GPIB0::12::INSTR", "GPIB0::13::INSTR", "GPIB0::22::INSTR"), "attribute filter"
        step("list")
        # Every instrument by the names users type.
        for name, serial in [("GPIB0::10::INSTR", "DE51000010"), ("gpib0::11", "DE52000011"),
                             ("GPIB::12::INSTR", "DE53000012"), ("GPIB0::13", "DE54000013"),
                             ("GPIB0::22::INSTR", "MY22000022"), ("VXI0::8::INSTR", "DE40100001"),
                             ("vxi::16", "DE40200002"), ("VXI0::24", "DE40300003"),
                             ("VXI0::32::INSTR", "DE40400004")]:
            # PyVISA takes VXI instruments for register-based ones; ours are message-based too.
            with rm.open_resource(name, resource_pyclass=pyvisa.resources.MessageBasedResource,
                                  read_termination="\n") as instrument:
                idn = instrument.query("*IDN?")
                assert serial in idn, (name, idn)
        step("open every instrument")
        resource = "GPIB0::12::INSTR"

    instrument = rm.open_resource(resource, read_termination="\n", write_termination="\n", timeout=3000)
    if not on_bench and ours:
        # A socket has no serial poll or bus trigger of its own: "*STB?" and "*TRG" stand in for them.
        instrument.io_protocol = constants.IOProtocol.protocol4882_strs
    assert instrument.query("*IDN?").startswith("PGX Instruments,"), "identity"
    step("query")

    # Binary blocks both ways: a pattern down, and back in binary format.
    pattern = [1, 0, 1, 1, 0, 0, 1, 0] * 16
    instrument.write_binary_values(":DIG:PATT:DATA1 ", pattern, datatype="B")
    instrument.write(":DIG:PATT:FORM BIN")
    back = instrument.query_binary_values(":DIG:PATT:DATA1?", datatype="B", container=list)
    assert back == pattern, back
    assert instrument.query(":SYST:ERR?").startswith("0,"), "errors"
    step("binary blocks")

    if ours:
        instrument.write("*CLS;*ESE 1;*OPC")
        assert instrument.read_stb() & 0x20, "the event summary"
        instrument.write("*CLS;*ESE 0")
        assert not instrument.read_stb() & 0x20, "the event summary after *CLS"
        step("status byte")

    instrument.write("*IDN?")
    instrument.clear()
    instrument.timeout = 200
    expect_error(constants.StatusCode.error_timeout, instrument.read)
    instrument.timeout = 3000
    step("clear")

    if ours:
        other = rm.open_resource(resource, read_termination="\n", write_termination="\n")
        instrument.lock_excl()
        expect_error(constants.StatusCode.error_resource_locked, lambda: other.write("*CLS"))
        instrument.unlock()
        key = instrument.lock(requested_key="lab-key")
        assert key in ("lab-key", b"lab-key"), key  # PyVISA 1.11 gives the key back as bytes
        other.lock(requested_key=key)
        assert other.query("*OPC?") == "1"
        other.unlock()
        instrument.unlock()
        other.close()
        step("locks")
        instrument.assert_trigger()
        step("bus trigger")

    if on_bench:
        instrument.write("*CLS;*ESE 1;*SRE 32;*OPC")
        instrument.wait_for_srq(5000)
        # A handler on the library's thread that polls its own session.
        called = threading.Event()
        polled = []

        def handler(session, event_type, event, user_handle):
            polled.append(instrument.read_stb())
            called.set()
            return 0

        user_handle = instrument.install_handler(constants.EventType.service_request, handler)
        instrument.enable_event(constants.EventType.service_request, constants.EventMechanism.handler)
        instrument.write("*CLS;*OPC")
        assert called.wait(5), "the handler was not called"
        assert polled[0] & 0x40, polled
        instrument.disable_event(constants.EventType.service_request, constants.EventMechanism.handler)
        instrument.uninstall_handler(constants.EventType.service_request, handler, user_handle)
        instrument.write("*SRE 0;*ESE 0")
        step("service request")

        module = rm.open_resource("VXI0::16::INSTR")
        identity = module.read_memory(constants.AddressSpace.a16, 0, 16)
        device_type = module.read_memory(constants.AddressSpace.a16, 2, 16)
        assert identity == 0xBFFF and device_type == 0x0402, (identity, device_type)
        words = module.move_in(constants.AddressSpace.a16, 0, 3, 16)
        assert list(words) == [0xBFFF, 0x0402, 0x7FFF], words
        assert module.manufacturer_id == 0xFFF and module.model_code == 0x0402
        module.close()
        step("registers")

    instrument.close()
    step("close")
    rm.close()
    step("resource manager close")
    del ctypes


def run_child(arguments):
    """Runs the session in an interpreter of its own and checks what it printed."""
    env = dict(os.environ)
    process = None
    resource = ""
    if arguments.target == "socket":
        process = subprocess.Popen([arguments.pgxsim, "--port", "0", "-f", "Q530A,Q530A", "-s", "DE53000012"],
                                   stdout=subprocess.PIPE, text=True)
        line = process.stdout.readline()
        if "listening on" not in line:
            print("pgxsim did not start:", line)
            return 1
        port = line.strip().rsplit(":", 1)[1]
        resource = f"TCPIP0::127.0.0.1::{port}::SOCKET"
    try:
        child = subprocess.run([sys.executable, __file__, "--child", "--library", arguments.library, "--target",
                                arguments.target, "--resource", resource],
                               env=env, capture_output=True, text=True, timeout=120)
    finally:
        if process:
            process.terminate()
            process.wait()
    sys.stdout.write(child.stdout)
    if child.returncode != 0 or child.stderr:
        print(f"the session failed (exit status {child.returncode}) or printed on stderr:")
        print(child.stderr)
        return 1
    if "step: resource manager close" not in child.stdout:
        print("the session did not reach its end")
        return 1
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--library", required=True)
    parser.add_argument("--target", choices=["bench", "socket"], required=True)
    parser.add_argument("--pgxsim", default="")
    parser.add_argument("--resource", default="")
    parser.add_argument("--child", action="store_true")
    arguments = parser.parse_args()
    try:
        import pyvisa  # noqa: F401
        if arguments.library == "@py":
            import pyvisa_py  # noqa: F401
    except ImportError:
        print("PyVISA (and PyVISA-py for @py) is not installed for", sys.executable)
        return SKIP
    if arguments.child:
        session(arguments.library, arguments.target, arguments.resource)
        return 0
    if arguments.target == "socket" and not os.access(arguments.pgxsim, os.X_OK):
        print("no pgxsim to serve the instrument:", arguments.pgxsim)
        return SKIP
    return run_child(arguments)


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Checks the slot of every named operation of the host interfaces under
the Microsoft C++ ABI (the host's) and the Itanium ABI (GCC's and MinGW's),
from clang's own virtual-table layout dump of probe.cpp; and, from the code
clang generates for by_value.cpp, that both ABIs pass a by-value ObjectRef
by address and which side destroys it (the callee under the Microsoft ABI,
the caller under the Itanium ABI), the difference that the rule "the callee
resets a by-value reference before it returns" makes harmless.

  check_vtable_layout.py CLANG SOURCE_ROOT

Exit status: 0 when both layouts match the table below, 1 when not, 77 when
clang is missing (the test is then skipped)."""
import os
import re
import shutil
import subprocess
import sys

# The slots the host calls, by interface and operation.
EXPECTED = {
    "ExtensionVideoFilter": {
        "addRef": 0, "release": 1, "hasOneRef": 2, "scalarDeletingDestructor": 3,
        "slot4Query": 4, "setEnabled": 5, "isEnabled": 6, "setProperty": 7,
        "slot8Query": 8, "slot9Query": 9, "slot10Notify": 10, "slot11Query": 11,
        "slot12Query": 12, "slot13Query": 13, "start": 14, "stop": 15,
        "slot16Query": 16, "dropFrame": 17, "processFrame": 18, "slot19Query": 19,
    },
    "ExtensionProvider": {
        "addRef": 0, "release": 1, "hasOneRef": 2, "scalarDeletingDestructor": 3,
        "setExtensionControl": 4, "listExtensions": 5, "slot6Factory": 6,
        "createVideoFilter": 7, "slot8Factory": 8, "slot9Notify": 9,
    },
    "ExtensionControl": {"log": 3, "registerProvider": 5},
    "FilterControl": {"addRef": 0, "release": 1, "postEvent": 6, "log": 7},
    "HostVideoFrame": {"addRef": 0, "release": 1, "getFrameData": 4},
}
TARGETS = ["x86_64-pc-windows-msvc", "x86_64-linux-gnu"]
# Which side runs the by-value holder's destructor: (caller, callee).
DESTROYS = {"x86_64-pc-windows-msvc": (False, True), "x86_64-linux-gnu": (True, False)}
# ObjectRef's destructor: Itanium D1/D2, Microsoft ??1.
DESTRUCTOR = re.compile(r"@_ZN4host9ObjectRefI\w+ED[12]Ev|@\"\?\?1\?\$ObjectRef@")

HEADER = re.compile(r"^V[F]?[Tt]able indices for 'host::(\w+)' \((\d+) entries\)\.$")
ENTRY = re.compile(r"^\s*(\d+) \| (.*)$")
# The operation's name in an entry: "void host::X::name(...)" or
# "host::X::~X() [deleting]".
NAME = re.compile(r"host::\w+::(~?\w+)\(")


def layouts(dump):
    """{interface: [entry text, ...] in slot order} from a layout dump."""
    tables, current = {}, None
    for line in dump.splitlines():
        m = HEADER.match(line)
        if m:
            current = m.group(1)
            tables[current] = []
            continue
        m = ENTRY.match(line) if current else None
        if m:
            tables[current].append(m.group(2))
        elif not line.strip():
            current = None
    return tables


def check(target, tables):
    faults = []
    for interface, slots in EXPECTED.items():
        entries = tables.get(interface)
        if entries is None:
            faults.append(f"{target}: no layout for {interface}")
            continue
        found = {}
        for index, text in enumerate(entries):
            m = NAME.search(text)
            if m:
                found.setdefault(m.group(1), index)
        for name, slot in slots.items():
            if found.get(name) != slot:
                faults.append(f"{target}: {interface}::{name} is at slot {found.get(name)}, "
                              f"the host calls slot {slot}")
        destructors = [t for t in entries if "~" in t]
        if destructors:
            faults.append(f"{target}: {interface} has destructor entries {destructors}")
    return faults


def functions(ir):
    """{function name fragment: body} of the functions defined in the IR."""
    bodies, name, lines = {}, None, []
    for line in ir.splitlines():
        if line.startswith("define"):
            name, lines = line, [line]
        elif name is not None:
            lines.append(line)
            if line == "}":
                bodies[name] = "\n".join(lines)
                name = None
    return bodies


def check_by_value(target, ir):
    bodies = functions(ir)
    faults = []
    sides = []
    for fragment in ("HostHandsOver", "ExtensionReceives"):
        body = next((b for n, b in bodies.items() if fragment in n.split("(")[0]), None)
        if body is None:
            return [f"{target}: no code for {fragment}"]
        sides.append(bool(DESTRUCTOR.search(body)))
    if tuple(sides) != DESTROYS[target]:
        faults.append(f"{target}: caller destroys {sides[0]}, callee destroys {sides[1]}, "
                      f"expected {DESTROYS[target]}")
    receiver = next(n for n in bodies if "ExtensionReceives" in n.split("(")[0])
    if '%"class.host::ObjectRef"* noundef %0' not in receiver and "ptr noundef %0" not in receiver:
        faults.append(f"{target}: the by-value ObjectRef is not passed by address: {receiver}")
    return faults


def compile_for(clang, root, here, target, source, flags):
    return subprocess.run(
        [clang, "-std=c++17", "-target", target, "-nostdinc", "-nostdinc++",
         "-isystem", os.path.join(here, "include"), "-I", root] + flags +
        [os.path.join(here, source)], capture_output=True, text=True)


def main():
    clang, root = sys.argv[1], sys.argv[2]
    if shutil.which(clang) is None:
        print(f"vtable layout: {clang} not found, skipped")
        return 77
    here = os.path.join(root, "tests", "host", "vtable_layout")
    faults = []
    for target in TARGETS:
        run = compile_for(clang, root, here, target, "probe.cpp",
                          ["-Xclang", "-fdump-vtable-layouts", "-S", "-emit-llvm", "-o", os.devnull])
        if run.returncode != 0:
            print(f"vtable layout: clang failed for {target}:\n{run.stderr}")
            return 1
        faults += check(target, layouts(run.stdout))
        run = compile_for(clang, root, here, target, "by_value.cpp",
                          ["-O0", "-S", "-emit-llvm", "-o", "-"])
        if run.returncode != 0:
            print(f"by-value: clang failed for {target}:\n{run.stderr}")
            return 1
        faults += check_by_value(target, run.stdout)
    for f in faults:
        print(f)
    if not faults:
        print("vtable layout: every slot as the host calls it, under " + " and ".join(TARGETS))
        print("by-value ObjectRef: passed by address under both; destroyed by the callee "
              "under the first, by the caller under the second")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())

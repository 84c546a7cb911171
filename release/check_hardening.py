#!/usr/bin/python3
"""Checks every Windows file of a release archive against the rules a Windows
security review runs over the files it ships, reading the PE headers, the section
table and the code, with each file's symbols from the symbols archive.

Rules (README, "Hardening of the Windows files"):
  aslr          DYNAMIC_BASE, with base relocations to move by
  high-entropy  HIGH_ENTROPY_VA (64-bit files)
  dep           NX_COMPAT
  no-seh        NO_SEH, and no code that installs a handler frame through fs:[0]
                (32-bit files)
  wx            no section both writable and executable
  shared        no section both shared and writable
  stack-cookie  calls of __stack_chk_fail in the code
  fortify       calls of the checked string and print functions (__memcpy_chk, ...).
                A file has them only where the compiler knows a destination's size
                and cannot prove the call safe, so a file may have none: the rule is
                that the archive has some, which it loses when the build drops
                _FORTIFY_SOURCE; each file's count is shown.

Example:
  release/check_hardening.py build/windows-x86/package/zephra-native-1.0.0-windows-x86.zip \\
      build/windows-x86/package/zephra-native-1.0.0-windows-x86-symbols.zip
"""
import argparse
import re
import struct
import sys
import zipfile

DYNAMIC_BASE = 0x0040
HIGH_ENTROPY_VA = 0x0020
NX_COMPAT = 0x0100
NO_SEH = 0x0400
SCN_MEM_SHARED = 0x10000000
SCN_MEM_EXECUTE = 0x20000000
SCN_MEM_WRITE = 0x80000000
DIR_BASERELOC = 5


class PeError(Exception):
    pass


class Section:
    def __init__(self, name, virtual_address, virtual_size, raw_offset, raw_size, flags):
        self.name = name
        self.virtual_address = virtual_address
        self.virtual_size = virtual_size
        self.raw_offset = raw_offset
        self.raw_size = raw_size
        self.flags = flags


class PeFile:
    """The parts of a PE file the rules look at."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ" or len(data) < 0x40:
            raise PeError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise PeError("no PE signature")
        (self.machine, sections, _, self.symbol_table, self.symbol_count, optional_size,
         _) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        if magic == 0x10B:
            self.is64 = False
            directories = optional + 96
        elif magic == 0x20B:
            self.is64 = True
            directories = optional + 112
        else:
            raise PeError("unknown optional header magic 0x%x" % magic)
        self.dll_characteristics = struct.unpack_from("<H", data, optional + 70)[0]
        count = struct.unpack_from("<I", data, directories - 4)[0]
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(count)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            name, vsize, vaddr, rsize, roffset = struct.unpack_from("<8sIIII", data, table + 40 * i)
            flags = struct.unpack_from("<I", data, table + 40 * i + 36)[0]
            self.sections.append(Section(name.rstrip(b"\0").decode("latin-1"), vaddr, vsize, roffset, rsize, flags))

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def code(self):
        """(virtual address, bytes) of each executable section."""
        for s in self.sections:
            if s.flags & SCN_MEM_EXECUTE and s.raw_size:
                yield s.virtual_address, self.data[s.raw_offset:s.raw_offset + min(s.raw_size, s.virtual_size or s.raw_size)]

    def symbols(self):
        """{name: RVA} of the COFF symbol table (kept in a debug file) for symbols in sections."""
        if not self.symbol_table or not self.symbol_count:
            return {}
        strings = self.symbol_table + 18 * self.symbol_count
        found = {}
        i = 0
        while i < self.symbol_count:
            entry = self.symbol_table + 18 * i
            raw, value, section, _, _, aux = struct.unpack_from("<8sIhHBB", self.data, entry)
            if raw[:4] == b"\0\0\0\0":
                start = strings + struct.unpack_from("<I", raw, 4)[0]
                name = self.data[start:self.data.index(b"\0", start)]
            else:
                name = raw.rstrip(b"\0")
            if 0 < section <= len(self.sections):
                found[name.decode("latin-1")] = self.sections[section - 1].virtual_address + value
            i += 1 + aux
        return found


def call_sites(pe, targets):
    """How many direct calls (E8 rel32) in the code reach each RVA of `targets`."""
    counts = dict.fromkeys(targets, 0)
    for base, code in pe.code():
        position = code.find(b"\xe8")
        while 0 <= position <= len(code) - 5:
            target = (base + position + 5 + struct.unpack_from("<i", code, position + 1)[0]) & 0xFFFFFFFF
            if target in counts:
                counts[target] += 1
            position = code.find(b"\xe8", position + 1)
    return counts


# Writes to fs:[0], the head of the 32-bit structured exception handler chain:
# mov fs:[0],eax (64 A3 disp32), mov fs:[0],r32 (64 89 modrm disp32), pop fs:[0]
# (64 8F 05 disp32).
SEH_FRAME_WRITE = re.compile(rb"\x64(?:\xa3|\x89[\x05\x0d\x15\x1d\x25\x2d\x35\x3d]|\x8f\x05)\0\0\0\0", re.S)


def check_file(name, pe, debug):
    """[(rule, ok, what was seen)] for one file."""
    results = []
    flags = pe.dll_characteristics
    relocs = pe.directory(DIR_BASERELOC)[1]
    results.append(("aslr", bool(flags & DYNAMIC_BASE) and relocs > 0,
                    "DYNAMIC_BASE %s, relocations %d bytes" % ("set" if flags & DYNAMIC_BASE else "missing", relocs)))
    if pe.is64:
        results.append(("high-entropy", bool(flags & HIGH_ENTROPY_VA),
                        "HIGH_ENTROPY_VA %s" % ("set" if flags & HIGH_ENTROPY_VA else "missing")))
    results.append(("dep", bool(flags & NX_COMPAT), "NX_COMPAT %s" % ("set" if flags & NX_COMPAT else "missing")))
    if not pe.is64:
        frames = sum(len(SEH_FRAME_WRITE.findall(code)) for _, code in pe.code())
        results.append(("no-seh", bool(flags & NO_SEH) and frames == 0,
                        "NO_SEH %s, %d handler frame writes" % ("set" if flags & NO_SEH else "missing", frames)))
    wx = [s.name for s in pe.sections if s.flags & SCN_MEM_WRITE and s.flags & SCN_MEM_EXECUTE]
    results.append(("wx", not wx, "writable and executable: %s" % (", ".join(wx) or "none")))
    shared = [s.name for s in pe.sections if s.flags & SCN_MEM_WRITE and s.flags & SCN_MEM_SHARED]
    results.append(("shared", not shared, "shared and writable: %s" % (", ".join(shared) or "none")))

    symbols = debug.symbols() if debug else {}
    if not symbols:
        results.append(("stack-cookie", False, "no symbols for the file"))
        return results, 0
    prefix = "" if pe.is64 else "_"  # 32-bit C names carry a leading underscore
    stack_fail = symbols.get(prefix + "__stack_chk_fail")
    checked = {rva: sym[len(prefix):] for sym, rva in symbols.items()
               if re.fullmatch(re.escape(prefix) + r"__(mem|str|stp|wcs|v?s?n?printf)\w*_chk", sym)}
    counts = call_sites(pe, ([stack_fail] if stack_fail is not None else []) + list(checked))
    cookies = counts.get(stack_fail, 0) if stack_fail is not None else 0
    results.append(("stack-cookie", cookies > 0, "%d calls of __stack_chk_fail" % cookies))
    fortified = {checked[rva]: n for rva, n in counts.items() if rva in checked and n}
    results.append(("fortify", None,
                    "%d checked calls (%s)" % (sum(fortified.values()),
                                               ", ".join("%s %d" % kv for kv in sorted(fortified.items())) or "none")))
    return results, sum(fortified.values())


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("archive", help="the release archive (.zip) with the shipped files")
    parser.add_argument("symbols", help="its symbols archive (<file>.debug for each file)")
    args = parser.parse_args()
    try:
        runtime = zipfile.ZipFile(args.archive)
        debug = zipfile.ZipFile(args.symbols)
    except (OSError, zipfile.BadZipFile) as error:
        sys.exit("check_hardening: %s" % error)
    debug_names = set(debug.namelist())
    failures = 0
    fortified = 0
    files = [n for n in runtime.namelist() if n.lower().endswith((".dll", ".exe"))]
    if not files:
        sys.exit("check_hardening: %s holds no .dll or .exe" % args.archive)
    for name in sorted(files):
        try:
            pe = PeFile(runtime.read(name))
            debug_pe = PeFile(debug.read(name + ".debug")) if name + ".debug" in debug_names else None
        except (PeError, struct.error, ValueError) as error:
            print("%s: not a PE file this check can read (%s)" % (name, error))
            failures += 1
            continue
        print(name)
        results, checked = check_file(name, pe, debug_pe)
        for rule, ok, seen in results:
            print("  %-4s %-13s %s" % ("-" if ok is None else "ok" if ok else "FAIL", rule, seen))
            failures += ok is False
        fortified += checked
    print("%-4s fortify: %d checked calls in the archive" % ("ok" if fortified else "FAIL", fortified))
    failures += not fortified
    if failures:
        print("%d rule(s) failed" % failures)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

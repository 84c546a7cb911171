#!/usr/bin/python3
"""Lists JACK's server registry, or frees the entries of servers that are gone.

    jack-registry.py list
    jack-registry.py reclaim      # e.g. after "Too many servers already active"

JACK (jackd2) registers every server it starts in a shared-memory registry of eight
server slots (/dev/shm/jack-shm-registry). A server that ends normally gives its slot
back; one that is killed (as the sound fault test kills its own on purpose, or a
crash) keeps it, and JACK itself frees such a slot only when a server of the same
name starts again. Servers of names that are not started again (other build trees,
other users of the machine) so fill the registry, and then no new server can start.

reclaim frees, under the registry's own lock, exactly the slots whose process no
longer exists: what JACK does for a slot of the name it starts, done for every name.
"""
import argparse
import ctypes
import mmap
import os
import struct
import sys

REGISTRY = "/dev/shm/jack-shm-registry"
MAGIC = 0x4A41434B  # "JACK"
SEMAPHORE_KEY = 0x282929  # JACK_SEMAPHORE_KEY: the registry's lock
MAX_SERVERS = 8
HEADER = struct.Struct("<IH2xiiii")  # magic, protocol, type, size, hdr_len, entry_len
NAME_BYTES = 257  # JACK_SERVER_NAME_SIZE + 1
SLOT_BYTES = 4 + NAME_BYTES + 3  # pid_t pid; char name[257]; padded to 4


class RegistryError(Exception):
    pass


class SemBuf(ctypes.Structure):
    _fields_ = [("sem_num", ctypes.c_ushort), ("sem_op", ctypes.c_short), ("sem_flg", ctypes.c_short)]


class RegistryLock:
    """JACK's registry semaphore, taken as JACK takes it (undone if we die holding it)."""

    SEM_UNDO = 0x1000

    def __init__(self):
        self.libc = ctypes.CDLL(None, use_errno=True)
        self.semid = self.libc.semget(SEMAPHORE_KEY, 0, 0)

    def _add(self, value):
        if self.semid == -1:
            return  # no JACK has run since boot: nobody else uses the registry
        op = SemBuf(0, value, self.SEM_UNDO)
        if self.libc.semop(self.semid, ctypes.byref(op), 1) == -1:
            raise RegistryError("cannot take JACK's registry lock: " + os.strerror(ctypes.get_errno()))

    def __enter__(self):
        self._add(-1)
        return self

    def __exit__(self, *exc):
        self._add(1)


def alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True  # another user's process
    return True


def slots(view):
    """(offset, pid, name) of every server slot, after checking the layout."""
    magic, _protocol, _type, _size, hdr_len, _entry_len = HEADER.unpack_from(view, 0)
    if magic != MAGIC or hdr_len != HEADER.size + MAX_SERVERS * SLOT_BYTES:
        raise RegistryError(f"{REGISTRY} is not a JACK registry of the layout this tool knows")
    for i in range(MAX_SERVERS):
        at = HEADER.size + i * SLOT_BYTES
        (pid,) = struct.unpack_from("<i", view, at)
        name = bytes(view[at + 4 : at + 4 + NAME_BYTES]).split(b"\0")[0].decode(errors="replace")
        yield at, pid, name


def open_registry():
    try:
        fd = os.open(REGISTRY, os.O_RDWR)
    except FileNotFoundError:
        return None
    except OSError as e:
        raise RegistryError(f"cannot open {REGISTRY}: {e.strerror}")
    try:
        return mmap.mmap(fd, 0)
    finally:
        os.close(fd)


def main():
    parser = argparse.ArgumentParser(
        description=__doc__.split("\n\n")[0],
        epilog="example: python3 tools/jack-registry.py reclaim",
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("command", choices=["list", "reclaim"])
    args = parser.parse_args()
    try:
        view = open_registry()
        if view is None:
            print("no JACK registry")
            return 0
        with RegistryLock():
            for at, pid, name in slots(view):
                if pid == 0:
                    continue
                gone = not alive(pid)
                if args.command == "reclaim" and gone:
                    view[at : at + SLOT_BYTES] = bytes(SLOT_BYTES)
                    print(f"freed {name} (pid {pid} gone)")
                elif args.command == "list":
                    print(f"{pid:>8} {'gone' if gone else 'running':8} {name}")
            view.flush()
    except RegistryError as e:
        print(f"jack-registry: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

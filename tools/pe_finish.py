#!/usr/bin/env python3
"""Finishes a linked MinGW executable: the two optional-header fields GNU ld leaves empty.

  pe_finish.py EXE MAP

- The load configuration entry of the data directory points at the symbol _load_config_used,
  whose address the linker's map file gives (the exe itself is stripped); its size is the
  structure's first field, as Windows reads it.
- The PE checksum.
"""
import re
import struct
import sys

LOAD_CONFIG_ENTRY = 10


def pe_checksum(data: bytes, checksum_offset: int) -> int:
    total = 0
    padded = data + b"\0" * (len(data) % 2)
    for i in range(0, len(padded), 2):
        if i == checksum_offset or i == checksum_offset + 2:
            continue  # the checksum field itself counts as zero
        total += padded[i] | padded[i + 1] << 8
        total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    return (total & 0xFFFF) + len(data)


def symbol_address(map_text: str, name: str) -> int:
    found = re.findall(r"^\s+0x([0-9a-fA-F]+)\s+" + re.escape(name) + r"\s*$", map_text, re.M)
    if len(found) != 1:
        sys.exit(f"pe_finish: {name} is in the map {len(found)} times, not once")
    return int(found[0], 16)


def file_offset(data: bytes, sections: list[int], rva: int) -> int:
    for header in sections:
        _, vsize, vaddr, rawsize, rawptr = struct.unpack_from("<8sIIII", data, header)
        if vaddr <= rva < vaddr + max(vsize, rawsize):
            return rawptr + rva - vaddr
    sys.exit(f"pe_finish: RVA {rva:#x} is in no section")


def main(path: str, map_path: str) -> None:
    with open(path, "rb") as f:
        data = bytearray(f.read())
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        sys.exit(f"{path}: not a PE file")
    count, opt_size = struct.unpack_from("<H12xH", data, pe + 6)
    opt = pe + 4 + 20
    if struct.unpack_from("<H", data, opt)[0] != 0x20B:
        sys.exit(f"{path}: not a 64-bit PE file")
    image_base = struct.unpack_from("<Q", data, opt + 24)[0]
    sections = [opt + opt_size + 40 * i for i in range(count)]

    with open(map_path, encoding="latin-1") as f:
        rva = symbol_address(f.read(), "_load_config_used") - image_base
    size = struct.unpack_from("<I", data, file_offset(data, sections, rva))[0]
    struct.pack_into("<II", data, opt + 112 + 8 * LOAD_CONFIG_ENTRY, rva, size)

    checksum = opt + 64
    struct.pack_into("<I", data, checksum, pe_checksum(bytes(data), checksum))
    with open(path, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])

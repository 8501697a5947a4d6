#!/usr/bin/env python3
"""Writes the PE checksum into an executable's optional header (the linker leaves it 0)."""
import struct
import sys


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


def main(path: str) -> None:
    with open(path, "rb") as f:
        data = bytearray(f.read())
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        sys.exit(f"{path}: not a PE file")
    offset = pe + 4 + 20 + 64  # signature, file header, then the field at 64 in the optional header
    struct.pack_into("<I", data, offset, pe_checksum(bytes(data), offset))
    with open(path, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])

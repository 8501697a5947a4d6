"""What the program file declares about itself, read from the built .exe.

Windows (and Explorer's file properties) read these without running the
program: the PE headers, the imports, the version resource, the icon group
and the application manifest. The version resource is walked byte by byte
here, because the order of its blocks matters and general-purpose readers
reorder them.
"""

import os
import re
import struct
import sys
import unittest
import xml.etree.ElementTree as ET
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "wine"))
import harness  # noqa: E402

import pefile  # noqa: E402

ART = Path(os.environ.get("LUMENO_ART") or harness.REPO_ROOT / "art")

RT_ICON = 3
RT_GROUP_ICON = 14
RT_VERSION = 16
RT_MANIFEST = 24

# DLLs any Windows has; Wine's own DLL folder is consulted too.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "gdiplus.dll", "windowscodecs.dll",
    "shell32.dll", "shlwapi.dll", "ole32.dll", "oleaut32.dll", "comctl32.dll",
    "comdlg32.dll", "advapi32.dll", "msvcrt.dll", "ucrtbase.dll", "ntdll.dll",
    "uxtheme.dll", "msimg32.dll", "version.dll", "winmm.dll", "imm32.dll",
    "dwmapi.dll", "shcore.dll", "bcrypt.dll", "ws2_32.dll", "kernelbase.dll",
}
WINE_DLL_DIRS = [Path("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"),
                 Path("/usr/lib/wine/x86_64-windows")]
COMPILER_RUNTIME = re.compile(r"^(libstdc\+\+|libgcc|libwinpthread|libssp|libgomp|libatomic)",
                              re.IGNORECASE)


def load_exe() -> pefile.PE:
    if not harness.EXE.is_file():
        raise FileNotFoundError(f"program not built: {harness.EXE} (set LUMENO_EXE)")
    return pefile.PE(str(harness.EXE))


def resources(pe: pefile.PE) -> list[tuple[int, object, int, bytes]]:
    """Every resource as (type, id or name, language id, data)."""
    found = []
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    if root is None:
        return found
    for rtype in root.entries:
        type_id = rtype.id if rtype.name is None else str(rtype.name)
        for rid in rtype.directory.entries:
            res_id = rid.id if rid.name is None else str(rid.name)
            for lang in rid.directory.entries:
                entry = lang.data.struct
                data = pe.get_data(entry.OffsetToData, entry.Size)
                found.append((type_id, res_id, lang.id, data))
    return found


def align4(n: int) -> int:
    return (n + 3) & ~3


class Block:
    """One node of a VS_VERSIONINFO tree, as laid out in the file."""

    def __init__(self, data: bytes, offset: int) -> None:
        if offset + 6 > len(data):
            raise ValueError(f"block header past the end at {offset}")
        self.offset = offset
        self.length, self.value_length, self.type = struct.unpack_from("<HHH", data, offset)
        self.end = offset + self.length
        if self.length < 6 or self.end > len(data):
            raise ValueError(f"block at {offset} has bad length {self.length}")
        p = offset + 6
        key_end = p
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
            if key_end >= self.end:
                raise ValueError(f"unterminated key in block at {offset}")
        self.key = data[p:key_end].decode("utf-16-le")
        p = align4(key_end + 2)
        # Text values count UTF-16 units, binary values count bytes.
        size = self.value_length * 2 if self.type == 1 else self.value_length
        self.raw_value = data[p:min(p + size, self.end)]
        p = align4(p + size) if size else p
        self.children: list[Block] = []
        while p < self.end:
            child = Block(data, p)
            self.children.append(child)
            p = align4(child.end)

    @property
    def text(self) -> str:
        return self.raw_value.decode("utf-16-le").split("\0", 1)[0]

    def child(self, key: str) -> "Block":
        matches = [c for c in self.children if c.key == key]
        if len(matches) != 1:
            raise KeyError(f"{len(matches)} blocks named {key!r} under {self.key!r}")
        return matches[0]


class PeHeaderTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls) -> None:
        cls.pe = load_exe()

    def test_is_a_64_bit_windows_gui_program(self) -> None:
        self.assertEqual(self.pe.FILE_HEADER.Machine, 0x8664, "not x86-64")
        self.assertEqual(self.pe.OPTIONAL_HEADER.Magic, 0x20B, "not PE32+")
        self.assertEqual(self.pe.OPTIONAL_HEADER.Subsystem, 2, "not the Windows GUI subsystem")

    def test_address_space_protections_are_on(self) -> None:
        flags = self.pe.OPTIONAL_HEADER.DllCharacteristics
        for name, bit in (("DYNAMIC_BASE", 0x40), ("HIGH_ENTROPY_VA", 0x20),
                          ("NX_COMPAT", 0x100)):
            self.assertTrue(flags & bit, f"{name} is off (DllCharacteristics {flags:#x})")
        # ASLR needs the relocations actually present.
        reloc = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[5]
        self.assertGreater(reloc.Size, 0, "no base relocation directory")
        self.assertEqual(self.pe.FILE_HEADER.Characteristics & 0x1, 0,
                         "relocations stripped (IMAGE_FILE_RELOCS_STRIPPED)")
        self.pe.parse_data_directories(directories=[5])
        blocks = getattr(self.pe, "DIRECTORY_ENTRY_BASERELOC", [])
        self.assertTrue(any(b.entries for b in blocks), "relocation directory has no entries")

    def test_no_section_is_both_writable_and_executable(self) -> None:
        for section in self.pe.sections:
            name = section.Name.rstrip(b"\0").decode(errors="replace")
            c = section.Characteristics
            self.assertFalse(c & 0x80000000 and c & 0x20000000,
                             f"section {name} is writable and executable")

    def test_imports_only_windows_own_dlls(self) -> None:
        self.pe.parse_data_directories(directories=[1, 13])
        names = [e.dll.decode().lower() for e in getattr(self.pe, "DIRECTORY_ENTRY_IMPORT", [])]
        names += [e.dll.decode().lower()
                  for e in getattr(self.pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])]
        self.assertIn("kernel32.dll", names)
        wine_dlls = {p.name.lower() for d in WINE_DLL_DIRS if d.is_dir() for p in d.iterdir()}
        for name in names:
            self.assertFalse(COMPILER_RUNTIME.match(name),
                             f"imports the compiler runtime {name}: link it statically")
            self.assertTrue(name in SYSTEM_DLLS or name in wine_dlls or
                            name.startswith(("api-ms-win-", "ext-ms-win-")),
                            f"imports {name}, which is not a Windows system DLL")


class VersionResourceTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls) -> None:
        cls.pe = load_exe()
        cls.found = [r for r in resources(cls.pe) if r[0] == RT_VERSION]
        cls.root = Block(cls.found[0][3], 0) if len(cls.found) == 1 else None

    def setUp(self) -> None:
        self.assertEqual([(r[1], r[2]) for r in self.found], [(1, 0x0409)],
                         "want exactly one version resource, id 1, language 0x0409")

    def test_layout_of_the_whole_resource(self) -> None:
        data = self.found[0][3]
        self.assertEqual(self.root.key, "VS_VERSION_INFO")
        self.assertEqual(self.root.type, 0)
        self.assertLessEqual(self.root.length, len(data))
        self.assertFalse(data[self.root.length:].strip(b"\0"), "bytes after the version block")

    def test_fixed_file_info(self) -> None:
        self.assertEqual(self.root.value_length, 52)
        fields = struct.unpack("<13I", self.root.raw_value)
        names = ("signature", "struct_version", "file_ms", "file_ls", "product_ms", "product_ls",
                 "flags_mask", "flags", "os", "type", "subtype", "date_ms", "date_ls")
        want = (0xFEEF04BD, 0x00010000, 0x00010000, 0, 0x00010000, 0, 0, 0, 0x4, 0x1, 0, 0, 0)
        self.assertEqual(dict(zip(names, fields)), dict(zip(names, want)))

    def test_version_block_comes_before_string_block(self) -> None:
        self.assertEqual([c.key for c in self.root.children], ["VarFileInfo", "StringFileInfo"])

    def test_translation_is_us_english_unicode(self) -> None:
        var = self.root.child("VarFileInfo")
        self.assertEqual([c.key for c in var.children], ["Translation"])
        translation = var.child("Translation")
        self.assertEqual(translation.type, 0)
        self.assertEqual(struct.unpack("<HH", translation.raw_value), (0x0409, 0x04B0))

    def test_string_table(self) -> None:
        strings = self.root.child("StringFileInfo")
        self.assertEqual([c.key for c in strings.children], ["040904B0"])
        table = strings.child("040904B0")
        keys = [c.key for c in table.children]
        self.assertEqual(keys, ["Comments", "CompanyName", "FileDescription", "LegalCopyright",
                                "ProductName", "FileVersion", "ProductVersion", "InternalName",
                                "OriginalFilename"])
        for c in table.children:
            self.assertEqual(c.type, 1, f"{c.key} is not stored as text")
        values = {c.key: c.text for c in table.children}
        self.assertEqual(values["CompanyName"], ".")
        self.assertEqual(values["ProductName"], "Lumeno Control Panel")
        self.assertEqual(values["FileVersion"], "1.00")
        self.assertEqual(values["ProductVersion"], "1.00")
        self.assertEqual(values["InternalName"], "LumenoControlPanel")
        self.assertEqual(values["OriginalFilename"], "LumenoControlPanel.exe")
        self.assertEqual(values["FileDescription"], values["Comments"])
        for key in ("Comments", "LegalCopyright"):
            text = values[key]
            self.assertTrue(text.strip(), f"{key} is empty")
            self.assertNotRegex(text, r"[\r\n]", f"{key} is not one line")
            self.assertTrue(text.isascii(), f"{key} is not plain ASCII")


class IconGroupTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls) -> None:
        cls.all = resources(load_exe())

    def test_group_lists_two_16_colour_images(self) -> None:
        groups = [r for r in self.all if r[0] == RT_GROUP_ICON]
        self.assertEqual([(g[1], g[2]) for g in groups], [(1, 0)],
                         "want one icon group, id 1, language neutral")
        data = groups[0][3]
        reserved, kind, count = struct.unpack_from("<HHH", data, 0)
        self.assertEqual((reserved, kind, count), (0, 1, 2))
        self.assertEqual(len(data), 6 + 14 * count)
        entries = [struct.unpack_from("<BBBBHHIH", data, 6 + 14 * i) for i in range(count)]
        # width, height, colours, reserved, planes, bit count, bytes, image id
        self.assertEqual(entries, [(16, 16, 16, 0, 1, 4, 296, 30001),
                                   (32, 32, 16, 0, 1, 4, 744, 30002)])

    def test_icon_images_are_the_art_files(self) -> None:
        icons = {r[1]: r[3] for r in self.all if r[0] == RT_ICON}
        self.assertEqual(sorted(icons), [30001, 30002])
        for res_id, name, size, width in ((30001, "program16.dib", 296, 16),
                                          (30002, "program32.dib", 744, 32)):
            art = (ART / name).read_bytes()
            self.assertEqual(len(icons[res_id]), size, f"icon {res_id} size")
            self.assertEqual(icons[res_id], art, f"icon {res_id} differs from art/{name}")
            # A DIB of the image and its mask: double height, 4 bits, 1 plane.
            hdr = struct.unpack_from("<IiiHH", icons[res_id], 0)
            self.assertEqual(hdr, (40, width, 2 * width, 1, 4))


class ManifestTest(unittest.TestCase):
    def test_manifest_runs_as_invoker_on_supported_systems_without_dpi_awareness(self) -> None:
        found = [r for r in resources(load_exe()) if r[0] == RT_MANIFEST]
        self.assertEqual([r[1] for r in found], [1], "want one manifest, id 1")
        text = found[0][3].decode("utf-8-sig")
        root = ET.fromstring(text.strip().rstrip("\0"))
        local = lambda el: el.tag.rsplit("}", 1)[-1]  # noqa: E731
        elements = list(root.iter())
        levels = [e for e in elements if local(e) == "requestedExecutionLevel"]
        self.assertEqual(len(levels), 1)
        self.assertEqual(levels[0].get("level"), "asInvoker")
        self.assertIn(levels[0].get("uiAccess", "false"), ("false",))
        supported = [e.get("Id") for e in elements if local(e) == "supportedOS"]
        self.assertTrue(supported, "no supportedOS entries")
        for guid in supported:
            self.assertRegex(guid or "", r"^\{[0-9a-fA-F-]{36}\}$")
        dpi = [local(e) for e in elements if local(e).lower() in ("dpiaware", "dpiawareness")]
        self.assertEqual(dpi, [], "the program must not declare DPI awareness")


class HardeningTest(unittest.TestCase):
    """The rest of what Microsoft's binary analyzer applies to a 64-bit PE that carries no
    PDB, and a file that gives nothing away about its build."""

    @classmethod
    def setUpClass(cls) -> None:
        cls.pe = load_exe()

    def test_no_debug_information(self) -> None:
        names = [s.Name.rstrip(b"\0").decode(errors="replace") for s in self.pe.sections]
        # Long section names ("/4") live in the COFF string table, which only symbols bring.
        self.assertEqual([n for n in names if n.startswith((".debug", ".zdebug", ".stab", "/"))],
                         [], "debug sections")
        self.assertEqual(self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[6].Size, 0, "debug directory")
        self.assertEqual((self.pe.FILE_HEADER.PointerToSymbolTable,
                          self.pe.FILE_HEADER.NumberOfSymbols), (0, 0), "COFF symbol table")

    def test_checksum_is_filled_in_and_right(self) -> None:
        stored = self.pe.OPTIONAL_HEADER.CheckSum
        self.assertNotEqual(stored, 0, "PE checksum left 0")
        self.assertEqual(stored, self.pe.generate_checksum(), "PE checksum does not match")

    def test_high_entropy_aslr_prerequisites(self) -> None:
        # BA2001: a preferred base below 4 GB puts a 64-bit image in ASLR's compatibility mode.
        self.assertGreaterEqual(self.pe.OPTIONAL_HEADER.ImageBase, 1 << 32)
        # BA2015: high-entropy VA only counts with LARGE_ADDRESS_AWARE.
        self.assertTrue(self.pe.FILE_HEADER.Characteristics & 0x20, "not large address aware")

    def test_section_layout(self) -> None:
        self.assertGreaterEqual(self.pe.OPTIONAL_HEADER.SectionAlignment, 0x1000,
                                "sections share pages, so page protections cannot follow them")
        for section in self.pe.sections:
            name = section.Name.rstrip(b"\0").decode(errors="replace")
            c = section.Characteristics
            self.assertFalse(c & 0x10000000 and c & 0x80000000,  # BA2019
                             f"section {name} is shared and writable")
        # BA2010: the loader makes the import tables writable; they must not be executable.
        for index in (1, 12):
            rva = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[index].VirtualAddress
            section = self.pe.get_section_by_rva(rva)
            self.assertIsNotNone(section)
            self.assertFalse(section.Characteristics & 0x20000000,
                             f"imports ({index}) lie in an executable section")


if __name__ == "__main__":
    unittest.main(verbosity=2)

# What the program file declares about itself, read from the built .exe, as Windows and
# Explorer's file properties read it without running the program: the PE headers, the imports,
# the version resource, the icon group and the manifest. The version resource is walked byte by
# byte here, because the order of its blocks matters and general-purpose readers reorder them.

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

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24

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
    # Every resource as (type, id or name, language id, data).
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    name = lambda e: e.id if e.name is None else str(e.name)  # noqa: E731
    return [(name(t), name(r), lang.id, pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size))
            for t in (root.entries if root else []) for r in t.directory.entries
            for lang in r.directory.entries]


class Block:
    # One node of a VS_VERSIONINFO tree, as laid out in the file.

    def __init__(self, data: bytes, offset: int) -> None:
        if offset + 6 > len(data):
            raise ValueError(f"block header past the end at {offset}")
        self.length, self.value_length, self.type = struct.unpack_from("<HHH", data, offset)
        self.end = offset + self.length
        if self.length < 6 or self.end > len(data):
            raise ValueError(f"block at {offset} has bad length {self.length}")
        key_end = next((i for i in range(offset + 6, self.end - 1, 2) if data[i:i + 2] == b"\0\0"), None)
        if key_end is None:
            raise ValueError(f"unterminated key in block at {offset}")
        self.key = data[offset + 6:key_end].decode("utf-16-le")
        p = (key_end + 2 + 3) & ~3  # values and children start 4-byte aligned
        # Text values count UTF-16 units, binary values count bytes.
        size = self.value_length * 2 if self.type == 1 else self.value_length
        self.raw_value = data[p:min(p + size, self.end)]
        p = (p + size + 3) & ~3
        self.children: list[Block] = []
        while p < self.end:
            child = Block(data, p)
            self.children.append(child)
            p = (child.end + 3) & ~3

    @property
    def text(self) -> str:
        return self.raw_value.decode("utf-16-le").split("\0", 1)[0]

    def child(self, key: str) -> "Block":
        matches = [c for c in self.children if c.key == key]
        if len(matches) != 1:
            raise KeyError(f"{len(matches)} blocks named {key!r} under {self.key!r}")
        return matches[0]


class PeFileTest(unittest.TestCase):
    # The headers, and what Microsoft's binary analyzer applies to a 64-bit PE without a PDB.

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
        self.assertGreater(self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[5].Size, 0, "no base relocation directory")
        self.assertEqual(self.pe.FILE_HEADER.Characteristics & 0x1, 0,
                         "relocations stripped (IMAGE_FILE_RELOCS_STRIPPED)")
        self.pe.parse_data_directories(directories=[5])
        blocks = getattr(self.pe, "DIRECTORY_ENTRY_BASERELOC", [])
        self.assertTrue(any(b.entries for b in blocks), "relocation directory has no entries")
        # BA2001: a preferred base below 4 GB puts a 64-bit image in ASLR's compatibility mode.
        self.assertGreaterEqual(self.pe.OPTIONAL_HEADER.ImageBase, 1 << 32)
        # BA2015: high-entropy VA only counts with LARGE_ADDRESS_AWARE.
        self.assertTrue(self.pe.FILE_HEADER.Characteristics & 0x20, "not large address aware")

    def test_section_protections(self) -> None:
        self.assertGreaterEqual(self.pe.OPTIONAL_HEADER.SectionAlignment, 0x1000,
                                "sections share pages, so page protections cannot follow them")
        for section in self.pe.sections:
            name = section.Name.rstrip(b"\0").decode(errors="replace")
            c = section.Characteristics
            self.assertFalse(c & 0x80000000 and c & 0x20000000, f"section {name} is writable and executable")
            self.assertFalse(c & 0x10000000 and c & 0x80000000,  # BA2019
                             f"section {name} is shared and writable")
        # BA2010: the loader makes the import tables writable; they must not be executable.
        for index in (1, 12):
            section = self.pe.get_section_by_rva(self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[index].VirtualAddress)
            self.assertIsNotNone(section)
            self.assertFalse(section.Characteristics & 0x20000000,
                             f"imports ({index}) lie in an executable section")

    def test_dlls_needed_at_start_come_from_the_system_directory(self) -> None:
        # Windows (10 1607 on) reads DependentLoadFlags from the load configuration for the DLLs
        # it resolves while the process starts, before the program can say anything itself.
        entry = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[10]
        self.assertNotEqual(entry.VirtualAddress, 0, "no load configuration")
        config = self.pe.get_data(entry.VirtualAddress, entry.Size)
        size, = struct.unpack_from("<I", config, 0)
        self.assertEqual(size, entry.Size, "the directory's size is not the structure's")
        self.assertGreaterEqual(size, 0x50, "too short to hold DependentLoadFlags")
        flags, = struct.unpack_from("<H", config, 0x4E)
        self.assertEqual(flags, 0x800, "DependentLoadFlags is not LOAD_LIBRARY_SEARCH_SYSTEM32")
        cookie, = struct.unpack_from("<Q", config, 0x58)
        self.assertEqual(cookie, 0, "a security cookie the loader would write")

    def test_the_shell_call_and_the_cursor_query_are_bound_by_name(self) -> None:
        # Neither is in the import table: each is looked up by name when first called.
        self.pe.parse_data_directories(directories=[1, 13])
        imported = {(e.dll.decode().lower(), (i.name or b"").decode())
                    for e in getattr(self.pe, "DIRECTORY_ENTRY_IMPORT", []) + getattr(self.pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])
                    for i in e.imports}
        data = self.pe.__data__
        for dll, name in (("shell32.dll", "ShellExecuteA"), ("user32.dll", "GetCursorPos")):
            self.assertFalse((dll, name) in imported, f"{name} is imported at start")
            self.assertIn(name.encode() + b"\0", data, f"{name} is not looked up by name")

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

    def test_no_debug_information_and_a_right_checksum(self) -> None:
        names = [s.Name.rstrip(b"\0").decode(errors="replace") for s in self.pe.sections]
        # Long section names ("/4") live in the COFF string table, which only symbols bring.
        self.assertEqual([n for n in names if n.startswith((".debug", ".zdebug", ".stab", "/"))],
                         [], "debug sections")
        self.assertEqual(self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[6].Size, 0, "debug directory")
        self.assertEqual((self.pe.FILE_HEADER.PointerToSymbolTable,
                          self.pe.FILE_HEADER.NumberOfSymbols), (0, 0), "COFF symbol table")
        self.assertNotEqual(self.pe.OPTIONAL_HEADER.CheckSum, 0, "PE checksum left 0")
        self.assertEqual(self.pe.OPTIONAL_HEADER.CheckSum, self.pe.generate_checksum(),
                         "PE checksum does not match")


class ResourceTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls) -> None:
        cls.all = resources(load_exe())
        cls.found = [r for r in cls.all if r[0] == RT_VERSION]
        cls.root = Block(cls.found[0][3], 0) if len(cls.found) == 1 else None

    def test_version_layout_fixed_info_and_translation(self) -> None:
        self.assertEqual([(r[1], r[2]) for r in self.found], [(1, 0x0409)],
                         "want exactly one version resource, id 1, language 0x0409")
        data = self.found[0][3]
        self.assertEqual((self.root.key, self.root.type), ("VS_VERSION_INFO", 0))
        self.assertLessEqual(self.root.length, len(data))
        self.assertFalse(data[self.root.length:].strip(b"\0"), "bytes after the version block")
        self.assertEqual([c.key for c in self.root.children], ["VarFileInfo", "StringFileInfo"])
        self.assertEqual(self.root.value_length, 52)
        fields = struct.unpack("<13I", self.root.raw_value)
        names = ("signature", "struct_version", "file_ms", "file_ls", "product_ms", "product_ls",
                 "flags_mask", "flags", "os", "type", "subtype", "date_ms", "date_ls")
        want = (0xFEEF04BD, 0x00010000, 0x00010000, 0, 0x00010000, 0, 0, 0, 0x4, 0x1, 0, 0, 0)
        self.assertEqual(dict(zip(names, fields)), dict(zip(names, want)))
        var = self.root.child("VarFileInfo")
        self.assertEqual([c.key for c in var.children], ["Translation"])
        translation = var.child("Translation")
        self.assertEqual(translation.type, 0)
        self.assertEqual(struct.unpack("<HH", translation.raw_value), (0x0409, 0x04B0))

    def test_version_string_table(self) -> None:
        self.assertIsNotNone(self.root, "no single version resource")
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
        want = {"CompanyName": ".", "ProductName": "Lumeno Control Panel", "FileVersion": "1.00",
                "ProductVersion": "1.00", "InternalName": "LumenoControlPanel",
                "OriginalFilename": "LumenoControlPanel.exe"}
        self.assertEqual({k: values[k] for k in want}, want)
        self.assertEqual(values["FileDescription"], values["Comments"])
        for key in ("Comments", "LegalCopyright"):
            text = values[key]
            self.assertTrue(text.strip(), f"{key} is empty")
            self.assertNotRegex(text, r"[\r\n]", f"{key} is not one line")
            self.assertTrue(text.isascii(), f"{key} is not plain ASCII")

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
        # Their format is the art check's business; the group above gives their sizes.
        icons = {r[1]: r[3] for r in self.all if r[0] == RT_ICON}
        self.assertEqual(icons, {30001: (ART / "program16.dib").read_bytes(),
                                 30002: (ART / "program32.dib").read_bytes()}, "icons differ from the art")

    def test_manifest_runs_as_invoker_on_supported_systems_aware_of_each_monitors_dpi(self) -> None:
        found = [r for r in self.all if r[0] == RT_MANIFEST]
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
        # Windows reads these only in their own namespaces: per monitor, version 2 first (10 1703
        # and later), then per monitor (8.1); "true" before the "/pm" keeps Windows 7 at system DPI.
        dpi = {e.tag: (e.text or "").replace(" ", "") for e in elements
               if local(e).lower() in ("dpiaware", "dpiawareness")}
        self.assertEqual(dpi, {
            "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}dpiAwareness": "PerMonitorV2,PerMonitor",
            "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware": "true/pm",
        })


if __name__ == "__main__":
    unittest.main(verbosity=2)

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
SYSTEM_DLLS = set("kernel32 user32 gdi32 gdiplus windowscodecs shell32 shlwapi ole32 oleaut32 comctl32 comdlg32 "
                  "advapi32 msvcrt ucrtbase ntdll uxtheme msimg32 version winmm imm32 dwmapi shcore bcrypt ws2_32 "
                  "kernelbase".split())
WINE_DLL_DIRS = [Path("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"), Path("/usr/lib/wine/x86_64-windows")]


class Block:
    # One node of a VS_VERSIONINFO tree, as laid out in the file.

    def __init__(self, data: bytes, offset: int) -> None:
        self.length, self.value_length, self.type = struct.unpack_from("<HHH", data, offset)
        self.end = offset + self.length
        if self.length < 6 or self.end > len(data):
            raise ValueError(f"block at {offset} has bad length {self.length}")
        key_end = next(i for i in range(offset + 6, self.end - 1, 2) if data[i:i + 2] == b"\0\0")
        self.key = data[offset + 6:key_end].decode("utf-16-le")
        p = (key_end + 2 + 3) & ~3  # values and children start 4-byte aligned
        size = self.value_length * 2 if self.type == 1 else self.value_length  # text counts UTF-16 units
        self.raw_value = data[p:min(p + size, self.end)]
        self.text = self.raw_value.decode("utf-16-le", errors="replace").split("\0", 1)[0]
        p = (p + size + 3) & ~3
        self.children: list[Block] = []
        while p < self.end:
            self.children.append(Block(data, p))
            p = (self.children[-1].end + 3) & ~3

    def child(self, key: str) -> "Block":
        [match] = [c for c in self.children if c.key == key]
        return match


class PeFileTest(unittest.TestCase):
    # The headers, and what Microsoft's binary analyzer applies to a 64-bit PE without a PDB.

    @classmethod
    def setUpClass(cls) -> None:
        if not harness.EXE.is_file():
            raise FileNotFoundError(f"program not built: {harness.EXE} (set LUMENO_EXE)")
        cls.pe = pe = pefile.PE(str(harness.EXE))
        cls.opt, cls.head = pe.OPTIONAL_HEADER, pe.FILE_HEADER
        cls.imports = getattr(pe, "DIRECTORY_ENTRY_IMPORT", []) + getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])
        root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
        name = lambda e: e.id if e.name is None else str(e.name)  # noqa: E731
        cls.resources = {}  # type -> [(id or name, language, data)]
        for t in root.entries if root else []:
            cls.resources[name(t)] = [(name(r), lang.id, pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size))
                                      for r in t.directory.entries for lang in r.directory.entries]

    def test_a_64_bit_windows_gui_program_with_address_space_and_section_protections(self) -> None:
        self.assertEqual((self.head.Machine, self.opt.Magic, self.opt.Subsystem), (0x8664, 0x20B, 2),
                         "not an x86-64 PE32+ for the Windows GUI subsystem")
        for name, bit in (("HIGH_ENTROPY_VA", 0x20), ("DYNAMIC_BASE", 0x40), ("NX_COMPAT", 0x100)):
            self.assertTrue(self.opt.DllCharacteristics & bit, f"{name} is off")
        # ASLR needs the relocations actually present.
        self.assertFalse(self.head.Characteristics & 0x1, "relocations stripped")
        self.assertTrue(any(b.entries for b in getattr(self.pe, "DIRECTORY_ENTRY_BASERELOC", [])), "no relocations")
        # BA2001: a preferred base below 4 GB puts a 64-bit image in ASLR's compatibility mode.
        self.assertGreaterEqual(self.opt.ImageBase, 1 << 32)
        # BA2015: high-entropy VA only counts with LARGE_ADDRESS_AWARE.
        self.assertTrue(self.head.Characteristics & 0x20, "not large address aware")
        # Page protections that follow the sections.
        self.assertGreaterEqual(self.opt.SectionAlignment, 0x1000, "sections share pages")
        writable, executable, shared = 0x80000000, 0x20000000, 0x10000000
        for s in self.pe.sections:
            for both in (writable | executable, writable | shared):  # BA2019: shared and writable
                self.assertNotEqual(s.Characteristics & both, both, s.Name)
        # BA2010: the loader makes the import tables writable; they must not be executable.
        for index in (1, 12):
            section = self.pe.get_section_by_rva(self.opt.DATA_DIRECTORY[index].VirtualAddress)
            self.assertFalse(section.Characteristics & executable, f"imports ({index}) in an executable section")

    def test_dlls_needed_at_start_come_from_the_system_directory(self) -> None:
        # Windows (10 1607 on) reads DependentLoadFlags from the load configuration for the DLLs
        # it resolves while the process starts, before the program can say anything itself.
        entry = self.opt.DATA_DIRECTORY[10]
        self.assertNotEqual(entry.VirtualAddress, 0, "no load configuration")
        config = self.pe.get_data(entry.VirtualAddress, entry.Size)
        self.assertEqual(struct.unpack_from("<I", config, 0)[0], entry.Size, "the directory's size is not the structure's")
        self.assertGreaterEqual(entry.Size, 0x60)
        # LOAD_LIBRARY_SEARCH_SYSTEM32, and no security cookie the loader would write.
        self.assertEqual((struct.unpack_from("<H", config, 0x4E)[0], struct.unpack_from("<Q", config, 0x58)[0]), (0x800, 0))

    def test_imports_only_windows_own_dlls_and_binds_the_shell_and_cursor_calls_by_name(self) -> None:
        names = [e.dll.decode().lower() for e in self.imports]
        self.assertIn("kernel32.dll", names)
        wine_dlls = {p.name.lower() for d in WINE_DLL_DIRS if d.is_dir() for p in d.iterdir()}
        for name in names:  # the compiler's runtime (libstdc++, libgcc, ...) is linked statically
            self.assertTrue(name[:-4] in SYSTEM_DLLS or name in wine_dlls or name.startswith(("api-ms-win-", "ext-ms-win-")),
                            f"imports {name}, which is not a Windows system DLL")
            self.assertNotRegex(name, r"^(libstdc\+\+|libgcc|libwinpthread|libssp|libgomp|libatomic)")
        imported = {(e.dll.decode().lower(), (i.name or b"").decode()) for e in self.imports for i in e.imports}
        # Neither is in the import table: each is looked up by name when first called.
        for dll, name in (("shell32.dll", "ShellExecuteA"), ("user32.dll", "GetCursorPos")):
            self.assertNotIn((dll, name), imported)
            self.assertGreaterEqual(self.pe.__data__.find(name.encode() + b"\0"), 0, f"{name} is not looked up by name")

    def test_no_debug_information_and_a_right_checksum(self) -> None:
        # Long section names ("/4") live in the COFF string table, which only symbols bring.
        self.assertEqual([s.Name for s in self.pe.sections if s.Name.startswith((b".debug", b".zdebug", b".stab", b"/"))],
                         [], "debug sections")
        self.assertEqual((self.opt.DATA_DIRECTORY[6].Size, self.head.PointerToSymbolTable, self.head.NumberOfSymbols),
                         (0, 0, 0), "a debug directory or COFF symbols")
        self.assertNotEqual(self.opt.CheckSum, 0, "PE checksum left 0")
        self.assertEqual(self.opt.CheckSum, self.pe.generate_checksum(), "PE checksum does not match")

    def test_version_resource_layout_fixed_info_translation_and_strings(self) -> None:
        found = self.resources.get(RT_VERSION, [])
        self.assertEqual([r[:2] for r in found], [(1, 0x0409)], "want one version resource, id 1, language 0x0409")
        root = Block(found[0][2], 0)
        self.assertEqual((root.key, root.type, root.value_length), ("VS_VERSION_INFO", 0, 52))
        self.assertFalse(found[0][2][root.length:].strip(b"\0"), "bytes after the version block")
        self.assertEqual([c.key for c in root.children], ["VarFileInfo", "StringFileInfo"])
        # signature, structure version, file and product versions, flags mask, flags, OS (NT),
        # type (application), subtype, date
        self.assertEqual(struct.unpack("<13I", root.raw_value),
                         (0xFEEF04BD, 0x00010000, 0x00010000, 0, 0x00010000, 0, 0, 0, 0x4, 0x1, 0, 0, 0))
        var = root.child("VarFileInfo")
        self.assertEqual([(c.key, c.type) for c in var.children], [("Translation", 0)])
        self.assertEqual(struct.unpack("<HH", var.child("Translation").raw_value), (0x0409, 0x04B0))
        strings = root.child("StringFileInfo")
        self.assertEqual([c.key for c in strings.children], ["040904B0"])
        table = strings.child("040904B0").children
        self.assertEqual([(c.key, c.type) for c in table], [(k, 1) for k in (
            "Comments", "CompanyName", "FileDescription", "LegalCopyright", "ProductName", "FileVersion",
            "ProductVersion", "InternalName", "OriginalFilename")], "the keys, in order, all stored as text")
        values = {c.key: c.text for c in table}
        self.assertEqual({k: values[k] for k in ("CompanyName", "ProductName", "FileVersion", "ProductVersion",
                                                 "InternalName", "OriginalFilename")},
                         {"CompanyName": ".", "ProductName": "Lumeno Control Panel", "FileVersion": "1.00",
                          "ProductVersion": "1.00", "InternalName": "LumenoControlPanel",
                          "OriginalFilename": "LumenoControlPanel.exe"})
        self.assertEqual(values["FileDescription"], values["Comments"])
        for key in ("Comments", "LegalCopyright"):  # one line of plain ASCII each
            self.assertTrue(re.fullmatch(r"[ -~]*[!-~][ -~]*", values[key]), key)

    def test_icon_group_of_two_16_colour_images_from_the_art(self) -> None:
        groups = self.resources.get(RT_GROUP_ICON, [])
        self.assertEqual([g[:2] for g in groups], [(1, 0)], "want one icon group, id 1, language neutral")
        data = groups[0][2]
        self.assertEqual((struct.unpack_from("<HHH", data), len(data)), ((0, 1, 2), 6 + 14 * 2))
        # width, height, colours, reserved, planes, bit count, bytes, image id
        self.assertEqual([struct.unpack_from("<BBBBHHIH", data, 6 + 14 * i) for i in range(2)],
                         [(16, 16, 16, 0, 1, 4, 296, 30001), (32, 32, 16, 0, 1, 4, 744, 30002)])
        # Their format is the art check's business.
        self.assertEqual({r[0]: r[2] for r in self.resources.get(RT_ICON, [])},
                         {30001: (ART / "program16.dib").read_bytes(), 30002: (ART / "program32.dib").read_bytes()})

    def test_manifest_runs_as_invoker_on_supported_systems_aware_of_each_monitors_dpi(self) -> None:
        found = self.resources.get(RT_MANIFEST, [])
        self.assertEqual([r[0] for r in found], [1], "want one manifest, id 1")
        elements = list(ET.fromstring(found[0][2].decode("utf-8-sig").strip().rstrip("\0")).iter())
        local = lambda el: el.tag.rsplit("}", 1)[-1]  # noqa: E731
        self.assertEqual([(e.get("level"), e.get("uiAccess", "false")) for e in elements
                          if local(e) == "requestedExecutionLevel"], [("asInvoker", "false")])
        supported = [e.get("Id") or "" for e in elements if local(e) == "supportedOS"]
        self.assertTrue(supported and all(re.match(r"^\{[0-9a-fA-F-]{36}\}$", g) for g in supported), supported)
        # Windows reads these only in their own namespaces: per monitor, version 2 first (10 1703
        # and later), then per monitor (8.1); "true" before the "/pm" keeps Windows 7 at system DPI.
        self.assertEqual({e.tag: (e.text or "").replace(" ", "") for e in elements
                          if local(e).lower() in ("dpiaware", "dpiawareness")}, {
            "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}dpiAwareness": "PerMonitorV2,PerMonitor",
            "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware": "true/pm",
        })


if __name__ == "__main__":
    unittest.main(verbosity=2)

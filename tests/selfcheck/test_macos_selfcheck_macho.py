"""How the self-check names the binary it ran: slices, build version and
bundle identifier read from the file's bytes, on Mach-O files built here
with the layout Apple's loader reads. KESTROVE_MACOS_BINARY may name a real
binary (the cross-built universal one) to read as well."""

import os
import plistlib
import struct
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))

import macos_selfcheck_macho as macho  # noqa: E402

ARM64 = (0x0100000C, 0)
ARM64E = (0x0100000C, 0x80000002)
X86_64 = (0x01000007, 3)

PLIST = plistlib.dumps({"CFBundleIdentifier": "org.kestrove.helper", "CFBundleShortVersionString": "1.0.0"})


def packed(major, minor, patch=0):
    return major << 16 | minor << 8 | patch


def build_version(minos, sdk, platform=1):
    return struct.pack("<IIIIII", macho.LC_BUILD_VERSION, 24, platform, minos, sdk, 0)


def version_min(minos, sdk):
    return struct.pack("<IIII", macho.LC_VERSION_MIN_MACOSX, 16, minos, sdk)


def thin(cpu, commands, plist=PLIST, wide=True):
    """A Mach-O executable: header, `commands`, a __TEXT segment whose
    __info_plist section holds `plist` (none when plist is None)."""
    header_size = 32 if wide else 28
    if plist is not None:
        segment_size = 72 + 80 if wide else 56 + 68
        size_of_commands = sum(len(c) for c in commands) + segment_size
        plist_at = header_size + size_of_commands
        if wide:
            segment = struct.pack("<II16sQQQQiiII", macho.LC_SEGMENT_64, segment_size, b"__TEXT",
                                  0, 0, 0, 0, 5, 5, 1, 0)
            section = struct.pack("<16s16sQQIIIIIIII", b"__info_plist", b"__TEXT", 0, len(plist), plist_at,
                                  0, 0, 0, 0, 0, 0, 0)
        else:
            segment = struct.pack("<II16sIIIIiiII", macho.LC_SEGMENT, segment_size, b"__TEXT", 0, 0, 0, 0, 5, 5, 1, 0)
            section = struct.pack("<16s16sIIIIIIIII", b"__info_plist", b"__TEXT", 0, len(plist), plist_at,
                                  0, 0, 0, 0, 0, 0)
        commands = list(commands) + [segment + section]
    body = b"".join(commands)
    magic = macho.MH_MAGIC_64 if wide else macho.MH_MAGIC
    header = struct.pack("<IIIIIII", magic, cpu[0], cpu[1], 2, len(commands), len(body), 0)
    if wide:
        header += b"\0\0\0\0"
    return header + body + (plist or b"")


def universal(*slices):
    header = struct.pack(">II", macho.FAT_MAGIC, len(slices))
    offset, entries, data = 4096, b"", b""
    for cpu, body in slices:
        entries += struct.pack(">iiIII", cpu[0], cpu[1] & 0x7FFFFFFF, offset + len(data), len(body), 12)
        data += body + b"\0" * (-len(body) % 4096)
    head = header + entries
    return head + b"\0" * (offset - len(head)) + data


class ReadMachO(unittest.TestCase):
    def test_what_each_kind_of_file_says(self):
        bv = build_version(packed(12, 0), packed(12, 3))
        cases = [
            ("universal, as shipped", universal((ARM64, thin(ARM64, [bv])), (X86_64, thin(X86_64, [bv]))),
             "universal", [("arm64", "macos", "12.0", "12.3", "org.kestrove.helper", "1.0.0"),
                           ("x86_64", "macos", "12.0", "12.3", "org.kestrove.helper", "1.0.0")]),
            ("thin, patch version", thin(ARM64, [build_version(packed(12, 0), packed(26, 0, 1))]),
             "thin", [("arm64", "macos", "12.0", "26.0.1", "org.kestrove.helper", "1.0.0")]),
            ("an older linker's version command", thin(X86_64, [version_min(packed(10, 13), packed(10, 15))]),
             "thin", [("x86_64", "macos", "10.13", "10.15", "org.kestrove.helper", "1.0.0")]),
            ("the build version wins over the old command",
             thin(ARM64, [bv, version_min(packed(10, 13), packed(10, 15))]),
             "thin", [("arm64", "macos", "12.0", "12.3", "org.kestrove.helper", "1.0.0")]),
            ("arm64e, no plist, no version", thin(ARM64E, [], plist=None),
             "thin", [("arm64e", None, None, None, None, None)]),
            ("another platform", thin(ARM64, [build_version(packed(15, 0), packed(15, 0), platform=2)]),
             "thin", [("arm64", "ios", "15.0", "15.0", "org.kestrove.helper", "1.0.0")]),
            ("32-bit", thin((7, 3), [version_min(packed(10, 6), packed(10, 6))], wide=False),
             "thin", [("i386", "macos", "10.6", "10.6", "org.kestrove.helper", "1.0.0")]),
        ]
        for name, data, kind, slices in cases:
            with self.subTest(name):
                info = macho.read_macho(data)
                self.assertEqual(info["kind"], kind)
                got = [(s["arch"], s["platform"], s["minos"], s["sdk"], s["identifier"], s["version"])
                       for s in info["slices"]]
                self.assertEqual(got, slices)

    def test_damaged_files_are_refused_not_read_past(self):
        good = thin(ARM64, [build_version(packed(12, 0), packed(12, 3))])
        cases = [
            ("a shell script", b"#!/bin/sh\nexec true\n"),
            ("too short", b"\xcf\xfa"),
            ("truncated slice", good[:40]),
            ("a universal slice past the end", universal((ARM64, good))[:4200]),
            ("no slices", struct.pack(">II", macho.FAT_MAGIC, 0)),
            ("a load command of size 0", good[:32] + b"\x32\0\0\0\0\0\0\0" + good[40:]),
        ]
        for name, data in cases:
            with self.subTest(name):
                with self.assertRaises(macho.NotMachO):
                    macho.read_macho(data)

    def test_a_damaged_plist_costs_only_the_identifier(self):
        info = macho.read_macho(thin(ARM64, [], plist=b"<plist>not closed"))
        self.assertTrue(info["slices"][0]["identifier"].startswith("unreadable Info.plist"))

    def test_report_lines(self):
        directory = tempfile.mkdtemp()
        path = os.path.join(directory, "kestrove")
        bv = build_version(packed(12, 0), packed(12, 3))
        with open(path, "wb") as f:
            f.write(universal((X86_64, thin(X86_64, [bv])), (ARM64, thin(ARM64, [bv]))))
        lines, info = macho.describe_file(path)
        self.assertRegex(lines[0], r"^sha-256 [0-9a-f]{64}, \d+ bytes$")
        self.assertEqual(lines[1], "universal Mach-O: x86_64 arm64")
        self.assertEqual(lines[2], "  x86_64: macos minos 12.0 sdk 12.3, Info.plist org.kestrove.helper 1.0.0")
        self.assertEqual(len(info["slices"]), 2)

        lines, info = macho.describe_file(os.path.join(directory, "missing"))
        self.assertIsNone(info)
        self.assertTrue(lines[0].startswith("unreadable"))

    @unittest.skipUnless(os.environ.get("KESTROVE_MACOS_BINARY"), "KESTROVE_MACOS_BINARY names no binary")
    def test_the_cross_built_binary(self):
        with open(os.environ["KESTROVE_MACOS_BINARY"], "rb") as f:
            info = macho.read_macho(f.read())
        for s in info["slices"]:
            self.assertEqual((s["platform"], s["minos"], s["identifier"]), ("macos", "12.0", "org.kestrove.helper"))
        self.assertIn("arm64", [s["arch"] for s in info["slices"]])


if __name__ == "__main__":
    unittest.main()

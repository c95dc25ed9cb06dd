"""Which binary the self-check ran: its slices, each slice's build-version
load command and the bundle identifier of its embedded Info.plist.

Read here from the file's bytes rather than through lipo, otool or vtool, so
the report says the same on a Mac without the developer tools and the
reading is tested off the Mac; the runner adds what `lipo -archs` says next
to it. Standard library only, no syntax newer than 3.8.
"""

import hashlib
import plistlib
import struct

FAT_MAGIC = 0xCAFEBABE
FAT_MAGIC_64 = 0xCAFEBABF
MH_MAGIC = 0xFEEDFACE
MH_MAGIC_64 = 0xFEEDFACF

LC_SEGMENT = 0x1
LC_SEGMENT_64 = 0x19
LC_VERSION_MIN_MACOSX = 0x24
LC_BUILD_VERSION = 0x32

CPU_ARCH_ABI64 = 0x01000000
CPU_TYPE_X86 = 7
CPU_TYPE_ARM = 12
CPU_SUBTYPE_MASK = 0x00FFFFFF
CPU_SUBTYPE_ARM64E = 2

PLATFORMS = {1: "macos", 2: "ios", 3: "tvos", 4: "watchos", 6: "maccatalyst", 7: "iossimulator"}


class NotMachO(ValueError):
    pass


def version_text(value):
    """A packed xxxx.yy.zz version as "12.0" or "26.0.1"."""
    major, minor, patch = value >> 16, (value >> 8) & 0xFF, value & 0xFF
    return "%d.%d.%d" % (major, minor, patch) if patch else "%d.%d" % (major, minor)


def arch_name(cputype, cpusubtype):
    if cputype == CPU_TYPE_ARM | CPU_ARCH_ABI64:
        return "arm64e" if cpusubtype & CPU_SUBTYPE_MASK == CPU_SUBTYPE_ARM64E else "arm64"
    if cputype == CPU_TYPE_X86 | CPU_ARCH_ABI64:
        return "x86_64"
    if cputype == CPU_TYPE_X86:
        return "i386"
    if cputype == CPU_TYPE_ARM:
        return "arm"
    return "cputype %#x" % cputype


def _cstring(raw):
    return raw.split(b"\0", 1)[0].decode("ascii", "replace")


def _slice(data, offset, size):
    """One thin Mach-O at `offset`: its architecture, build version and the
    identifier of its __TEXT,__info_plist section."""
    end = offset + size
    if size < 28 or end > len(data):
        raise NotMachO("a slice reaches past the end of the file")
    magic = struct.unpack_from("<I", data, offset)[0]
    if magic not in (MH_MAGIC, MH_MAGIC_64):
        raise NotMachO("a slice has no Mach-O header (magic %#x)" % magic)
    wide = magic == MH_MAGIC_64
    cputype, cpusubtype, _filetype, ncmds, sizeofcmds = struct.unpack_from("<IIIII", data, offset + 4)
    out = {"arch": arch_name(cputype, cpusubtype), "platform": None,
           "minos": None, "sdk": None, "identifier": None, "version": None}
    position = offset + (32 if wide else 28)
    limit = position + sizeofcmds
    if limit > end:
        raise NotMachO("the load commands reach past the end of the slice")
    for _ in range(ncmds):
        if position + 8 > limit:
            raise NotMachO("a load command reaches past the load commands")
        cmd, cmdsize = struct.unpack_from("<II", data, position)
        if cmdsize < 8 or position + cmdsize > limit:
            raise NotMachO("a load command has a bad size (%d)" % cmdsize)
        if cmd == LC_BUILD_VERSION and cmdsize >= 24:
            platform, minos, sdk = struct.unpack_from("<III", data, position + 8)
            out.update(platform=PLATFORMS.get(platform, "platform %d" % platform),
                       minos=version_text(minos), sdk=version_text(sdk))
        elif cmd == LC_VERSION_MIN_MACOSX and cmdsize >= 16 and out["minos"] is None:
            minos, sdk = struct.unpack_from("<II", data, position + 8)
            out.update(platform="macos", minos=version_text(minos), sdk=version_text(sdk))
        elif cmd in (LC_SEGMENT, LC_SEGMENT_64):
            _read_plist(data, offset, end, position, cmdsize, cmd == LC_SEGMENT_64, out)
        position += cmdsize
    return out


def _read_plist(data, offset, end, position, cmdsize, wide, out):
    head, section = (72, 80) if wide else (56, 68)
    if cmdsize < head or _cstring(data[position + 8:position + 24]) != "__TEXT":
        return
    nsects = struct.unpack_from("<I", data, position + head - 8)[0]
    for index in range(nsects):
        at = position + head + index * section
        if at + section > position + cmdsize:
            return
        if _cstring(data[at:at + 16]) != "__info_plist":
            continue
        if wide:
            size, file_offset = struct.unpack_from("<QI", data, at + 40)
        else:
            size, file_offset = struct.unpack_from("<II", data, at + 36)
        start = offset + file_offset
        if start + size > end:
            out["identifier"] = "the __info_plist section reaches past the slice"
            return
        try:
            plist = plistlib.loads(bytes(data[start:start + size]))
        except Exception as e:  # plistlib raises several kinds for bad input
            out["identifier"] = "unreadable Info.plist (%s)" % e
            return
        if isinstance(plist, dict):
            out["identifier"] = plist.get("CFBundleIdentifier")
            out["version"] = plist.get("CFBundleShortVersionString")
        return


def read_macho(data):
    """{"kind": "universal" | "thin", "slices": [...]} for the bytes of an
    executable; raises NotMachO for anything else."""
    if len(data) < 8:
        raise NotMachO("too short for a Mach-O file")
    big = struct.unpack_from(">I", data, 0)[0]
    if big in (FAT_MAGIC, FAT_MAGIC_64):
        count = struct.unpack_from(">I", data, 4)[0]
        entry = 32 if big == FAT_MAGIC_64 else 20
        if count == 0 or 8 + count * entry > len(data):
            raise NotMachO("a universal header with %d slices does not fit the file" % count)
        slices = []
        for index in range(count):
            at = 8 + index * entry
            if big == FAT_MAGIC_64:
                _cpu, _sub, offset, size = struct.unpack_from(">IIQQ", data, at)
            else:
                _cpu, _sub, offset, size = struct.unpack_from(">IIII", data, at)
            slices.append(_slice(data, offset, size))
        return {"kind": "universal", "slices": slices}
    return {"kind": "thin", "slices": [_slice(data, 0, len(data))]}


def describe_file(path):
    """The report's lines on the binary at `path`: its sha-256 and size and,
    when it is a Mach-O file, one line per slice. Never raises."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        return ["unreadable: %s" % e], None
    lines = ["sha-256 %s, %d bytes" % (hashlib.sha256(data).hexdigest(), len(data))]
    try:
        info = read_macho(data)
    except NotMachO as e:
        lines.append("not a Mach-O executable: %s" % e)
        return lines, None
    except struct.error as e:
        lines.append("not a Mach-O executable: %s" % e)
        return lines, None
    lines.append("%s Mach-O: %s" % (info["kind"], " ".join(s["arch"] for s in info["slices"])))
    for s in info["slices"]:
        lines.append(
            "  %s: %s minos %s sdk %s, Info.plist %s %s"
            % (s["arch"], s["platform"] or "no build version", s["minos"], s["sdk"], s["identifier"], s["version"])
        )
    return lines, info

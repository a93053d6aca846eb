"""The parts of a Windows program (PE) and of a minidump that the release steps are checked by and
that the dump reader needs: sections, the build id, the debug link, the version resource, and a
dump's modules. Standard library only; every offset is bounds-checked, so a damaged file raises
ValueError rather than reading past its end."""
import struct
from dataclasses import dataclass
from pathlib import Path

IMAGE_FILE_MACHINE_I386 = 0x14C
IMAGE_FILE_MACHINE_AMD64 = 0x8664
_DEBUG_DIRECTORY = 6
_RESOURCE_DIRECTORY = 2
_CODEVIEW = 2
_RT_VERSION = 16


def _unpack(fmt: str, data: bytes, offset: int):
    if offset < 0 or offset + struct.calcsize(fmt) > len(data):
        raise ValueError(f"truncated at {offset:#x}")
    return struct.unpack_from(fmt, data, offset)


@dataclass(frozen=True)
class BuildId:
    """A link's identity: the GUID and age of its CodeView (RSDS) record."""
    guid: bytes
    age: int

    def __str__(self) -> str:
        return f"{self.guid.hex()}-{self.age}"

    @staticmethod
    def from_codeview(record: bytes) -> "BuildId | None":
        if len(record) < 24 or record[:4] != b"RSDS":
            return None
        return BuildId(record[4:20], struct.unpack_from("<I", record, 20)[0])


@dataclass(frozen=True)
class Section:
    name: str
    virtual_address: int
    virtual_size: int
    raw_offset: int
    raw_size: int


class PeFile:
    def __init__(self, data: bytes):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("not a Windows program")
        pe = _unpack("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a Windows program")
        (self.machine, count, self.timestamp, self.symbol_table, self.symbol_count,
         optional_size, _) = _unpack("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        magic = _unpack("<H", data, optional)[0]
        self.size_of_image, _, self.checksum = _unpack("<III", data, optional + 56)
        self.image_base = _unpack("<I", data, optional + 28)[0] if magic == 0x10B else _unpack("<Q", data, optional + 24)[0]
        directories = optional + (96 if magic == 0x10B else 112)
        self._directories = [_unpack("<II", data, directories + 8 * i)
                             for i in range(_unpack("<I", data, directories - 4)[0])]
        strings = self.symbol_table + 18 * self.symbol_count if self.symbol_table else 0
        self.sections = []
        for i in range(count):
            at = optional + optional_size + 40 * i
            raw_name = data[at:at + 8].rstrip(b"\0")
            vsize, vaddr, raw_size, raw_offset = _unpack("<IIII", data, at + 8)
            if raw_name.startswith(b"/") and strings:
                start = strings + int(raw_name[1:])
                raw_name = data[start:data.index(b"\0", start)]
            self.sections.append(Section(raw_name.decode("ascii", "replace"), vaddr, vsize, raw_offset, raw_size))

    @staticmethod
    def read(path: Path) -> "PeFile":
        return PeFile(Path(path).read_bytes())

    def section(self, name: str) -> Section | None:
        return next((s for s in self.sections if s.name == name), None)

    def section_bytes(self, name: str) -> bytes | None:
        s = self.section(name)
        return None if s is None else self.data[s.raw_offset:s.raw_offset + min(s.raw_size, s.virtual_size or s.raw_size)]

    def _offset(self, rva: int) -> int:
        for s in self.sections:
            if s.raw_size and s.virtual_address <= rva < s.virtual_address + max(s.raw_size, s.virtual_size):
                return s.raw_offset + rva - s.virtual_address
        raise ValueError(f"address {rva:#x} is in no section with contents")

    def _directory(self, index: int) -> tuple[int, int]:
        return self._directories[index] if index < len(self._directories) else (0, 0)

    def build_id(self) -> BuildId | None:
        rva, size = self._directory(_DEBUG_DIRECTORY)
        if not rva:
            return None
        start = self._offset(rva)
        for entry in range(start, start + size, 28):
            kind, length, _, raw = _unpack("<IIII", self.data, entry + 12)
            if kind == _CODEVIEW:
                return BuildId.from_codeview(self.data[raw:raw + length])
        return None

    def debug_link(self) -> tuple[str, int] | None:
        """The debug file's name and CRC-32 that the program names, if it names one."""
        link = self.section_bytes(".gnu_debuglink")
        if not link or b"\0" not in link:
            return None
        end = link.index(b"\0")
        crc_at = (end + 4) & ~3
        return link[:end].decode(), _unpack("<I", link, crc_at)[0]

    def debug_sections(self) -> list[str]:
        return [s.name for s in self.sections if s.name.startswith((".debug_", ".zdebug_"))]

    def _resource(self, type_id: int) -> bytes | None:
        rva, _ = self._directory(_RESOURCE_DIRECTORY)
        if not rva:
            return None
        base = self._offset(rva)

        def first_entry(directory: int, wanted: int | None) -> int | None:
            named, ids = _unpack("<HH", self.data, directory + 12)
            for i in range(named + ids):
                ident, target = _unpack("<II", self.data, directory + 16 + 8 * i)
                if wanted is None or ident == wanted:
                    return target
            return None

        target = first_entry(base, type_id)
        for _ in range(2):  # name, then language
            if target is None or not target & 0x80000000:
                return None
            target = first_entry(base + (target & 0x7FFFFFFF), None)
        if target is None:
            return None
        data_rva, size = _unpack("<II", self.data, base + target)
        start = self._offset(data_rva)
        return self.data[start:start + size]

    def version_info(self) -> "VersionInfo | None":
        block = self._resource(_RT_VERSION)
        return None if block is None else VersionInfo.parse(block)


@dataclass
class VersionInfo:
    file_version: tuple[int, int, int, int]
    product_version: tuple[int, int, int, int]
    strings: dict[str, str]

    @staticmethod
    def parse(block: bytes) -> "VersionInfo":
        def node(at: int):
            length, value_length, kind = _unpack("<HHH", block, at)
            end = at + length
            key_end = at + 6
            while block[key_end:key_end + 2] != b"\0\0":
                key_end += 2
                if key_end >= end:
                    raise ValueError("unterminated version key")
            key = block[at + 6:key_end].decode("utf-16-le")
            value_at = (key_end + 2 + 3) & ~3
            value_size = value_length * 2 if kind == 1 else value_length
            value = block[value_at:value_at + value_size]
            children, child = [], (value_at + value_size + 3) & ~3
            while child + 6 <= end:
                children.append(node(child))
                child = (child + _unpack("<H", block, child)[0] + 3) & ~3
            return key, kind, value, children

        key, _, fixed, children = node(0)
        if key != "VS_VERSION_INFO" or _unpack("<I", fixed, 0)[0] != 0xFEEF04BD:
            raise ValueError("not a version resource")
        fms, fls, pms, pls = _unpack("<IIII", fixed, 8)

        def split(ms: int, ls: int) -> tuple[int, int, int, int]:
            return ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF

        strings = {}
        for name, _, _, tables in children:
            if name == "StringFileInfo":
                for _, _, _, entries in tables:
                    for entry_key, _, value, _ in entries:
                        strings[entry_key] = value.decode("utf-16-le").rstrip("\0")
        return VersionInfo(split(fms, fls), split(pms, pls), strings)


@dataclass(frozen=True)
class DumpModule:
    path: str
    base: int
    size: int
    timestamp: int
    checksum: int
    build_id: BuildId | None  # Wine's dump writer leaves it out


class Minidump:
    """The module list and processor of a minidump."""
    _MODULE_LIST, _SYSTEM_INFO = 4, 7

    def __init__(self, data: bytes):
        if data[:4] != b"MDMP":
            raise ValueError("not a minidump")
        count, directory = _unpack("<II", data, 8)
        self.streams = {}
        for i in range(count):
            kind, size, rva = _unpack("<III", data, directory + 12 * i)
            self.streams.setdefault(kind, (rva, size))
        self.data = data

    @staticmethod
    def read(path: Path) -> "Minidump":
        return Minidump(Path(path).read_bytes())

    def is_x86(self) -> bool:
        rva, _ = self.streams.get(self._SYSTEM_INFO, (None, 0))
        return rva is not None and _unpack("<H", self.data, rva)[0] == 0

    def modules(self) -> list[DumpModule]:
        rva, _ = self.streams.get(self._MODULE_LIST, (None, 0))
        if rva is None:
            return []
        found = []
        for i in range(_unpack("<I", self.data, rva)[0]):
            at = rva + 4 + 108 * i
            base, size, checksum, timestamp, name_rva = _unpack("<QIIII", self.data, at)
            cv_size, cv_rva = _unpack("<II", self.data, at + 76)
            name_length = _unpack("<I", self.data, name_rva)[0]
            name = self.data[name_rva + 4:name_rva + 4 + name_length].decode("utf-16-le")
            found.append(DumpModule(name, base, size, timestamp, checksum,
                                    BuildId.from_codeview(self.data[cv_rva:cv_rva + cv_size])))
        return found

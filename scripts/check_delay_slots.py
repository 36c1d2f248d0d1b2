#!/usr/bin/env python3
"""Checks a linked program's delay-load import slots: each must lie in a writable section.

    check_delay_slots.py IMAGE MAP

The delay-load helper writes a function's import slot on the first call into it; a slot in a
section that is not writable stops the program there with a page fault on write (Windows and Wine
alike). The image names no delay-import directory (the GNU linker does not fill it), so the
descriptors are found by their symbols in the linker map (__DELAY_IMPORT_DESCRIPTOR_<library>);
everything else is read from the image: each descriptor's DLL name, name table and slot table, and
the section table. The map's __imp_ symbols must also name the same slots, in the same order, as
the name table (the helper finds a slot's name by its index). Prints nothing and exits 0 when every
slot is writable; otherwise says which slot of which DLL lies in which section, and exits 1.
"""
import re
import struct
import sys

IMAGE_SCN_MEM_WRITE = 0x80000000


def fail(message):
    print(message, file=sys.stderr)
    sys.exit(1)


def main():
    if len(sys.argv) != 3:
        fail("usage: check_delay_slots.py IMAGE MAP")
    image_path, map_path = sys.argv[1:]
    name = image_path.replace("\\", "/").rsplit("/", 1)[-1]
    with open(image_path, "rb") as f:
        image = f.read()
    with open(map_path, encoding="utf-8", errors="replace") as f:
        map_text = f.read()

    def u16(offset):
        return struct.unpack_from("<H", image, offset)[0]

    def u32(offset):
        return struct.unpack_from("<I", image, offset)[0]

    try:
        if image[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = u32(0x3C)
        if image[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE header")
        sections_count = u16(pe + 6)
        optional = pe + 24
        magic = u16(optional)
        if magic not in (0x10B, 0x20B):
            raise ValueError("unknown optional header 0x%x" % magic)
        wide = magic == 0x20B
        image_base = struct.unpack_from("<Q", image, optional + 24)[0] if wide else u32(optional + 28)
        table = optional + u16(pe + 20)
        sections = []
        for i in range(sections_count):
            entry = table + 40 * i
            section_name = image[entry:entry + 8].rstrip(b"\0").decode("ascii", "replace")
            virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<IIII", image, entry + 8)
            flags = u32(entry + 36)
            sections.append((section_name, rva, max(virtual_size, raw_size), raw_size, raw_offset,
                             flags))
    except (ValueError, struct.error) as error:
        fail("%s: not a PE image the check can read (%s)" % (name, error))

    def section_of(rva):
        for section in sections:
            if section[1] <= rva < section[1] + section[2]:
                return section
        return None

    def read(rva, size):
        section = section_of(rva)
        if section is None or rva + size > section[1] + section[3]:
            raise ValueError("RVA 0x%x lies outside the image's contents" % rva)
        start = section[4] + rva - section[1]
        return image[start:start + size]

    def text(rva):
        section = section_of(rva)
        if section is None:
            raise ValueError("RVA 0x%x lies outside the image" % rva)
        start = section[4] + rva - section[1]
        end = image.find(b"\0", start, section[4] + section[3])
        if end < 0:
            raise ValueError("unterminated name at RVA 0x%x" % rva)
        return image[start:end].decode("ascii", "replace")

    # Map lines: "  0x<address>  <symbol>". i686 symbols carry one more leading underscore.
    symbols = re.findall(r"^\s+0x([0-9a-f]+)\s+(\S+)\s*$", map_text, re.M)
    descriptors = sorted({int(address, 16) - image_base
                          for address, symbol in symbols
                          if re.fullmatch(r"_{1,2}DELAY_IMPORT_DESCRIPTOR_\w+", symbol)})
    slots_by_name = {}
    for address, symbol in symbols:
        match = re.fullmatch(r"_?_imp__?([A-Za-z_]\w*)(@\d+)?", symbol)
        if match:
            slots_by_name.setdefault(match.group(1), set()).add(int(address, 16) - image_base)
    if not descriptors:
        fail("%s: no delay-load descriptor named in %s" % (name, map_path))

    pointer = 8 if wide else 4
    ordinal_bit = 1 << (8 * pointer - 1)
    problems = []
    count = 0
    try:
        for descriptor in descriptors:
            attributes, dll_rva, module_rva, slots_rva, names_rva = struct.unpack(
                "<5I", read(descriptor, 20))
            if attributes != 1:
                raise ValueError("descriptor at RVA 0x%x is not RVA-based" % descriptor)
            dll = text(dll_rva)
            places = [("its module handle", module_rva)]
            index = 0
            while True:
                entry = int.from_bytes(read(names_rva + index * pointer, pointer), "little")
                if entry == 0:
                    break
                function = ("ordinal %d" % (entry & 0xFFFF) if entry & ordinal_bit
                            else text(entry + 2))
                slot = slots_rva + index * pointer
                places.append((function, slot))
                known = slots_by_name.get(function)
                if known is not None and slot not in known:
                    problems.append(
                        "%s: the name table of %s gives %s the slot at 0x%x, but its thunk "
                        "uses the slot at %s: slots and names are out of step, and the helper "
                        "would fill slots with the wrong functions"
                        % (name, dll, function, image_base + slot,
                           ", ".join("0x%x" % (image_base + s) for s in sorted(known))))
                index += 1
            if index == 0:
                raise ValueError("the delay-load descriptor of %s lists no function" % dll)
            misplaced = {}
            for what, rva in places:
                section = section_of(rva)
                if section is None or not section[5] & IMAGE_SCN_MEM_WRITE:
                    where = ("section %s, which is not writable" % section[0] if section
                             else "no section of the image")
                    misplaced.setdefault(where, []).append("%s at 0x%x" % (what, image_base + rva))
            for where, slots in misplaced.items():
                problems.append("%s: %d delay-load slot(s) of %s lie in %s: %s"
                                % (name, len(slots), dll, where, ", ".join(slots)))
            count += index
    except (ValueError, struct.error) as error:
        fail("%s: cannot read its delay-load descriptors: %s" % (name, error))
    if problems:
        fail("\n".join(problems) + "\n%s: the delay-load helper writes a slot on the first call "
             "through it; a slot that is not writable stops the program there with a page fault "
             "on write (cmake/DelayLoad.cmake says where the slots belong)" % name)


if __name__ == "__main__":
    main()

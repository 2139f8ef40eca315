#!/usr/bin/python3
"""Reads and patches a PE32 or PE32+ image by the names of its fields, for the
checks on showfile.exe. Expressions and statements see the image through
pefile, by the PE format's names (a section's VirtualSize is Misc_VirtualSize
there): FILE_HEADER.NumberOfSections, DIRECTORY_ENTRY_BASERELOC[0].entries[3],
...; besides, section['.rdata'] by name, each data directory by its short
name (IMPORT, BASERELOC), the format's constants (IMAGE_FILE_DLL, ...),
mapped(RVA, SIZE), the bytes a loader maps there, and pe, the pefile.PE.

  pe.py get IMAGE EXPRESSION...    each expression's value, one a line
  pe.py set IMAGE STATEMENT...     runs the statements, then writes IMAGE back
  pe.py check IMAGE [NAME=OTHER]   of the lines "CONDITION  # MEANING" on stdin,
                                   prints each that fails; OTHER is seen as NAME
  pe.py relocations IMAGE          each relocation entry that moves a word, by
                                   name, and the address it moves
  pe.py rename-import IMAGE NAME   imports from NAME.dll what came from KERNEL32.dll
"""
import sys
import types

try:
    import pefile
except ImportError:
    sys.exit("pe.py: python3-pefile is not installed (scripts/install-deps.sh installs it)")

# The format's constants, by name.
CONSTANTS = {k: v for k, v in vars(pefile).items() if k.isupper() and isinstance(v, int)}
for table in (pefile.MACHINE_TYPE, pefile.IMAGE_CHARACTERISTICS, pefile.SECTION_CHARACTERISTICS,
              pefile.DLL_CHARACTERISTICS, pefile.SUBSYSTEM_TYPE, pefile.RELOCATION_TYPE):
    CONSTANTS.update((k, v) for k, v in table.items() if isinstance(k, str))


def load(path):
    with open(path, "rb") as image:
        return pefile.PE(data=image.read())


def mapped(pe, rva, size):
    """The size bytes a loader maps at rva, inside one section: its bytes
    from the file, then zeros."""
    for s in pe.sections:
        if s.VirtualAddress <= rva and rva + size <= s.VirtualAddress + s.Misc_VirtualSize:
            start = s.PointerToRawData + rva - s.VirtualAddress
            end = min(start + size, s.PointerToRawData + s.SizeOfRawData)
            return bytes(pe.__data__[start:end]).ljust(size, b"\0")
    raise ValueError(f"no section maps {size} bytes at {rva:#x}")


def names(pe):
    found = dict(CONSTANTS)
    found.update((k, v) for k, v in vars(pe).items() if k.isupper() or k == "sections")
    found.update((d.name.replace("IMAGE_DIRECTORY_ENTRY_", ""), d)
                 for d in pe.OPTIONAL_HEADER.DATA_DIRECTORY)
    found.update(pe=pe, section={s.Name.rstrip(b"\0").decode(): s for s in pe.sections},
                 mapped=lambda rva, size: mapped(pe, rva, size))
    return found


def check(seen, others, lines):
    for other in others:
        name, _, path = other.partition("=")
        seen[name] = types.SimpleNamespace(**names(load(path)))
    conditions = failed = 0
    for line in lines:
        condition, _, meaning = line.strip().partition("  # ")
        if not condition or condition.startswith("#"):
            continue
        conditions += 1
        try:
            holds = eval(condition, seen)
        except Exception as error:
            holds, meaning = False, f"{meaning} ({type(error).__name__}: {error})"
        if not holds:
            print(f"FAILED: {meaning or condition}: {condition}")
            failed += 1
    print(f"{conditions - failed} of {conditions} conditions hold")
    return failed == 0 and conditions > 0  # none would pass unchecked


def relocations(pe):
    for b, block in enumerate(getattr(pe, "DIRECTORY_ENTRY_BASERELOC", [])):
        for e, entry in enumerate(block.entries):
            if entry.type != pefile.RELOCATION_TYPE["IMAGE_REL_BASED_ABSOLUTE"]:
                print(f"DIRECTORY_ENTRY_BASERELOC[{b}].entries[{e}] {entry.rva:#x}")


def rename_import(pe, name):
    """In place: the new name may be no longer than KERNEL32."""
    kernel32 = [e for e in pe.DIRECTORY_ENTRY_IMPORT if e.dll.upper() == b"KERNEL32.DLL"]
    dll = name.encode() + b".dll"
    if len(kernel32) != 1 or len(dll) > len(kernel32[0].dll):
        raise ValueError(f"it doesn't import from KERNEL32.dll once, or {name} is too long")
    pe.set_bytes_at_rva(kernel32[0].struct.Name, dll.ljust(len(kernel32[0].dll) + 1, b"\0"))


def main(command, path, *arguments):
    pe = load(path)
    seen = names(pe)
    if command == "get":
        for expression in arguments:
            print(eval(expression, seen))
    elif command == "check":
        return 0 if check(seen, arguments, sys.stdin) else 1
    elif command == "relocations":
        relocations(pe)
    elif command in ("set", "rename-import"):
        if command == "set":
            for statement in arguments:
                exec(statement, seen)
        else:
            rename_import(pe, *arguments)
        with open(path, "wb") as image:
            image.write(pe.write())
    else:
        sys.exit(__doc__)
    return 0


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    try:
        sys.exit(main(*sys.argv[1:]))
    except Exception as error:
        sys.exit(f"pe.py {sys.argv[1]} {sys.argv[2]}: {type(error).__name__}: {error}")

#!/usr/bin/env python3
"""The Windows files of the unpacked zip: the version resources of the DLL
and the programs, the DLL's one export and its system DLLs only, and the
symbols in the .debug file that the DLL's debug link names.

    windows_files.py FOLDER VERSION      (Debian's python, which has pefile)
"""
import os, struct, sys, zlib
import pefile

root, version = sys.argv[1], sys.argv[2]
problems = []

def section_name(pe, section):
    raw = section.Name.rstrip(b"\0")
    if raw.startswith(b"/"):  # a long name, kept in the COFF string table
        header = pe.FILE_HEADER
        at = header.PointerToSymbolTable + header.NumberOfSymbols * 18 + int(raw[1:])
        raw = pe.__data__[at:pe.__data__.find(b"\0", at)]
    return raw.decode()

def check_version(path, description_word):
    pe = pefile.PE(path)
    name = os.path.basename(path)
    fixed = pe.VS_FIXEDFILEINFO[0]
    numbers = tuple(int(n) for n in version.split(".")) + (0,)
    for field in ("FileVersion", "ProductVersion"):
        ms, ls = getattr(fixed, field + "MS"), getattr(fixed, field + "LS")
        got = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        if got != numbers:
            problems.append(f"{name}: fixed {field} {got}, not {numbers}")
    strings = {}
    for info in pe.FileInfo[0]:
        for table in getattr(info, "StringTable", []):
            strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    wanted = {"FileVersion": version, "ProductVersion": version, "ProductName": "QELKOPHV",
              "OriginalFilename": name, "InternalName": os.path.splitext(name)[0]}
    for key, value in wanted.items():
        if strings.get(key) != value:
            problems.append(f"{name}: {key} is {strings.get(key)!r}, not {value!r}")
    for key in ("FileDescription", "LegalCopyright"):
        if not strings.get(key):
            problems.append(f"{name}: no {key}")
    if description_word not in strings.get("FileDescription", ""):
        problems.append(f"{name}: FileDescription {strings.get('FileDescription')!r}")
    print(f"  {name}: version {strings.get('FileVersion')}, {strings.get('FileDescription')!r}")
    return pe

dll_path = os.path.join(root, "driver", "QELKOPHV.dll")
dll = check_version(dll_path, "driver")
check_version(os.path.join(root, "commissioning", "qelhost.exe"), "host")
check_version(os.path.join(root, "commissioning", "qelswitch.exe"), "switcher")
check_version(os.path.join(root, "commissioning", "qeltrace.exe"), "trace")

if not dll.is_dll() or dll.FILE_HEADER.Machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]:
    problems.append("QELKOPHV.dll is not a 32-bit x86 DLL")
exports = [symbol.name for symbol in dll.DIRECTORY_ENTRY_EXPORT.symbols]
if exports != [b"QelMain"]:
    problems.append(f"QELKOPHV.dll exports {exports}, not QelMain alone")
imports = sorted(entry.dll.decode().lower() for entry in dll.DIRECTORY_ENTRY_IMPORT)
if imports != ["kernel32.dll", "msvcrt.dll"]:
    problems.append(f"QELKOPHV.dll imports {imports}")

sections = {section_name(dll, s): s for s in dll.sections}
if any(name.startswith(".debug_") for name in sections):
    problems.append("QELKOPHV.dll still holds debug sections")
if dll.FILE_HEADER.NumberOfSymbols != 0:
    problems.append("QELKOPHV.dll still holds its symbol table")
link = sections.get(".gnu_debuglink")
debug_path = os.path.join(root, "driver", "QELKOPHV.dll.debug")
if link is None:
    problems.append("QELKOPHV.dll has no debug link")
else:
    data = link.get_data()
    target = data[:data.index(b"\0")].decode()
    crc_at = (len(target) + 1 + 3) // 4 * 4
    (crc,) = struct.unpack_from("<I", data, crc_at)
    debug_bytes = open(debug_path, "rb").read()
    if target != "QELKOPHV.dll.debug" or crc != zlib.crc32(debug_bytes):
        problems.append(f"the debug link names {target} with CRC {crc:08x}, "
                        f"QELKOPHV.dll.debug has {zlib.crc32(debug_bytes):08x}")
    else:
        print(f"  QELKOPHV.dll: exports QelMain only, imports {' '.join(imports)}, "
              f"debug link to {target} (CRC {crc:08x})")
debug = pefile.PE(debug_path)
if ".debug_info" not in {section_name(debug, s) for s in debug.sections} or debug.FILE_HEADER.NumberOfSymbols == 0:
    problems.append("QELKOPHV.dll.debug holds no symbols or debug information")

for problem in problems:
    print("check-release: FAIL " + problem)
sys.exit(1 if problems else 0)

#!/usr/bin/python3
"""Checks the built Seekwell.exe against the systems it promises to run on.

  check_executable.py imports EXE ALLOWED_LIST [--objdump OBJDUMP]
      Reads the import table with the toolchain's objdump -p and fails on any import
      that the allowed list does not name, on an entry of the list whose oldest systems
      are newer than Windows 98 SE or NT 4.0, and on a PE header that asks for more than
      system and subsystem version 4.0 (older loaders refuse such a file).
  check_executable.py manifest EXE
      Reads the application manifest embedded in the executable (resource type 24, id 1)
      and fails unless it asks for no elevation (asInvoker, in the trustInfo form older
      systems ignore), declares every system from Vista to 11, and keeps version 6 of the
      common controls.

Prints what it found and each problem; exits 1 when there is any.
"""

import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

OLDEST_9X = ("95", "95 OSR2", "98", "98 SE")
OLDEST_NT = ("NT 3.1", "NT 3.5", "NT 3.51", "NT 4.0")
STUB = " stub"

HEADER_FIELDS = {
    "MajorOSystemVersion": "4",
    "MinorOSystemVersion": "0",
    "MajorSubsystemVersion": "4",
    "MinorSubsystemVersion": "0",
}


def read_allowed(path):
    """{(dll in lower case, function): (oldest 9x, oldest NT, source)} and the list's problems."""
    allowed = {}
    problems = []
    with open(path, encoding="utf-8") as listing:
        for number, line in enumerate(listing, 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            fields = [field.strip() for field in line.split("|")]
            where = "%s:%d" % (path, number)
            if len(fields) != 5 or not all(fields):
                problems.append("%s: wants five fields, DLL | function | oldest 9x | oldest NT | source" % where)
                continue
            dll, function, windows9x, nt, source = fields
            if windows9x.removesuffix(STUB) not in OLDEST_9X:
                problems.append("%s: %s is not exported by Windows 98 SE or older (%s)" % (where, function, windows9x))
            if nt not in OLDEST_NT:
                problems.append("%s: %s is not exported by NT 4.0 or older (%s)" % (where, function, nt))
            if windows9x.endswith(STUB) and "not depend" not in source:
                problems.append("%s: %s is a stub on 9x; say why the updater does not depend on it" % (where, function))
            key = (dll.lower(), function)
            if key in allowed:
                problems.append("%s: %s of %s is listed twice" % (where, function, dll))
            allowed[key] = (windows9x, nt, source)
    return allowed, problems


HEX = re.compile(r"[0-9a-fA-F]+")
NAME = re.compile(r"[A-Za-z_][A-Za-z0-9_@?$]*")


def parse_imports(objdump_text):
    """[(dll, function)] of objdump -p's import tables, and lines it could not read.

    Both layouts of binutils are read: "vma  hint  name" (2.40) and "vma  ordinal  hint
    name" with "<none>" as the ordinal (2.43 and later). An import by ordinal alone has no
    name, so it counts as unreadable: the allowed list names every function.
    """
    imports = []
    unreadable = []
    dll = None
    in_tables = False
    for line in objdump_text.splitlines():
        if line.startswith("The Import Tables"):
            in_tables = True
            continue
        if not in_tables:
            continue
        if line and not line[0].isspace():
            break  # the next part of the dump
        tokens = line.split()
        if line.strip().startswith("DLL Name:"):
            dll = line.split(":", 1)[1].strip()
            continue
        if dll is None or not tokens or tokens[0] == "vma:":
            continue
        # Each table ends where the next one's descriptor (six numbers) begins.
        if len(tokens) >= 5 and all(HEX.fullmatch(token) for token in tokens):
            dll = None
            continue
        name = None
        if len(tokens) == 3 and HEX.fullmatch(tokens[0]) and tokens[1].isdigit():
            name = tokens[2]
        elif len(tokens) == 4 and HEX.fullmatch(tokens[0]) and tokens[1] == "<none>" and HEX.fullmatch(tokens[2]):
            name = tokens[3]
        if name is not None and NAME.fullmatch(name):
            imports.append((dll, name))
        else:
            unreadable.append("%s: %s" % (dll, line.strip()))
    return imports, unreadable


def header_problems(objdump_text):
    problems = []
    for field, wanted in HEADER_FIELDS.items():
        match = re.search(r"^%s\s+(\S+)$" % field, objdump_text, re.MULTILINE)
        found = match.group(1) if match else "missing"
        if found != wanted:
            problems.append("PE header: %s is %s, not %s" % (field, found, wanted))
    subsystem = re.search(r"^Subsystem\s+(\S+)", objdump_text, re.MULTILINE)
    if not subsystem or int(subsystem.group(1), 16) != 2:
        problems.append("PE header: the subsystem is not the Windows GUI (2)")
    return problems


def check_imports(objdump_text, allowed):
    imports, unreadable = parse_imports(objdump_text)
    problems = ["cannot read the import %s" % line for line in unreadable]
    if not imports:
        problems.append("no imports found: not the dump of an executable?")
    for dll, function in imports:
        if (dll.lower(), function) not in allowed:
            problems.append("imports %s from %s, which the allowed list does not name" % (function, dll))
    problems += header_problems(objdump_text)
    return imports, problems


# ---- the manifest -------------------------------------------------------------------

RT_MANIFEST = 24
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "10 and 11",
}
ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
# XP SP2 refuses to start a program whose trustInfo is in the asm.v3 namespace; in asm.v2
# every system before Vista ignores it and Vista on reads it.
ASM_V2 = "urn:schemas-microsoft-com:asm.v2"
COMPATIBILITY = "urn:schemas-microsoft-com:compatibility.v1"


def manifest_bytes(image):
    """The bytes of resource 24/1 (any language) of a PE image, or None."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        return None
    sections_count = struct.unpack_from("<H", image, pe + 6)[0]
    optional_size = struct.unpack_from("<H", image, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    resource_rva = struct.unpack_from("<I", image, directories + 2 * 8)[0]
    sections = []
    table = optional + optional_size
    for index in range(sections_count):
        entry = table + 40 * index
        size, rva, raw_size, raw_offset = struct.unpack_from("<IIII", image, entry + 8)
        sections.append((rva, max(size, raw_size), raw_offset))

    def offset(rva):
        for start, size, raw in sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("RVA %#x lies in no section" % rva)

    base = offset(resource_rva)

    def entries(directory):
        named, numbered = struct.unpack_from("<HH", image, base + directory + 12)
        for index in range(named + numbered):
            ident, target = struct.unpack_from("<II", image, base + directory + 16 + 8 * index)
            yield ident, target

    def child(directory, wanted):
        for ident, target in entries(directory):
            if ident == wanted and target & 0x80000000:
                return target & 0x7FFFFFFF
        return None

    types = child(0, RT_MANIFEST)
    names = child(types, 1) if types is not None else None
    if names is None:
        return None
    for _, target in entries(names):
        if target & 0x80000000:
            continue
        data_rva, data_size = struct.unpack_from("<II", image, base + target)
        start = offset(data_rva)
        return image[start:start + data_size]
    return None


def check_manifest(text):
    problems = []
    try:
        root = ElementTree.fromstring(text)
    except ElementTree.ParseError as error:
        return ["the manifest is not well-formed XML: %s" % error]
    if root.tag != "{%s}assembly" % ASM_V1:
        problems.append("the manifest's root is %s, not an asm.v1 assembly" % root.tag)

    levels = root.findall("{0}trustInfo/{0}security/{0}requestedPrivileges/{0}requestedExecutionLevel".format(
        "{%s}" % ASM_V2))
    if len(levels) != 1:
        problems.append("wants one requestedExecutionLevel in an asm.v2 trustInfo, found %d" % len(levels))
    else:
        if levels[0].get("level") != "asInvoker":
            problems.append("requestedExecutionLevel is %r, not asInvoker" % levels[0].get("level"))
        if levels[0].get("uiAccess") != "false":
            problems.append("requestedExecutionLevel's uiAccess is %r, not false" % levels[0].get("uiAccess"))
    if root.find(".//{urn:schemas-microsoft-com:asm.v3}trustInfo") is not None:
        problems.append("a trustInfo in the asm.v3 namespace, which Windows XP SP2 refuses")

    declared = [os.get("Id", "").lower()
                for os in root.findall("{0}compatibility/{0}application/{0}supportedOS".format(
                    "{%s}" % COMPATIBILITY))]
    for ident, name in SUPPORTED_OS.items():
        if ident not in declared:
            problems.append("supportedOS for Windows %s (%s) is missing" % (name, ident))
    for ident in declared:
        if ident not in SUPPORTED_OS:
            problems.append("supportedOS %s names no system of the list" % ident)

    controls = [identity for identity in root.iter("{%s}assemblyIdentity" % ASM_V1)
                if identity.get("name") == "Microsoft.Windows.Common-Controls"]
    wanted = {"type": "win32", "version": "6.0.0.0", "processorArchitecture": "X86",
              "publicKeyToken": "6595b64144ccf1df"}
    if len(controls) != 1:
        problems.append("wants one dependency on the common controls, found %d" % len(controls))
    else:
        for attribute, value in wanted.items():
            if (controls[0].get(attribute) or "").lower() != value.lower():
                problems.append("the common controls' %s is %r, not %s" % (attribute, controls[0].get(attribute), value))
    return problems


def main(arguments):
    if len(arguments) >= 3 and arguments[0] == "imports":
        objdump = "i686-w64-mingw32-objdump"
        if "--objdump" in arguments:
            objdump = arguments[arguments.index("--objdump") + 1]
        allowed, problems = read_allowed(arguments[2])
        dump = subprocess.run([objdump, "-p", arguments[1]], check=True, capture_output=True, text=True).stdout
        imports, found = check_imports(dump, allowed)
        problems += found
        dlls = sorted({dll.upper() for dll, _ in imports})
        print("%d imports from %s" % (len(imports), " ".join(dlls)))
        unused = sorted(set(allowed) - {(dll.lower(), function) for dll, function in imports})
        if unused:
            # Another toolchain's runtime may need them; they are allowed, not wanted.
            print("listed but not imported by this build: %s" % ", ".join(function for _, function in unused))
    elif len(arguments) == 2 and arguments[0] == "manifest":
        with open(arguments[1], "rb") as executable:
            manifest = manifest_bytes(executable.read())
        problems = ["no manifest (resource 24, id 1)"] if manifest is None else check_manifest(manifest)
        if manifest is not None:
            print(manifest.decode("utf-8", "replace"))
    else:
        print(__doc__)
        return 2
    for problem in problems:
        print(problem)
    print("%s: %d problem(s)" % (arguments[0], len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

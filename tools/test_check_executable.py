"""Tests of the executable's gate: that it reads both objdump layouts and fails where it must."""

import os
import tempfile
import unittest

import check_executable as gate

# objdump -p as binutils 2.40 (Debian 12) and 2.43 (Debian 13) print it, cut short.
DUMP_2_40 = """MajorOSystemVersion\t4
MinorOSystemVersion\t0
MajorSubsystemVersion\t4
MinorSubsystemVersion\t0
Subsystem\t\t00000002\t(Windows GUI)
The Import Tables (interpreted .idata section contents)
 vma:            Hint    Time      Forward  DLL       First
 0004a000\t0004a104 00000000 00000000 0004b32c 0004a410

\tDLL Name: KERNEL32.dll
\tvma:  Hint/Ord Member-Name Bound-To
\t4a71c\t 1177  CloseHandle
\t4a734\t  693  GetTickCount64

 0004a014\t00000000 00000000 00000000 00000000 00000000

PE File Base Relocations (interpreted .reloc section contents)
"""
DUMP_2_43 = """The Import Tables (interpreted .idata section contents)
\tDLL Name: COMCTL32.dll
\tvma:     Ordinal  Hint  Member-Name  Bound-To
\t000463d4  <none>  007a  InitCommonControls
\t000463d8  0011  <none>  <none>
"""
LISTED = "KERNEL32.dll | CloseHandle | 95 | NT 3.1 | msdn2001\ncomctl32.dll | InitCommonControls | 95 | NT 3.51 | x\n"


class ImportGateTest(unittest.TestCase):
    def allowed(self, text):
        with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as listing:
            listing.write(text)
        try:
            return gate.read_allowed(listing.name)
        finally:
            os.unlink(listing.name)

    def test_both_layouts_are_read_and_an_ordinal_import_is_not_passed(self):
        self.assertEqual(([("KERNEL32.dll", "CloseHandle"), ("KERNEL32.dll", "GetTickCount64")], []),
                         gate.parse_imports(DUMP_2_40))
        imports, unreadable = gate.parse_imports(DUMP_2_43)
        self.assertEqual([("COMCTL32.dll", "InitCommonControls")], imports)
        self.assertEqual(1, len(unreadable))

    def test_an_unlisted_import_and_a_newer_header_fail(self):
        allowed, problems = self.allowed(LISTED)
        self.assertEqual([], problems)
        _, found = gate.check_imports(DUMP_2_40.replace("MajorSubsystemVersion\t4", "MajorSubsystemVersion\t6"),
                                      allowed)
        self.assertEqual(2, len(found))
        self.assertIn("GetTickCount64", found[0])
        self.assertIn("MajorSubsystemVersion is 6", found[1])
        # DLL names are compared without regard to case (the layouts differ there too).
        header = DUMP_2_40[:DUMP_2_40.index("The Import Tables")]
        by_name_only = DUMP_2_43.replace("\t000463d8  0011  <none>  <none>\n", "")
        self.assertEqual([], gate.check_imports(header + by_name_only, allowed)[1])

    def test_entries_newer_than_98_se_or_nt_4_are_refused(self):
        rows = {
            "Me": "KERNEL32.dll | F | Me | NT 3.1 | s",
            "2000": "KERNEL32.dll | F | 95 | 2000 | s",
            "a stub without its reason": "KERNEL32.dll | F | 95 stub | NT 3.1 | s",
            "four fields": "KERNEL32.dll | F | 95 | NT 3.1",
        }
        for edge, row in rows.items():
            with self.subTest(edge):
                self.assertEqual(1, len(self.allowed(row + "\n")[1]))
        self.assertEqual([], self.allowed("K.dll | F | 95 stub | NT 3.1 | the updater does not depend on it\n")[1])


class ManifestTest(unittest.TestCase):
    # The template as configure fills it for the shipped 32-bit executable.
    with open(os.path.join(os.path.dirname(__file__), "..", "resources", "Seekwell.manifest.in"), "rb") as source:
        GOOD = source.read().replace(b"@SEEKWELL_MANIFEST_ARCH@", b"X86")

    def test_the_shipped_manifest_passes_and_each_fault_is_named(self):
        self.assertEqual([], gate.check_manifest(self.GOOD))
        faults = {
            "elevation asked": (b'level="asInvoker"', b'level="requireAdministrator"'),
            "the namespace XP SP2 refuses": (b"asm.v2", b"asm.v3"),
            "Windows 10 not declared": (b'<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>', b""),
            "common controls 5": (b'version="6.0.0.0"', b'version="5.82.0.0"'),
        }
        for edge, (old, new) in faults.items():
            with self.subTest(edge):
                self.assertIn(old, self.GOOD)
                self.assertNotEqual([], gate.check_manifest(self.GOOD.replace(old, new)))


if __name__ == "__main__":
    unittest.main()

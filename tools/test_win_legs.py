"""Tests of the test command's own choices: the probe of 32-bit execution, the Wine legs it
plans from the answer, and the closing lines and exit status it derives from the legs."""

import os
import subprocess
import tempfile
import time
import unittest

TOOLS = os.path.dirname(os.path.abspath(__file__))
CANNOT = "not run: this host cannot execute 32-bit x86 code"


def bash(script, **env):
    """Runs `script` with the probe and the legs sourced; returns (status, stdout)."""
    full_env = {k: v for k, v in os.environ.items() if not k.startswith("SEEKWELL_")}
    full_env.update(env)
    result = subprocess.run(
        ["bash", "-c", f'. "{TOOLS}/host-probe.sh"; . "{TOOLS}/win-legs.sh"; {script}'],
        env=full_env, capture_output=True, text=True, timeout=60)
    return result.returncode, result.stdout


def program(directory, body):
    path = os.path.join(directory, "probe")
    with open(path, "w") as script:
        script.write("#!/bin/sh\n" + body + "\n")
    os.chmod(path, 0o755)
    return path


class ProbeTest(unittest.TestCase):
    def answer(self, **env):
        status, out = bash('probe_32bit_execution; echo "$HOST_RUNS_32BIT|$HOST_32BIT_PROBE"', **env)
        self.assertEqual(0, status)
        return out.strip().split("|", 1)

    def test_forced_answer_is_cannot_without_trying(self):
        runs, seen = self.answer(SEEKWELL_FORCE_NO_32BIT="1")
        self.assertEqual("no", runs)
        self.assertIn("forced by SEEKWELL_FORCE_NO_32BIT=1", seen)

    def test_only_the_exit_status_42_counts_as_can(self):
        with tempfile.TemporaryDirectory() as directory:
            for body, expected in [("exit 42", "yes"), ("exit 0", "no"), ("exit 126", "no"),
                                   ("kill -SEGV $$", "no")]:
                with self.subTest(body=body):
                    runs, seen = self.answer(SEEKWELL_32BIT_PROBE_PROGRAM=program(directory, body))
                    self.assertEqual(expected, runs, seen)

    def test_a_probe_that_hangs_is_ended_by_its_deadline(self):
        with tempfile.TemporaryDirectory() as directory:
            started = time.monotonic()
            runs, seen = self.answer(SEEKWELL_32BIT_PROBE_PROGRAM=program(directory, "exec sleep 60"),
                                     SEEKWELL_32BIT_PROBE_SECONDS="1")
            self.assertLess(time.monotonic() - started, 10)
        self.assertEqual("no", runs)
        self.assertIn("did not end within 1 s", seen)

    def test_the_built_in_probe_is_a_32_bit_program_the_kernel_judges(self):
        # Whatever this host answers, the program tried is an ELF32 i386 executable and its
        # verdict is reported in words.
        with tempfile.TemporaryDirectory() as directory:
            path = os.path.join(directory, "exit42")
            status, _ = bash(f'write_32bit_probe "{path}"')
            self.assertEqual(0, status)
            with open(path, "rb") as elf:
                header = elf.read()
        self.assertEqual(b"\x7fELF\x01\x01\x01", header[:7])
        self.assertEqual(3, int.from_bytes(header[18:20], "little"))  # EM_386
        self.assertEqual(96, len(header))
        runs, seen = self.answer()
        self.assertIn(runs, ("yes", "no"))
        self.assertTrue(seen.startswith("probe: "), seen)


class LegsTest(unittest.TestCase):
    def closing(self, runs_32bit, outcomes):
        """Plans the legs for a host that can (or cannot) run 32-bit code, records each
        leg's exit status from `outcomes` (legs missing from it are never reached) and
        returns the report's status and lines."""
        records = "; ".join(f"leg_runs {leg} && record_leg {leg} {status}" for leg, status in outcomes.items())
        status, out = bash(f'HOST_RUNS_32BIT={runs_32bit}; HOST_32BIT_PROBE="probe: seen"; plan_win_legs; '
                           f'{records or ":"}; report_win_legs')
        return status, out

    def line(self, out, title_start):
        return next(line for line in out.splitlines() if line.strip().startswith(title_start))

    def test_host_without_32_bit_runs_the_whole_suite_in_the_64_bit_leg(self):
        status, out = self.closing("no", {"static": 0, "64-bit": 0})
        self.assertEqual(0, status, out)
        self.assertIn(CANNOT + " (probe: seen)", self.line(out, "32-bit prefix"))
        self.assertIn(CANNOT + " (probe: seen)", self.line(out, "64-bit prefix, i686 build under WoW64"))
        self.assertIn("(whole Windows suite):", self.line(out, "64-bit prefix, x86_64 build"))
        self.assertTrue(self.line(out, "64-bit prefix, x86_64 build").endswith("passed"))
        self.assertTrue(self.line(out, "import gate").endswith("passed"))

    def test_host_with_32_bit_runs_all_three_and_the_64_bit_subset(self):
        status, out = self.closing("yes", {"static": 0, "32-bit": 0, "wow64": 0, "64-bit": 0})
        self.assertEqual(0, status, out)
        self.assertNotIn(CANNOT, out)
        subset = self.line(out, "64-bit prefix, x86_64 build")
        self.assertIn("(guard and road):", subset)
        self.assertTrue(subset.endswith("passed"))

    def test_exit_status_is_a_pass_only_when_every_leg_that_could_run_passed(self):
        rows = [
            ("64-bit leg failed", "no", {"static": 0, "64-bit": 1}),
            ("the gate failed", "no", {"static": 1, "64-bit": 0}),
            ("the 32-bit leg failed", "yes", {"static": 0, "32-bit": 2, "wow64": 0, "64-bit": 0}),
            ("the WoW64 leg failed", "yes", {"static": 0, "32-bit": 0, "wow64": 8, "64-bit": 0}),
            ("the 64-bit subset failed", "yes", {"static": 0, "32-bit": 0, "wow64": 0, "64-bit": 1}),
            ("a planned leg never reached", "yes", {"static": 0, "32-bit": 0, "64-bit": 0}),
            ("the whole suite never reached", "no", {"static": 0}),
        ]
        for name, runs, outcomes in rows:
            with self.subTest(name):
                status, out = self.closing(runs, outcomes)
                self.assertEqual(1, status, out)
                self.assertTrue("failed" in out or "no leg ran" in out, out)


class PrefixTest(unittest.TestCase):
    def test_missing_wine_fails_and_names_what_is_missing(self):
        with tempfile.TemporaryDirectory() as directory:
            env = {"PATH": "/usr/bin/nonexistent:/bin", "WINEPREFIX": os.path.join(directory, "pfx"),
                   "HOME": directory}
            # Only the shell's own tools: no wine, wineboot or wineserver on this PATH.
            tools = os.path.join(directory, "bin")
            os.mkdir(tools)
            for tool in ("sh", "mkdir", "dirname", "tail", "rm", "env"):
                for folder in ("/usr/bin", "/bin"):
                    if os.path.exists(os.path.join(folder, tool)):
                        os.symlink(os.path.join(folder, tool), os.path.join(tools, tool))
                        break
            env["PATH"] = tools
            result = subprocess.run(["/bin/sh", os.path.join(TOOLS, "new-prefix.sh")], env=env,
                                    capture_output=True, text=True, timeout=60)
        self.assertNotEqual(0, result.returncode)
        self.assertIn("could not make a win32 prefix", result.stderr)
        self.assertIn("wine: missing", result.stderr)


if __name__ == "__main__":
    unittest.main()

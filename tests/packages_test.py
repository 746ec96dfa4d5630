#!/usr/bin/env python3
"""make check's set-up: tools/check_packages.sh installs or names the missing
Debian packages, tools/run_ctest.sh fails a run that skipped a test, and make
stops before configuring anything while a package is missing.

    packages_test.py SOURCE_DIR

Debian's dpkg-query and apt-get, and being root, are stood in for through the
script's BSBCHART_DPKG_QUERY, BSBCHART_APT_GET and BSBCHART_USER_ID.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

SOURCE = os.path.abspath(sys.argv[1])
del sys.argv[1:2]
CHECK = os.path.join(SOURCE, "tools", "check_packages.sh")
RUN_CTEST = os.path.join(SOURCE, "tools", "run_ctest.sh")


def listed_packages():
    """The script's list, which others extend: one package a line."""
    with open(CHECK) as f:
        text = f.read()
    return text.split('packages="', 1)[1].split('"', 1)[0].split()


NEEDED = listed_packages()

FAKE_DPKG_QUERY = """#!/bin/sh
# dpkg-query -W -f=FORMAT PACKAGE: the status of PACKAGE in $FAKE_STATUS.
package=$3
line=$(grep "^$package " "$FAKE_STATUS") || { echo "dpkg-query: no packages found matching $package" >&2; exit 1; }
printf '%s' "${line#* }"
"""

FAKE_APT_GET = """#!/bin/sh
echo "$* DEBIAN_FRONTEND=${DEBIAN_FRONTEND:-}" >>"$FAKE_APT_LOG"
exit ${FAKE_APT_STATUS:-0}
"""


class PackagesTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="bsbchart-packages-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)
        self.dpkg = self.script("dpkg-query", FAKE_DPKG_QUERY)
        self.apt = self.script("apt-get", FAKE_APT_GET)
        self.status = os.path.join(self.dir, "status")
        self.apt_log = os.path.join(self.dir, "apt.log")

    def script(self, name, text):
        path = os.path.join(self.dir, name)
        with open(path, "w") as f:
            f.write(text)
        os.chmod(path, 0o755)
        return path

    def installed(self, statuses):
        """statuses: package -> dpkg's abbreviated status ("ii ", "rc ", ...)."""
        with open(self.status, "w") as f:
            for package, status in statuses.items():
                f.write(f"{package} {status}\n")

    def environment(self, root, apt_status=0):
        outer = {k: v for k, v in os.environ.items()
                 if k not in ("MAKEFLAGS", "MAKELEVEL", "MFLAGS", "DEBIAN_FRONTEND")}
        return dict(outer, BSBCHART_DPKG_QUERY=self.dpkg, BSBCHART_APT_GET=self.apt,
                    BSBCHART_USER_ID="0" if root else "1000", FAKE_STATUS=self.status,
                    FAKE_APT_LOG=self.apt_log, FAKE_APT_STATUS=str(apt_status))

    def check(self, *extra, root=False, apt_status=0):
        return subprocess.run(["sh", CHECK, *extra], capture_output=True, encoding="utf-8",
                              env=self.environment(root, apt_status))

    def apt_calls(self):
        if not os.path.exists(self.apt_log):
            return []
        with open(self.apt_log) as f:
            return f.read().splitlines()

    def test_the_list_holds_what_the_tests_need(self):
        for package in ["cmake", "g++", "libgtest-dev", "libgmock-dev", "python3", "python3-pil"]:
            self.assertIn(package, NEEDED)

    def test_what_a_run_does(self):
        everything = {package: "ii " for package in NEEDED}
        without_pillow = dict(everything, **{"python3-pil": "rc "})  # removed, its files kept
        without_two = {p: s for p, s in everything.items() if p not in ("libgtest-dev", "python3-pil")}
        cases = [
            # (installed, extra packages, root, apt-get's status) -> status, last stderr line, apt-get calls
            (everything, [], False, 0, 0, None, []),
            (everything, [], True, 0, 0, None, []),
            (without_pillow, [], False, 0, 1, "apt-get install python3-pil", []),
            (without_two, [], False, 0, 1, "apt-get install libgtest-dev python3-pil", []),
            (everything, ["valgrind"], False, 0, 1, "apt-get install valgrind", []),
            (without_two, [], True, 0, 0, None,
             ["update DEBIAN_FRONTEND=noninteractive", "install -y libgtest-dev python3-pil DEBIAN_FRONTEND=noninteractive"]),
            (everything, ["valgrind", "clang"], True, 0, 0, None,
             ["update DEBIAN_FRONTEND=noninteractive", "install -y valgrind clang DEBIAN_FRONTEND=noninteractive"]),
            # An install that fails fails the check.
            (without_pillow, [], True, 100, 100, None, ["update DEBIAN_FRONTEND=noninteractive"]),
        ]
        for installed, extra, root, apt_status, status, line, calls in cases:
            with self.subTest(installed=sorted(set(NEEDED) - {p for p, s in installed.items() if s == "ii "}),
                              extra=extra, root=root, apt_status=apt_status):
                if os.path.exists(self.apt_log):
                    os.remove(self.apt_log)
                self.installed(installed)
                result = self.check(*extra, root=root, apt_status=apt_status)
                self.assertEqual(result.returncode, status, result)
                self.assertEqual(result.stdout, "")
                if line:
                    self.assertEqual(result.stderr.splitlines()[-1], line)
                if status == 0 and not calls:
                    self.assertEqual(result.stderr, "")
                self.assertEqual(self.apt_calls(), calls)

    def test_make_stops_before_configuring(self):
        self.installed({package: "ii " for package in NEEDED if package != "python3-pil"})
        build = os.path.join(self.dir, "build")
        for target in ["check", "demo", "build"]:
            with self.subTest(target=target):
                result = subprocess.run(["make", "-C", SOURCE, target, f"BUILD={build}"], capture_output=True,
                                        encoding="utf-8", env=self.environment(root=False))
                self.assertNotEqual(result.returncode, 0)
                self.assertIn("\napt-get install python3-pil\n", result.stderr)
                self.assertFalse(os.path.exists(build))
        # A library-only build does not ask for test packages.
        result = subprocess.run(["make", "-n", "-C", SOURCE, "build", f"BUILD={build}",
                                 "CMAKE_FLAGS=-DBSBCHART_TESTS=OFF -DBSBCHART_TOOLS=OFF"],
                                capture_output=True, encoding="utf-8", env=self.environment(root=False))
        self.assertEqual(result.returncode, 0, result)
        self.assertNotIn("check_packages", result.stdout)

    def test_a_skipped_test_fails_the_run(self):
        project = os.path.join(self.dir, "project")
        os.mkdir(project)
        with open(os.path.join(project, "CMakeLists.txt"), "w") as f:
            f.write("cmake_minimum_required(VERSION 3.16)\nproject(p NONE)\nenable_testing()\n"
                    "add_test(NAME passes COMMAND true)\n"
                    "add_test(NAME needs_pillow COMMAND sh -c \"exit $ENV{OUTCOME}\")\n"
                    "set_tests_properties(needs_pillow PROPERTIES SKIP_RETURN_CODE 77)\n")
        for outcome, status, message in [("0", 0, None), ("77", 1, "were skipped, which counts as failing: "
                                                                   "needs_pillow"), ("3", 8, None)]:
            with self.subTest(outcome=outcome):
                build = os.path.join(self.dir, "build-" + outcome)
                subprocess.run(["cmake", "-S", project, "-B", build], check=True, capture_output=True,
                               env=dict(os.environ, OUTCOME=outcome))
                result = subprocess.run(["sh", RUN_CTEST, build, "1"], capture_output=True, encoding="utf-8")
                self.assertEqual(result.returncode, status, result)
                self.assertIn("needs_pillow", result.stdout)  # ctest's own output is shown
                if message:
                    self.assertIn(message, result.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=1)

#!/usr/bin/env python3
"""What Windows shows of the built files without running them: the program's
icon in every size the shell asks for, its version information (Explorer's
Properties) and its application manifest; the installer's icon and the rights
its manifest asks for.

    resources.py PROGRAM.exe INSTALLER.exe VERSION

end_to_end.py uses icon_sizes() for the installed uninstaller.
"""

import re
import subprocess
import sys
import tempfile

ICON_SIZES = [16, 24, 32, 48, 256]


def resource(path, kind, *options):
    """The first resource of `kind` (a number) in `path`, as wrestool gives it."""
    return subprocess.run(["wrestool", "-x", *options, "-t", str(kind), path],
                          capture_output=True).stdout


def icon_sizes(path):
    """The square sizes of the first icon in `path`, smallest first."""
    with tempfile.NamedTemporaryFile(suffix=".ico") as icon:
        icon.write(resource(path, 14))
        icon.flush()
        listed = subprocess.run(["icotool", "-l", icon.name], capture_output=True, text=True)
    return sorted({int(w) for w, h in re.findall(r"--width=(\d+) --height=(\d+)", listed.stdout)
                   if w == h})


def main():
    program, installer, version = sys.argv[1:4]
    failures = []

    def check(condition, what):
        print(("ok   " if condition else "FAIL ") + what, flush=True)
        if not condition:
            failures.append(what)

    for path, name in [(program, "talvern.exe"), (installer, "the installer")]:
        sizes = icon_sizes(path)
        check(sizes == ICON_SIZES, f"{name}'s icon at {ICON_SIZES} px (has {sizes})")

    # Version values follow their key and the NULs up to a four-byte boundary;
    # None: any text will do.
    strings = resource(program, 16, "--raw").decode("utf-16-le", errors="replace")
    for key, expected in {"ProductName": "TALVERN", "FileVersion": version,
                          "ProductVersion": version, "OriginalFilename": "talvern.exe",
                          "FileDescription": None, "LegalCopyright": None,
                          "CompanyName": None}.items():
        found = re.search(re.escape(key) + r"\x00+([^\x00]+)\x00", strings)
        value = found.group(1) if found else None
        check(value is not None and expected in (None, value),
              f"version information {key} {value!r}")

    manifest = resource(program, 24, "--raw").decode("utf-8", errors="replace")
    for what, pattern in [
            ("supports Windows 10 and 11", r"supportedOS Id=\"\{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a\}\""),
            ("per-monitor DPI aware (v2), as Qt sets it", r"<dpiAwareness[^>]*>\s*PerMonitorV2\b"),
            ("long paths allowed", r"<longPathAware[^>]*>\s*true\s*<"),
            ("runs as the user who starts it", r"level=\"asInvoker\"")]:
        check(re.search(pattern, manifest) is not None, f"the manifest: {what}")

    # Highest available: no prompt for rights a user does not have, so anyone
    # can install for themselves; an administrator is asked, to install for all.
    manifest = resource(installer, 24, "--raw").decode("utf-8", errors="replace")
    level = re.search(r"requestedExecutionLevel\s+level=\"(\w+)\"", manifest)
    level = level.group(1) if level else None
    check(level == "highestAvailable",
          f"the installer's manifest does not require administrator rights ({level})")

    print(f"{len(failures)} resource check(s) failed" if failures
          else "every resource check passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

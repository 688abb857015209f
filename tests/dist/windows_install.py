#!/usr/bin/env python3
"""What a Windows user downloads: the zip's contents, then the installer run silently in
the build's Wine prefix, the installed program finding its words in its own folder, and
the uninstaller taking away exactly what was installed.

windows_install.py BUILD SOURCE VERSION
"""
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unicodedata
import zipfile

UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Brumlis"
# wine-run bounds each run itself; this bounds a wine-run that hangs before Wine starts.
LIMIT = 150

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)
    return condition


def data_files(source):
    """Every file of data/text and data/sound, as the zip and the installer name them."""
    data = source / "data"
    return {
        p.relative_to(data).as_posix()
        for folder in ("text", "sound")
        for p in (data / folder).rglob("*")
        if p.is_file()
    }


def check_zip(build, source, version):
    top = f"Brumlis-{version}/"
    path = build / f"brumlis-{version}-windows-x64.zip"
    with zipfile.ZipFile(path) as archive:
        entries = [e for e in archive.infolist() if not e.is_dir()]
        names = [e.filename for e in entries]
        check(len(names) == len(set(names)), "the zip names no file twice")
        check(all(n.startswith(top) for n in names), f"every file of the zip is under {top}")
        inside = {n[len(top):] for n in names}
        expected = data_files(source) | {
            "brumlis.exe", "brumlis-cli.exe", "LICENSE.txt", "README.txt"}
        check(inside == expected,
              f"the zip holds exactly the programs, the data, LICENSE.txt and README.txt "
              f"(missing {sorted(expected - inside)}, extra {sorted(inside - expected)})")
        for entry in entries:
            if not entry.filename.isascii():
                # Without the flag Windows reads the name in the OEM code page.
                check(entry.flag_bits & 0x800, f"{entry.filename} is marked as UTF-8")
                check(unicodedata.is_normalized("NFC", entry.filename),
                      f"{entry.filename} is stored in NFC")
        for text in ("LICENSE.txt", "README.txt"):
            if text in inside:
                body = archive.read(top + text)
                check(body.count(b"\n") > 0 and body.count(b"\n") == body.count(b"\r\n"),
                      f"{text} has CR LF line ends")
        if "LICENSE.txt" in inside:
            check(archive.read(top + "LICENSE.txt").replace(b"\r\n", b"\n")
                  == (source / "LICENSE").read_bytes(), "LICENSE.txt is the LICENSE")


class Wine:
    def __init__(self, source, prefix, cwd):
        self.tool = source / "tools" / "wine-run"
        self.prefix = prefix
        self.cwd = cwd

    def run(self, *args, check_status=True):
        result = subprocess.run([self.tool, "--prefix", self.prefix, *args],
                                cwd=self.cwd, capture_output=True, timeout=LIMIT)
        if check_status and result.returncode != 0:
            sys.exit(f"{' '.join(map(str, args))} failed ({result.returncode}): "
                     f"{result.stderr.decode(errors='replace')}")
        return result

    def variable(self, name):
        value = self.run("cmd", "/c", f"echo %{name}%").stdout.decode().strip()
        if not value[1:3] == ":\\" or value[0].upper() != "C":
            sys.exit(f"%{name}% is {value!r}, not a folder on C:")
        return value

    def unix(self, windows_path):
        return self.prefix / "drive_c" / windows_path[3:].replace("\\", "/")


def check_installer(build, source, version):
    with tempfile.TemporaryDirectory() as empty:
        # A working directory without text\: the installed program must use its own folder.
        wine = Wine(source, build / "wine-prefix", empty)
        install = wine.variable("LOCALAPPDATA") + r"\Programs\Brumlis"
        shortcut = wine.unix(wine.variable("APPDATA")) / \
            "Microsoft/Windows/Start Menu/Programs/Brumlis.lnk"
        folder = wine.unix(install)
        # What an earlier run that failed half way left.
        shutil.rmtree(folder, ignore_errors=True)
        wine.run("reg", "delete", UNINSTALL_KEY, "/f", check_status=False)

        wine.run(build / f"brumlis-{version}-setup.exe", "/S")
        installed = {p.relative_to(folder).as_posix() for p in folder.rglob("*") if p.is_file()}
        expected = data_files(source) | {"brumlis.exe", "brumlis-cli.exe", "LICENSE.txt",
                                         "README.txt", "uninstall.exe"}
        check(installed == expected,
              f"the installer puts exactly its files in {install} "
              f"(missing {sorted(expected - installed)}, extra {sorted(installed - expected)})")
        check(shortcut.is_file(), "the Start menu has Brumlis.lnk")

        values = {}
        for line in wine.run("reg", "query", UNINSTALL_KEY).stdout.decode().splitlines():
            parts = line.split(None, 2)
            if len(parts) == 3 and parts[1].startswith("REG_"):
                values[parts[0]] = parts[2].strip()
        for name, value in (("DisplayName", "Brumlis"), ("DisplayVersion", version),
                            ("InstallLocation", install),
                            ("UninstallString", f'"{install}\\uninstall.exe"'),
                            ("QuietUninstallString", f'"{install}\\uninstall.exe" /S'),
                            ("NoModify", "0x1"), ("NoRepair", "0x1")):
            check(values.get(name) == value,
                  f"the uninstall key has {name} {value} ({values.get(name)!r})")

        mine = wine.run(install + r"\brumlis-cli.exe", "generate", "--fro", "1").stdout
        theirs = wine.run(build / "bin" / "brumlis-cli.exe", "--data", f"Z:{source / 'data'}",
                          "generate", "--fro", "1").stdout
        check(mine and mine == theirs,
              f"the installed brumlis-cli finds the words in its own folder "
              f"({mine!r} against {theirs!r})")

        # A list of the user's own beside the installed ones stays, and so does its folder.
        (folder / "text" / "egen.txt").write_text("min\n")
        # Run in place (_?=), the uninstaller ends before wine-run does, instead of handing
        # over to a copy of itself in %TEMP%; in place it cannot delete itself.
        wine.run(install + r"\uninstall.exe", "/S", f"_?={install}")
        left = {p.relative_to(folder).as_posix() for p in folder.rglob("*")}
        check(left == {"text", "text/egen.txt", "uninstall.exe"},
              f"the uninstaller leaves only what it did not install ({sorted(left)})")
        check(not shortcut.exists(), "the uninstaller takes away the shortcut")
        check(wine.run("reg", "query", UNINSTALL_KEY, check_status=False).returncode != 0,
              "the uninstaller takes away the uninstall key")
        shutil.rmtree(folder, ignore_errors=True)


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    build, source = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    version = sys.argv[3]
    check_zip(build, source, version)
    check_installer(build, source, version)
    if failures:
        sys.exit(f"{len(failures)} checks failed")
    print("the zip and the installer hold what they should")


if __name__ == "__main__":
    main()

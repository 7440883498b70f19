#!/usr/bin/python3
"""The Windows installer under Wine, in a fresh prefix of its own: a silent per-user install
puts the programs, the file types, the Explorer handlers, the PATH entry and the Apps & features
entry in place; the registered open command opens a .psu in marrowin.exe; the silent uninstall
leaves no file and no registry entry of ours and gives back what another program had.

The installer is made here with makensis from the build folder. A program or DLL that the build
did not make (the card window, the Explorer handler) gets a stand-in, so that its registration is
checked all the same.

Environment: MARROWIN_BUILD_DIR, MARROWIN_NSI, MARROWIN_SOURCE_DIR, MARROWIN_VERSION,
MARROWIN_DEMO; DISPLAY for an X server to share (a private Xvfb otherwise).
Exit 77 (skipped) when Wine, makensis or Xvfb is missing."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77
THUMBNAIL_CLSID = "{D45D5648-B3DB-44A1-B940-6CBA5DF671A0}"
PROPERTY_CLSID = "{BCC7219A-892C-4A83-8A05-88A17FE45DD5}"
THUMBNAIL_SHELLEX = "{e357fccd-a995-4576-b01f-234630154e96}"
PROGIDS = {".psu": "Marrowin.SaveArchive", ".ps2": "Marrowin.MemoryCard",
           ".mc2": "Marrowin.MemoryCard", ".max": "Marrowin.Save", ".cbs": "Marrowin.Save",
           ".sps": "Marrowin.Save", ".xps": "Marrowin.Save", ".psv": "Marrowin.Save"}
OPENED_BY = {"Marrowin.SaveArchive": "marrowin.exe", "Marrowin.MemoryCard": "marrowin-cards.exe",
             "Marrowin.Save": "marrowin-cards.exe"}
INSTALLED = ["marrowin.exe", "marrowin-cli.exe", "marrowin-cards.exe", "marrowin-shell.dll",
             "README.md", "LICENSE.txt", "uninstall.exe"]
CLASSES = r"HKCU\Software\Classes"
HANDLERS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\PropertySystem\PropertyHandlers"
UNINSTALL = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Marrowin"
# Another program's association, there before us and to be there after us.
OTHER_MAX = "OtherTool.MaxSave"
USER_PATH = r"C:\tools;C:\more tools"
# Wine's menu builder would write the Start menu entries into this machine's own menus.
DLL_OVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d"
OUR_NAMES = re.compile(r"marrowin|%s|%s|\\\.(psu|ps2|mc2|max|cbs|sps|xps|psv)\b|\\environment\b"
                       % (re.escape(THUMBNAIL_CLSID), re.escape(PROPERTY_CLSID)), re.I)


class Wine:
    def __init__(self, prefix, display):
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEARCH="win64",
                        WINEDLLOVERRIDES=DLL_OVERRIDES, DISPLAY=display)

    def run(self, *args, timeout=180, check=True):
        # Files, not pipes: Wine's own processes that a command starts outlive it, and would
        # hold a pipe open until the server ends.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            code = subprocess.run(["wine", *args], env=self.env, stdout=out, stderr=err,
                                  timeout=timeout).returncode
            out.seek(0)
            err.seek(0)
            done = subprocess.CompletedProcess(args, code, out.read(), err.read())
        if check and done.returncode != 0:
            raise AssertionError("wine %s: exit %d\n%s" % (" ".join(args), done.returncode,
                                                           done.stderr.decode(errors="replace")))
        return done

    def wait(self, timeout=120):
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=timeout)

    def query(self, key):
        """{key: {value name: data}} for the key and every key below it; {} when it is not there."""
        done = self.run("reg", "query", key, "/s", check=False)
        if done.returncode != 0:
            return {}
        keys, current = {}, None
        for line in done.stdout.decode("utf-8", errors="replace").splitlines():
            if line.startswith("HKEY_"):
                current = keys.setdefault(line.strip().lower(), {})
                continue
            value = re.match(r"^    (.*?)    (REG_\w+)    ?(.*)$", line)
            if value and current is not None:
                name = "" if value.group(1) == "(Default)" else value.group(1).lower()
                current[name] = value.group(3)
        return keys

    def value(self, key, name=""):
        full = key.replace("HKCU", "HKEY_CURRENT_USER").replace("HKLM", "HKEY_LOCAL_MACHINE")
        full = full.lower()
        return self.query(key).get(full, {}).get(name.lower())

    def export(self, key, path):
        """The key as {key: {value line}}, from regedit's export."""
        self.run("regedit", "/E", windows_path(path), key)
        text = open(path, "rb").read().decode("utf-16")
        keys, current = {}, None
        for line in text.replace("\\\r\n  ", "").splitlines():
            if line.startswith("[") and line.endswith("]"):
                current = keys.setdefault(line[1:-1].lower(), set())
            elif line and current is not None and not line.startswith("Windows Registry"):
                current.add(line)
        return keys

    def unix_path(self, path):
        with tempfile.TemporaryFile() as out:
            subprocess.run(["winepath", "-u", path], env=self.env, stdout=out,
                           stderr=subprocess.DEVNULL, timeout=60, check=True)
            out.seek(0)
            return out.read().decode().strip()


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def registry_changes(before, after):
    """Keys and values that differ between two exports, as readable lines."""
    changes = []
    for key in sorted(set(before) | set(after)):
        old, new = before.get(key), after.get(key)
        if old is None:
            changes.append("added key " + key)
        elif new is None:
            changes.append("removed key " + key)
        elif old != new:
            changes += ["%s: lost %s" % (key, v) for v in sorted(old - new)]
            changes += ["%s: gained %s" % (key, v) for v in sorted(new - old)]
    return changes


def payload(build, folder):
    """The build's programs in a folder of their own, stand-ins for what it did not make."""
    for name in ("marrowin.exe", "marrowin-cli.exe"):
        shutil.copy(os.path.join(build, name), folder)
    for name in ("marrowin-cards.exe", "marrowin-shell.dll"):
        if os.path.exists(os.path.join(build, name)):
            shutil.copy(os.path.join(build, name), folder)
        else:
            print("stand-in for " + name)
            shutil.copy(os.path.join(build, "marrowin-cli.exe"), os.path.join(folder, name))


def start_display():
    if os.environ.get("DISPLAY"):
        return None, os.environ["DISPLAY"]
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "800x600x24",
                             "-nolisten", "tcp"], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, pass_fds=(write_end,))
    os.close(write_end)
    with os.fdopen(read_end) as announced:
        number = announced.readline().strip()
    assert number.isdigit(), "Xvfb did not start"
    return xvfb, ":" + number


def wait_for(predicate, timeout, what):
    end = time.time() + timeout
    while time.time() < end:
        value = predicate()
        if value:
            return value
        time.sleep(0.25)
    raise AssertionError("timed out waiting for " + what)


def check_installed(wine, instdir_unix, shell_dll_windows):
    for name in INSTALLED:
        assert os.path.isfile(os.path.join(instdir_unix, name)), name + " not installed"
    classes = wine.query(CLASSES)
    handlers = wine.query(HANDLERS)

    def at(tree, root, path):
        return tree.get((root + "\\" + path).replace("HKCU", "HKEY_CURRENT_USER").lower(), {})

    for ext, progid in PROGIDS.items():
        assert at(classes, CLASSES, ext).get("") == progid, (ext, at(classes, CLASSES, ext))
        assert progid.lower() in at(classes, CLASSES, ext + r"\OpenWithProgids"), ext
        thumbnail = at(classes, CLASSES, ext + "\\ShellEx\\" + THUMBNAIL_SHELLEX)
        assert thumbnail.get("") == THUMBNAIL_CLSID, (ext, thumbnail)
        assert at(handlers, HANDLERS, ext).get("") == PROPERTY_CLSID, ext
    # The ProgID that .max had before is kept for the uninstaller.
    assert at(classes, CLASSES, ".max").get("marrowin.previous") == OTHER_MAX
    for progid, exe in OPENED_BY.items():
        command = at(classes, CLASSES, progid + r"\shell\open\command").get("", "")
        assert command.lower().endswith(('\\%s" "%%1"' % exe).lower()), (progid, command)
        icon = at(classes, CLASSES, progid + r"\DefaultIcon").get("", "")
        assert exe in icon.lower(), (progid, icon)
    for clsid in (THUMBNAIL_CLSID, PROPERTY_CLSID):
        server = at(classes, CLASSES, "CLSID\\%s\\InprocServer32" % clsid)
        assert server.get("", "").lower() == shell_dll_windows.lower(), (clsid, server)
        assert server.get("threadingmodel") == "Apartment", (clsid, server)

    entry = wine.query(UNINSTALL).get(UNINSTALL.replace("HKCU", "HKEY_CURRENT_USER").lower(), {})
    for name in ("displayname", "displayversion", "publisher", "uninstallstring",
                 "quietuninstallstring", "installlocation", "estimatedsize"):
        assert entry.get(name), "Uninstall entry lacks " + name
    assert entry["displayversion"] == os.environ["MARROWIN_VERSION"], entry
    assert entry["quietuninstallstring"].endswith("/S"), entry
    assert entry["nomodify"] == entry["norepair"] == "0x1", entry
    assert int(entry["estimatedsize"], 16) > 100, "EstimatedSize is in KiB"


def marrowin_windows(env):
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "Marrowin$"],
                           env=env, capture_output=True, timeout=30)
    windows = {}
    for window in found.stdout.split():
        name = subprocess.run(["xdotool", "getwindowname", window], env=env,
                              capture_output=True, timeout=30).stdout.decode().strip()
        if name == "Marrowin" or name.endswith(" - Marrowin"):
            windows[window] = name
    return windows


def open_through_registry(wine, demo, work):
    """Runs the .psu's registered open command: marrowin.exe's window appears showing the save
    (its caption names it), and closes."""
    command = wine.value(CLASSES + r"\Marrowin.SaveArchive\shell\open\command")
    save = os.path.join(work, "demo.psu")
    shutil.copy(demo, save)
    args = [part.strip('"') for part in re.findall(r'"[^"]*"|\S+', command)]
    args = [windows_path(save) if part == "%1" else part for part in args]
    assert args[0].lower().endswith("\\marrowin.exe"), command
    # The shared X server may show another test's window of the same name.
    earlier = marrowin_windows(wine.env)
    app = subprocess.Popen(["wine", *args], env=wine.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
    try:
        def appeared():
            return {w: n for w, n in marrowin_windows(wine.env).items()
                    if w not in earlier and n.endswith(" - Marrowin")}

        print("window: %s" % wait_for(appeared, 120, "marrowin.exe's window showing the save"))
        # taskkill without /f asks the window to close, as the close box does.
        wine.run("taskkill", "/im", "marrowin.exe", check=False)
        assert app.wait(timeout=60) == 0, "marrowin.exe did not end well when closed"
    finally:
        if app.poll() is None:
            app.kill()
            app.wait()


def install_for_all_users(wine, setup):
    """/ALLUSERS: Program Files and HKLM; and a PATH too long for the installer to read whole is
    left as it is rather than written back cut."""
    long_path = ";".join(r"C:\tools\folder%04d" % i for i in range(80))
    wine.run("reg", "add", r"HKCU\Environment", "/v", "Path", "/t", "REG_EXPAND_SZ", "/d",
             long_path, "/f")
    wine.run(setup, "/S", "/ALLUSERS", "/PATH", timeout=300)
    machine = UNINSTALL.replace("HKCU", "HKLM")
    instdir = wine.value(machine, "InstallLocation")
    assert instdir and instdir.lower().endswith(r"program files\marrowin"), instdir
    assert not wine.query(UNINSTALL), "an all-users install wrote the per-user entry"
    instdir_unix = wine.unix_path(instdir)
    for name in INSTALLED:
        assert os.path.isfile(os.path.join(instdir_unix, name)), name + " not installed"
    assert wine.value(r"HKLM\Software\Classes\.psu") == "Marrowin.SaveArchive"
    assert wine.value(r"HKLM\Software\Classes\.sps\ShellEx\%s" % THUMBNAIL_SHELLEX) == THUMBNAIL_CLSID
    assert wine.value(r"HKLM\Software\Classes\CLSID\%s\InprocServer32" % THUMBNAIL_CLSID) == \
        instdir + r"\marrowin-shell.dll"
    assert wine.value(r"HKCU\Environment", "Path") == long_path, "a long PATH was changed"
    assert wine.value(machine, "AddedToPath") is None
    quiet = wine.value(machine, "QuietUninstallString")
    assert quiet.endswith("/S /ALLUSERS"), quiet
    uninstaller = re.match(r'"([^"]+)"\s*(.*)', quiet)
    wine.run(uninstaller.group(1), *uninstaller.group(2).split())
    wait_for(lambda: not os.path.exists(instdir_unix) and not wine.query(machine), 120,
             "the all-users uninstaller")
    assert wine.value(r"HKLM\Software\Classes\.psu") is None
    assert not wine.query(r"HKLM\Software\Classes\CLSID\%s" % THUMBNAIL_CLSID)
    assert wine.value(r"HKCU\Environment", "Path") == long_path


def main():
    for tool in ("wine", "wineboot", "wineserver", "makensis", "xdotool"):
        if not shutil.which(tool):
            print(tool + " missing")
            return SKIP
    if not os.environ.get("DISPLAY") and not shutil.which("Xvfb"):
        print("Xvfb missing")
        return SKIP
    build = os.environ["MARROWIN_BUILD_DIR"]
    prefix = os.path.join(build, "wineprefix-installer")
    xvfb, display = start_display()
    wine = Wine(prefix, display)
    try:
        with tempfile.TemporaryDirectory() as work:
            files = os.path.join(work, "payload")
            os.mkdir(files)
            payload(build, files)
            setup = os.path.join(work, "marrowin-setup-test.exe")
            subprocess.run(["makensis", "-V2", "-DVERSION=" + os.environ["MARROWIN_VERSION"],
                            "-DBUILD_DIR=" + files, "-DOUTFILE=" + setup,
                            "-DSOURCE_DIR=" + os.environ["MARROWIN_SOURCE_DIR"],
                            os.environ["MARROWIN_NSI"]], check=True, timeout=300)

            # A fresh prefix: nothing of an earlier run is taken for the installer's work.
            shutil.rmtree(prefix, ignore_errors=True)
            subprocess.run(["wineboot", "-i"], env=wine.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=300)
            wine.wait()
            # One server for the whole run: each wine command would start the prefix anew.
            subprocess.run(["wineserver", "-p"], env=wine.env, timeout=60)
            wine.run("reg", "add", CLASSES + r"\.max", "/ve", "/d", OTHER_MAX, "/f")
            wine.run("reg", "add", r"HKCU\Environment", "/v", "Path", "/t", "REG_EXPAND_SZ",
                     "/d", USER_PATH, "/f")
            scopes = {"HKEY_CURRENT_USER": "hkcu.reg", r"HKEY_LOCAL_MACHINE\Software": "hklm.reg"}
            before = {k: wine.export(k, os.path.join(work, "before-" + f)) for k, f in scopes.items()}

            wine.run(setup, "/S", "/PATH", timeout=300)
            instdir = wine.value(UNINSTALL, "InstallLocation")
            assert instdir and instdir.lower().endswith(r"\appdata\local\programs\marrowin"), instdir
            instdir_unix = wine.unix_path(instdir)
            check_installed(wine, instdir_unix, instdir + r"\marrowin-shell.dll")
            assert wine.value(r"HKCU\Environment", "Path") == USER_PATH + ";" + instdir
            profile = instdir[:instdir.lower().index(r"\appdata\local")]
            menu = wine.unix_path(profile + r"\AppData\Roaming\Microsoft\Windows\Start Menu"
                                  r"\Programs\Marrowin")
            assert os.path.isfile(os.path.join(menu, "Marrowin.lnk")), "no Start menu entry"
            version = wine.run(instdir + r"\marrowin-cli.exe", "--version")
            assert os.environ["MARROWIN_VERSION"] in version.stdout.decode(), version.stdout

            open_through_registry(wine, os.environ["MARROWIN_DEMO"], work)

            # A file of the user's own in the folder stays, and so does the folder.
            keep = os.path.join(instdir_unix, "notes.txt")
            open(keep, "w").write("mine")
            quiet = wine.value(UNINSTALL, "QuietUninstallString")
            uninstaller = re.match(r'"([^"]+)"\s*(.*)', quiet)
            wine.run(uninstaller.group(1), *uninstaller.group(2).split())
            # The uninstaller runs on from a copy of itself in the temporary folder.
            wait_for(lambda: not os.path.exists(os.path.join(instdir_unix, "uninstall.exe"))
                     and not wine.query(UNINSTALL), 120, "the uninstaller")
            assert sorted(os.listdir(instdir_unix)) == ["notes.txt"], os.listdir(instdir_unix)
            os.remove(keep)
            assert not os.path.exists(menu), "Start menu folder left"
            assert wine.value(CLASSES + r"\.max") == OTHER_MAX, "the other program lost .max"
            assert wine.value(r"HKCU\Environment", "Path") == USER_PATH

            install_for_all_users(wine, setup)
            wine.run("reg", "add", r"HKCU\Environment", "/v", "Path", "/t", "REG_EXPAND_SZ",
                     "/d", USER_PATH, "/f")

            after = {k: wine.export(k, os.path.join(work, "after-" + f)) for k, f in scopes.items()}
            ours = []
            for scope in scopes:
                changes = registry_changes(before[scope], after[scope])
                ours += [c for c in changes if OUR_NAMES.search(c)]
            assert not ours, "left in the registry:\n" + "\n".join(ours)
    finally:
        subprocess.run(["wineserver", "-k"], env=wine.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
        if xvfb:
            xvfb.terminate()
            xvfb.wait()
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""Checks the launcher's PE image for the properties its hardening relies on.

usage: pe_check.py EXE --arch i686|x86_64 --version A.B.C.D [--xref LINK_MAP]

Reads the image's own headers (scripts/pe_tools.py, on Debian's python3-pefile),
so it checks the bytes Windows loads, not what the build files say they asked for.
"""
import argparse
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import pe_tools  # noqa: E402  (found beside the other scripts)

MAX_SIZE = 1024 * 1024

# The loader takes a known DLL (HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs)
# from system32 whatever sits beside the exe; anything else, comctl32 included, is looked for in
# the exe's folder first. The lists are those keys on a fresh install (Microsoft's "Dynamic-link
# library search order" names the key; its values are not documented per release). ntdll is always
# mapped first.
KNOWN_DLLS_WINDOWS_7_SP1 = {
    "ntdll.dll", "advapi32.dll", "clbcatq.dll", "comdlg32.dll", "difxapi.dll", "gdi32.dll", "iertutil.dll",
    "imagehlp.dll", "imm32.dll", "kernel32.dll", "lpk.dll", "msctf.dll", "msvcrt.dll", "normaliz.dll", "nsi.dll",
    "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "sechost.dll", "setupapi.dll", "shell32.dll",
    "shlwapi.dll", "urlmon.dll", "user32.dll", "usp10.dll", "wininet.dll", "wldap32.dll", "ws2_32.dll",
}
KNOWN_DLLS_WINDOWS_10_11 = {
    "ntdll.dll", "advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll", "coml2.dll", "difxapi.dll",
    "gdi32.dll", "gdiplus.dll", "imagehlp.dll", "imm32.dll", "kernel32.dll", "msctf.dll", "msvcrt.dll",
    "normaliz.dll", "nsi.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "sechost.dll",
    "setupapi.dll", "shcore.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "wldap32.dll", "ws2_32.dll",
}
KNOWN_DLLS = {"Windows 7 SP1": KNOWN_DLLS_WINDOWS_7_SP1, "Windows 10 and 11": KNOWN_DLLS_WINDOWS_10_11}

# Exports of known DLLs that Windows 7 to 11 forward to a DLL that is not known. The loader
# resolves a forwarder when the importing exe starts, before any of its code runs, and searches
# for the target as for any other DLL: beside the exe first. Sources: Microsoft's docs of
# RtlGenRandom (SystemFunction036: "no associated import library"), RtlEncryptMemory and
# RtlDecryptMemory (SystemFunction040/041); rust-random/getrandom#314 and XTLS/go-win7#18 (a planted
# cryptbase.dll loaded through advapi32's forwarder); microsoft/terminal#11465 (why Windows
# Terminal loads RtlGenRandom from cryptbase itself). CryptoAPI moved into cryptsp.dll in Windows 7.
# (known DLL, export name pattern, where it is forwarded)
FORWARDED_OUT = [
    ("advapi32.dll", re.compile(r"SystemFunction0(36|40|41)"), "cryptbase.dll"),
    ("advapi32.dll", re.compile(r"Crypt\w+"), "cryptsp.dll"),
]


def loader_problems(imports):
    """Every static import must resolve inside the known DLLs on every supported Windows."""
    problems = []
    for dll, functions in imports:
        name = dll.lower()
        missing = [windows for windows, known in KNOWN_DLLS.items() if name not in known]
        if len(missing) == len(KNOWN_DLLS):
            problems.append(f"imports {dll}, which Windows would look for beside the exe")
        elif missing:
            problems.append(f"imports {dll}, not a known DLL on {' or '.join(missing)}: "
                            "Windows would look for it beside the exe there")
        for function in functions:
            for owner, pattern, target in FORWARDED_OUT:
                if name == owner and pattern.fullmatch(function):
                    problems.append(f"imports {dll}!{function}, which Windows forwards to {target}, "
                                    "not a known DLL: loaded from beside the exe before the program runs")
    return problems


# Functions that Windows 7 SP1 without later updates lacks. One imported
# statically stops the loader from starting the program at all there, before
# any of its code runs; look such functions up at run time instead.
NEWER_THAN_WINDOWS_7 = {
    # kernel32: DLL directories (KB2533623 only), Windows 8 and later
    "SetDefaultDllDirectories", "AddDllDirectory", "RemoveDllDirectory",
    "GetSystemTimePreciseAsFileTime", "CreateFile2", "CopyFile2", "GetCurrentThreadStackLimits",
    "SetThreadDescription", "GetThreadDescription", "WaitOnAddress", "WakeByAddressSingle",
    "WakeByAddressAll", "InitializeSynchronizationBarrier", "EnterSynchronizationBarrier",
    "DeleteSynchronizationBarrier", "PrefetchVirtualMemory", "SetProcessMitigationPolicy",
    "GetProcessMitigationPolicy", "GetOverlappedResultEx", "CreateFileMappingFromApp", "MapViewOfFileFromApp",
    "VirtualAllocFromApp", "GetCurrentPackageId", "GetCurrentPackageFullName", "GetPackageFamilyName",
    "SetThreadInformation", "GetThreadInformation", "SetProcessInformation", "GetProcessInformation",
    "GetSystemCpuSetInformation", "GetFirmwareType",
    # user32: DPI awareness (Windows 8.1 and 10) and pointer input (Windows 8)
    "SetProcessDpiAwarenessContext", "SetThreadDpiAwarenessContext", "GetThreadDpiAwarenessContext",
    "GetWindowDpiAwarenessContext", "GetAwarenessFromDpiAwarenessContext", "GetDpiFromDpiAwarenessContext",
    "AreDpiAwarenessContextsEqual", "IsValidDpiAwarenessContext", "GetDpiForWindow", "GetDpiForSystem",
    "GetSystemDpiForProcess", "GetSystemMetricsForDpi", "AdjustWindowRectExForDpi", "SystemParametersInfoForDpi",
    "EnableNonClientDpiScaling", "LogicalToPhysicalPointForPerMonitorDPI",
    "PhysicalToLogicalPointForPerMonitorDPI", "SetThreadDpiHostingBehavior", "EnableMouseInPointer",
    "GetPointerType", "GetPointerInfo",
}

# Functions the launcher must import: without them it misbehaves on Windows
# in ways Wine never shows.
REQUIRED_IMPORTS = {
    # the splash is held frozen while the product starts, often past the 5 s
    # after which Windows ghosts a window as not responding
    ("user32.dll", "DisableProcessWindowsGhosting"),
}


def missing_import_problems(imports):
    have = {(dll.lower(), function) for dll, functions in imports for function in functions}
    return [f"does not import {dll}!{function}" for dll, function in sorted(REQUIRED_IMPORTS - have)]


# The launcher reads no environment: nothing linked in (libjpeg's JPEGMEM and
# JSIMD_* switches were the way in) may ask for a variable.
ENVIRONMENT_READERS = {
    "getenv", "_wgetenv", "getenv_s", "_wgetenv_s", "_dupenv_s", "_wdupenv_s",
    "GetEnvironmentVariableA", "GetEnvironmentVariableW", "ExpandEnvironmentStringsA", "ExpandEnvironmentStringsW",
}


def environment_problems(imports):
    return [f"imports {dll}!{function}: the launcher reads no environment"
            for dll, functions in imports for function in functions if function in ENVIRONMENT_READERS]


# DLLs that Windows 7 SP1 does not ship (or ships only with later updates).
def newer_dll_problem(dll):
    name = dll.lower()
    if name == "shcore.dll":
        return f"imports {dll}, which Windows 7 SP1 lacks"
    if name.startswith(("api-ms-win-", "ext-ms-win-")):
        return f"imports {dll}, an API set: Windows 7 SP1 resolves few of them"
    if name == "ucrtbase.dll" or name.startswith(("vcruntime", "msvcp1")):
        return f"imports {dll}, a C runtime that Windows 7 SP1 lacks"
    return None


MACHINES = {"i686": (0x14C, 0x10B, "PE32 / Intel 386"), "x86_64": (0x8664, 0x20B, "PE32+ / x86-64")}

SCN_WRITE, SCN_EXECUTE, SCN_CODE = 0x80000000, 0x20000000, 0x00000020
DLL_HIGH_ENTROPY_VA, DLL_DYNAMIC_BASE, DLL_NX_COMPAT = 0x20, 0x40, 0x100
DLL_TERMINAL_SERVER_AWARE = 0x8000
FILE_RELOCS_STRIPPED = 0x1
DIR_BASERELOC = 5

EXPECTED_NAMES = {"FileDescription": "VELQUOR", "ProductName": "VELQUOR"}


def all_imports(image):
    """The import and delay-import tables, each delay-loaded DLL named so."""
    return pe_tools.imports(image) + \
        [(dll + " (delay-loaded)", functions) for dll, functions in pe_tools.delay_imports(image)]


def stack_protector_problems(data, xref_path):
    problems = []
    # The fail handler's message is only linked when code calls it (static link).
    if b"stack smashing detected" not in data:
        problems.append("no stack-protector failure handler linked in")
    if xref_path:
        # --cref lists each symbol with the objects that reference it; our own
        # objects (built by CMake) must read the canary.
        text = open(xref_path, encoding="utf-8", errors="replace").read()
        users, all_users = set(), set()
        for m in re.finditer(r"^_{1,3}stack_chk_(?:guard|fail)\s+\S+\n((?:[ \t]+\S+\n)*)", text, re.M):
            all_users.update(line.strip() for line in m.group(1).splitlines())
        # Our objects are named relative to the build; the toolchain's are absolute.
        users = {u for u in all_users if not u.startswith("/")}
        # Libraries the build compiled for itself (libjpeg) are reported, not failed.
        for archive in sorted(set(re.findall(r"(/\S*/deps/\S+?\.a)\(", text))):
            if not any(u.startswith(archive + "(") for u in all_users):
                print(f"  note: nothing from {archive} reads the stack canary")
        if not users:
            problems.append(f"no object of ours references __stack_chk_guard/__stack_chk_fail in {xref_path}")
        else:
            print(f"  {len(users)} objects of ours read the stack canary:", *sorted(users), sep="\n    ")
    return problems


def version_problems(image, version):
    """The version record and the manifest against the build's one version."""
    problems = []
    numbers = tuple(int(part) for part in version.split("."))
    record = pe_tools.version_record(image)
    if record is None:
        problems.append("no version resource")
    else:
        fixed, strings = record
        if fixed != (numbers, numbers):
            problems.append(f"fixed file/product version {fixed}, not {version}")
        want = dict(EXPECTED_NAMES, FileVersion=version, ProductVersion=version)
        for key, value in want.items():
            if strings.get(key) != value:
                problems.append(f"version string {key} is {strings.get(key)!r}, not {value!r}")
    manifest = pe_tools.resource(image, pe_tools.RT_MANIFEST)
    if manifest is None or b'level="asInvoker"' not in manifest:
        problems.append("no manifest asking to run asInvoker")
    else:
        identity = re.search(rb"<assemblyIdentity[^>]*\sversion=\"([^\"]*)\"", manifest)
        found = identity.group(1).decode("ascii", "replace") if identity else None
        if found != version:
            problems.append(f"manifest assemblyIdentity version is {found!r}, not {version!r}")
    return problems


def dpi_awareness_problems(image):
    """Drawn at the monitor's DPI by the program itself, with the classic controls."""
    problems = []
    manifest = pe_tools.resource(image, pe_tools.RT_MANIFEST) or b""
    dpi_awareness = re.search(rb"<dpiAwareness[^>]*>\s*([^<]*?)\s*</dpiAwareness>", manifest)
    if not dpi_awareness or dpi_awareness.group(1).split(b",")[0].strip() != b"PerMonitorV2":
        problems.append("the manifest does not declare per-monitor v2 DPI awareness first")
    if not re.search(rb"<dpiAware[^>]*>\s*true/pm\s*</dpiAware>", manifest):
        problems.append("the manifest does not declare dpiAware true/pm for Windows 8.1")
    if b"Microsoft.Windows.Common-Controls" in manifest:
        problems.append("the manifest asks for visual styles")
    return problems


def check(path, arch, xref, version):
    data = open(path, "rb").read()
    problems = []
    image = pe_tools.load(data)
    header, optional = image.FILE_HEADER, image.OPTIONAL_HEADER
    machine, magic, label = MACHINES[arch]
    if (header.Machine, optional.Magic) != (machine, magic):
        problems.append(f"not {label}: machine {header.Machine:#x}, optional header magic {optional.Magic:#x}")
    if optional.Subsystem != 2:
        problems.append(f"subsystem {optional.Subsystem}, not the GUI subsystem (2)")
    for flag, name in ((DLL_DYNAMIC_BASE, "DYNAMIC_BASE"), (DLL_NX_COMPAT, "NX_COMPAT"),
                       (DLL_TERMINAL_SERVER_AWARE, "TERMINAL_SERVER_AWARE")) + \
            (((DLL_HIGH_ENTROPY_VA, "HIGH_ENTROPY_VA"),) if arch == "x86_64" else ()):
        if not optional.DllCharacteristics & flag:
            problems.append(f"DllCharacteristics lacks {name}")
    # DYNAMIC_BASE without relocations means Windows cannot move the image.
    directories = optional.DATA_DIRECTORY
    relocations = directories[DIR_BASERELOC].Size if DIR_BASERELOC < len(directories) else 0
    if header.Characteristics & FILE_RELOCS_STRIPPED or not relocations:
        problems.append("no base relocations: the image cannot be relocated for ASLR")
    for section in pe_tools.sections(image):
        if section.flags & SCN_WRITE and section.flags & (SCN_EXECUTE | SCN_CODE):
            problems.append(f"section {section.name} is both writable and executable ({section.flags:#010x})")
    imported = all_imports(image)
    problems += loader_problems(imported)
    for dll, functions in imported:
        newer = newer_dll_problem(dll.split(" ")[0])
        if newer:
            problems.append(newer)
        for function in functions:
            if function in NEWER_THAN_WINDOWS_7:
                problems.append(f"imports {dll}!{function}, which Windows 7 SP1 lacks")
    problems += missing_import_problems(imported)
    problems += environment_problems(imported)
    if len(data) > MAX_SIZE:
        problems.append(f"{len(data)} bytes, more than {MAX_SIZE}")
    problems += stack_protector_problems(data, xref)

    problems += version_problems(image, version)
    problems += dpi_awareness_problems(image)
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("--arch", choices=sorted(MACHINES), required=True)
    parser.add_argument("--xref", help="linker map written with --cref")
    parser.add_argument("--version", required=True, help="the build's version, A.B.C.D")
    args = parser.parse_args()
    try:
        problems = check(args.exe, args.arch, args.xref, args.version)
    except pe_tools.UnreadableImage as error:
        problems = [f"unreadable PE image: {error}"]
    for problem in problems:
        print(f"FAIL {args.exe}: {problem}")
    if not problems:
        print(f"ok {args.exe}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
